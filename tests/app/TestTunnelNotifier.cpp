#include "ProgramRig.h"
#include "app/MainWindow.h"
#include "app/notify/NotificationClient.h"
#include "app/notify/TunnelNotifier.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

using Kind = TunnelNotifier::Kind;
using Status = TunnelStatus::Kind;
using Health = HealthState::Kind;

namespace {
const QString serviceAddress = u"https://four-random-words-here.trycloudflare.com"_qs;

/// The test's own notification service, on the private bus.
class NoticeBoard : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice
    {
        uint id;
        uint replaces;
        QString summary;
        QString body;
        QStringList actions;
    };

    NoticeBoard(const QString &address, QStringList capabilities)
        : m_bus(QDBusConnection::connectToBus(address, u"board"_qs))
        , m_capabilities(std::move(capabilities))
    {
        registered = m_bus.registerObject(NotificationClient::objectPath, this, QDBusConnection::ExportAllSlots)
            && m_bus.registerService(NotificationClient::serviceName);
    }
    ~NoticeBoard() override
    {
        m_bus.unregisterService(NotificationClient::serviceName);
        QDBusConnection::disconnectFromBus(u"board"_qs);
    }

    void invoke(uint id, const QString &key)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            NotificationClient::objectPath, NotificationClient::serviceName, u"ActionInvoked"_qs);
        signal << id << key;
        m_bus.send(signal);
    }

    bool registered = false;
    QList<Notice> notices;

public slots:
    QStringList GetCapabilities() { return m_capabilities; }
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
        const QStringList &actions, const QVariantMap &, int)
    {
        notices.append({ uint(notices.size() + 1), replaces, summary, body, actions });
        return notices.last().id;
    }

private:
    QDBusConnection m_bus;
    QStringList m_capabilities;
};

/// The program in-process: services "甲" and "乙<b>&</b>" aimed at a live local server, "丙" at a port
/// nothing listens on.
struct Program : ProgramRig
{
    Program()
        : ProgramRig(3)
    {
        const QStringList names { u"甲"_qs, u"乙<b>&</b>"_qs, u"丙"_qs };
        for (int i = 0; i < 3; ++i) {
            TunnelProfile profile = session(i)->profile();
            profile.name = names.at(i);
            profile.portText = QString::number(i < 2 ? origin.port() : LocalHttpServer::unusedPort());
            session(i)->setProfile(profile);
        }
    }

    /// The public address of service \a index answers (or not) at its next check.
    bool publicAnswers(int index, bool answers) const
    {
        *publicAnswer = { answers, answers ? std::optional(200) : std::nullopt, {} };
        session(index)->requestImmediateHealthCheck();
        const Health wanted = answers ? Health::healthy : Health::unhealthy;
        return QTest::qWaitFor([&] { return session(index)->publicHealth().is(wanted); }, 10000);
    }
    void showActiveWindow() const
    {
        delegate->showMainWindow();
        QVERIFY(QTest::qWaitForWindowActive(delegate->mainWindow()));
    }
};

int g_unavailableLogs = 0;
QtMessageHandler g_previousHandler = nullptr;
void countUnavailable(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(u"desktop notifications unavailable"_qs))
        ++g_unavailableLogs;
    g_previousHandler(type, context, message);
}
} // namespace

class TestTunnelNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_daemon.start(u"dbus-daemon"_qs, { u"--session"_qs, u"--print-address"_qs, u"--nofork"_qs });
        QVERIFY(m_daemon.waitForStarted(10000));
        QVERIFY(QTest::qWaitFor([&] { return m_daemon.canReadLine(); }, 10000));
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        // Before anything opens the session bus: the program under test knows no other.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        g_previousHandler = qInstallMessageHandler(countUnavailable);
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(g_previousHandler);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    void judging_data()
    {
        QTest::addColumn<bool>("windowActive");
        QTest::addColumn<QStringList>("steps"); // status[:address][/public health]
        QTest::addColumn<QStringList>("expected"); // the notice each step calls for, "-" for none
        const auto row = [](const char *name, bool active, const QString &steps, const QString &expected) {
            QTest::newRow(name) << active << steps.split(u' ') << expected.split(u' ');
        };
        row("first online, window elsewhere", false, u"preparing connecting:a online:a"_qs, u"- - online"_qs);
        row("first online, window in front", true, u"connecting online:a"_qs, u"- -"_qs);
        row("restarts by itself, back with a new address", true, u"online:a connecting online:b"_qs,
            u"- dropped back"_qs);
        row("new address while online", false, u"online:a online:b"_qs, u"online back"_qs);
        row("public address stops answering", false,
            u"online:a/checking online:a/healthy online:a/unhealthy online:a/healthy"_qs, u"online - dropped -"_qs);
        row("public address never answered yet: no drop", false, u"online:a/checking online:a/unhealthy"_qs,
            u"online -"_qs);
        row("stopped by the user and started again: no comeback", false,
            u"online:a stopping idle preparing connecting online:b"_qs, u"online - - - - online"_qs);
        row("failed once, then started again", false, u"online:a failed failed preparing online:b"_qs,
            u"online failed - - online"_qs);
    }

    void judging()
    {
        QFETCH(bool, windowActive);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        const QMetaEnum statuses = QMetaEnum::fromType<Kind>();
        const auto parse = [](const QString &step) {
            const QStringList statuses { u"idle"_qs, u"preparing"_qs, u"connecting"_qs, u"online"_qs, u"stopping"_qs,
                u"failed"_qs };
            const QStringList healths { u"unknown"_qs, u"checking"_qs, u"healthy"_qs, u"inactive"_qs, u"unhealthy"_qs };
            const QStringList health = step.split(u'/');
            const QStringList status = health.first().split(u':');
            TunnelNotifier::Observation seen { Status(statuses.indexOf(status.first())),
                health.size() > 1 ? Health(healths.indexOf(health.at(1))) : Health::inactive, std::nullopt };
            if (status.size() > 1)
                seen.url = QUrl(u"https://"_qs + status.at(1) + u".trycloudflare.com"_qs);
            return seen;
        };
        TunnelNotifier::Seen seen;
        QStringList judged;
        for (const QString &step : steps) {
            const auto kind = TunnelNotifier::judge(seen, parse(step), windowActive);
            judged << (kind ? QString::fromLatin1(statuses.valueToKey(int(*kind))) : u"-"_qs);
        }
        QCOMPARE(judged, expected);
    }

    void bodyMarkup_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::newRow("shown as it is") << QStringList { u"actions"_qs } << u"<拒绝> & 超时"_qs;
        QTest::newRow("read as markup") << QStringList { u"body-markup"_qs } << u"&lt;拒绝&gt; &amp; 超时"_qs;
    }

    void bodyMarkup()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        NoticeBoard board(m_address, capabilities);
        QVERIFY(board.registered);
        // Sent at once, before the service has told what it reads.
        NotificationClient client(QDBusConnection::sessionBus());
        uint shown = 0;
        client.send({ u"<b>甲</b>"_qs, u"<拒绝> & 超时"_qs, {}, 0 }, &client, [&](uint id) { shown = id; });
        QTRY_COMPARE(shown, 1U);
        QCOMPARE(board.notices.first().summary, u"<b>甲</b>"_qs);
        QCOMPARE(board.notices.first().body, body);
    }

    void noticesOnTheDesktop_data()
    {
        QTest::addColumn<bool>("windowInFront");
        QTest::newRow("window elsewhere") << false;
        QTest::newRow("window in front") << true;
    }

    void noticesOnTheDesktop()
    {
        QFETCH(bool, windowInFront);
        NoticeBoard board(m_address, {});
        Program program;
        QVERIFY(board.registered && program.ready);
        if (windowInFront)
            program.showActiveWindow();
        const QStringList plainActions { u"default"_qs, u"显示"_qs };
        const QString droppedSummary = u"服务“乙<b>&</b>”的连接已中断"_qs;

        program.session(1)->start();
        QVERIFY(program.reaches(1, Status::online));
        if (!windowInFront) {
            QTRY_COMPARE(board.notices.size(), 1);
            const NoticeBoard::Notice online = board.notices.last();
            // The summary is never markup: the name shows as it was typed.
            QCOMPARE(online.summary, u"服务“乙<b>&</b>”已上线"_qs);
            QCOMPARE(online.body, serviceAddress);
            QCOMPARE(online.actions, plainActions + QStringList({ u"copy"_qs, u"复制链接"_qs }));
        }
        const int before = int(board.notices.size());
        QVERIFY(program.publicAnswers(1, true) && program.publicAnswers(1, false));
        QElapsedTimer sinceDrop;
        sinceDrop.start();
        QTRY_COMPARE(board.notices.size(), before + 1);
        const NoticeBoard::Notice dropped = board.notices.last();
        QCOMPARE(dropped.summary, droppedSummary);
        QCOMPARE(dropped.body, program.session(1)->publicHealth().message);
        QCOMPARE(dropped.actions, plainActions);
        // One service keeps one notice on the desktop.
        QCOMPARE(dropped.replaces, before == 0 ? 0U : board.notices.first().id);

        // A second drop within the spacing is not told; another service's failure is, and after the spacing
        // the next drop.
        QVERIFY(program.publicAnswers(1, true) && program.publicAnswers(1, false));
        program.session(2)->start();
        QVERIFY(program.reaches(2, Status::failed));
        QTRY_COMPARE(board.notices.size(), before + 2);
        QCOMPARE(board.notices.last().summary, u"服务“丙”失败"_qs);
        QCOMPARE(board.notices.last().body, program.session(2)->status().message);
        QCOMPARE(board.notices.last().replaces, 0U);
        const auto dropsAgain = [&] { return program.publicAnswers(1, true) && program.publicAnswers(1, false); };
        QVERIFY(QTest::qWaitFor([&] { return board.notices.size() > before + 2 || !dropsAgain(); }, 10000));
        QVERIFY(sinceDrop.elapsed() >= ProgramRig::spacing.count());
        QCOMPARE(board.notices.size(), before + 3);
        QCOMPARE(board.notices.last().summary, droppedSummary);

        TunnelSession *second = program.session(1);
        if (windowInFront) {
            // Turned off in the menu, saved at once: a failure is not told; turned on again, the next one is.
            QAction *toggle = program.delegate->mainWindow()->findChild<QAction *>(u"desktopNotificationsAction"_qs);
            QVERIFY(toggle && toggle->isCheckable() && toggle->isChecked());
            toggle->trigger();
            QCOMPARE(settingsOnDisk(program.path()).value(Preferences::desktopNotificationsKey), QVariant(false));
            second->stop();
            QVERIFY(program.reaches(1, Status::idle));
            for (TunnelSession *session : { program.session(0), second }) {
                TunnelProfile failing = session->profile();
                failing.portText = program.session(2)->profile().portText;
                session->setProfile(failing);
            }
            second->start();
            QVERIFY(program.reaches(1, Status::failed));
            toggle->trigger();
            program.session(0)->start();
            QTRY_COMPARE(board.notices.size(), before + 4);
            QCOMPARE(board.notices.last().summary, u"服务“甲”失败"_qs);
            return;
        }

        // Activated: the service is shown; another program's notice is none of ours.
        program.store()->setSelectedID(program.session(0)->id());
        board.invoke(board.notices.first().id + 100, u"default"_qs);
        board.invoke(board.notices.first().id, u"default"_qs);
        QTRY_VERIFY(program.delegate->mainWindow() && program.delegate->mainWindow()->isVisible());
        QCOMPARE(program.store()->selectedID(), second->id());
        QGuiApplication::clipboard()->clear();
        board.invoke(board.notices.first().id, u"copy"_qs);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), serviceAddress);
        // Without a current address there is nothing to copy: the service is shown instead.
        second->stop();
        QVERIFY(program.reaches(1, Status::idle));
        QGuiApplication::clipboard()->clear();
        program.store()->setSelectedID(program.session(0)->id());
        program.delegate->mainWindow()->hide();
        board.invoke(board.notices.first().id, u"copy"_qs);
        QTRY_VERIFY(program.delegate->mainWindow()->isVisible());
        QVERIFY(program.store()->selectedID() == second->id() && QGuiApplication::clipboard()->text().isEmpty());
    }

    void withoutANotificationService()
    {
        g_unavailableLogs = 0;
        {
            Program program;
            QVERIFY(program.ready);
            program.session(0)->start();
            program.session(2)->start();
            QVERIFY(program.reaches(0, Status::online) && program.reaches(2, Status::failed));
            QTRY_COMPARE(g_unavailableLogs, 1);
            // A service that appears later is used from the next notice on.
            NoticeBoard board(m_address, {});
            QVERIFY(board.registered);
            program.session(1)->start();
            QTRY_COMPARE(board.notices.size(), 1);
            QCOMPARE(g_unavailableLogs, 1);
        }
        // No bus at all: one line, nothing sent, nothing held.
        g_unavailableLogs = 0;
        NotificationClient client(QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_qs, u"nowhere"_qs));
        bool shown = false;
        client.send({ u"s"_qs, u"b"_qs, {}, 0 }, &client, [&](uint) { shown = true; });
        QCOMPARE(g_unavailableLogs, 1);
        QVERIFY(!shown);
    }

private:
    QProcess m_daemon;
    QString m_address;
};

QTEST_MAIN(TestTunnelNotifier)
#include "TestTunnelNotifier.moc"
