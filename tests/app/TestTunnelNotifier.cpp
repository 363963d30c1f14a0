#include "ProgramRig.h"
#include "app/MainWindow.h"
#include "app/notify/NotificationClient.h"
#include "app/notify/TunnelNotifier.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

using Status = TunnelStatus::Kind;
using Health = HealthState::Kind;

namespace {
/// The test's own notification service, on the private bus. Its ids count the notices from 1.
class NoticeBoard : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
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
        m_bus.send(signal << id << key);
    }

    bool registered = false;
    QList<NotificationClient::Notice> notices;

public slots:
    QStringList GetCapabilities() { return m_capabilities; }
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
        const QStringList &actions, const QVariantMap &, int)
    {
        notices.append({ summary, body, actions, replaces });
        return uint(notices.size());
    }

private:
    QDBusConnection m_bus;
    QStringList m_capabilities;
};

int g_unavailableLogs = 0;
QtMessageHandler g_previousHandler = nullptr;
void countUnavailable(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_unavailableLogs += message.startsWith(u"desktop notifications unavailable"_qs) ? 1 : 0;
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
        QVERIFY(m_daemon.waitForStarted(10000) && QTest::qWaitFor([&] { return m_daemon.canReadLine(); }, 10000));
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
        QTest::addColumn<QStringList>("steps"); // status[:address[/public health]]
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
        const QStringList statuses = u"idle preparing connecting online stopping failed"_qs.split(u' ');
        const QStringList healths = u"unknown checking healthy inactive unhealthy"_qs.split(u' ');
        TunnelNotifier::Seen seen;
        QStringList judged;
        for (const QString &step : steps) {
            const QStringList part = step.split(QRegularExpression(u"[:/]"_qs));
            TunnelNotifier::Observation now { Status(statuses.indexOf(part.first())),
                part.size() > 2 ? Health(healths.indexOf(part.at(2))) : Health::inactive, std::nullopt };
            if (part.size() > 1)
                now.url = QUrl(u"https://"_qs + part.at(1) + u".trycloudflare.com"_qs);
            const auto kind = TunnelNotifier::judge(seen, now, windowActive);
            judged << (kind ? QString::fromLatin1(QMetaEnum::fromType<TunnelNotifier::Kind>().valueToKey(int(*kind)))
                            : u"-"_qs);
        }
        QCOMPARE(judged, expected);
    }

    void bodyMarkup_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::newRow("shown as it is") << QStringList { u"actions"_qs } << u"<拒绝> & 超时"_qs;
        QTest::newRow("read as markup") << QStringList { u"body-markup"_qs } << u"&lt;拒绝&gt; &amp; 超时"_qs;
        QTest::newRow("no bus at all: one line, nothing sent, nothing held") << QStringList() << QString();
    }

    void bodyMarkup()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        NoticeBoard board(m_address, capabilities);
        QVERIFY(board.registered);
        g_unavailableLogs = 0;
        NotificationClient client(body.isEmpty()
                ? QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_qs, u"nowhere"_qs)
                : QDBusConnection::sessionBus());
        uint shown = 0;
        // Sent at once, before the service has told what it reads.
        client.send({ u"<b>甲</b>"_qs, u"<拒绝> & 超时"_qs, {}, 0 }, &client, [&](uint id) { shown = id; });
        if (body.isEmpty()) {
            QVERIFY(shown == 0 && g_unavailableLogs == 1);
            return;
        }
        QTRY_COMPARE(shown, 1U);
        QCOMPARE(board.notices.first().summary, u"<b>甲</b>"_qs);
        QCOMPARE(board.notices.first().body, body);
    }

    // One program, services "甲" and "乙<b>&</b>" aimed at a live local server, "丙" at a port nothing listens on.
    void noticesOnTheDesktop()
    {
        ProgramRig program(3);
        QVERIFY(program.ready);
        const QString failingPort = QString::number(LocalHttpServer::unusedPort());
        const auto edit = [&](int index, const QString &name, const QString &port) {
            TunnelProfile profile = program.session(index)->profile();
            profile.name = name.isEmpty() ? profile.name : name;
            profile.portText = port.isEmpty() ? profile.portText : port;
            program.session(index)->setProfile(profile);
        };
        edit(0, u"甲"_qs, {});
        edit(1, u"乙<b>&</b>"_qs, {});
        edit(2, u"丙"_qs, failingPort);
        // The public address of 乙 answers, then stops answering.
        const auto drops = [&] {
            for (const bool answers : { true, false }) {
                *program.publicAnswer = { answers, answers ? std::optional(200) : std::nullopt, {} };
                program.session(1)->requestImmediateHealthCheck();
                const Health wanted = answers ? Health::healthy : Health::unhealthy;
                if (!QTest::qWaitFor([&] { return program.session(1)->publicHealth().is(wanted); }, 10000))
                    return false;
            }
            return true;
        };

        // Without a notification service: one line in the log, and the service is used once it appears.
        g_unavailableLogs = 0;
        program.session(0)->start();
        QVERIFY(program.reaches(0, Status::online));
        QTRY_COMPARE(g_unavailableLogs, 1);
        NoticeBoard board(m_address, {});
        QVERIFY(board.registered);
        TunnelSession *second = program.session(1);
        second->start();
        QVERIFY(program.reaches(1, Status::online));
        QTRY_COMPARE(board.notices.size(), 1);
        QCOMPARE(g_unavailableLogs, 1);
        const QStringList plainActions { u"default"_qs, u"显示"_qs };
        const QString address = u"https://four-random-words-here.trycloudflare.com"_qs;
        // The summary is never markup: the name shows as it was typed.
        QCOMPARE(board.notices.last().summary, u"服务“乙<b>&</b>”已上线"_qs);
        QCOMPARE(board.notices.last().body, address);
        QCOMPARE(board.notices.last().actions, plainActions + QStringList({ u"copy"_qs, u"复制链接"_qs }));

        QVERIFY(drops());
        QElapsedTimer sinceDrop;
        sinceDrop.start();
        QTRY_COMPARE(board.notices.size(), 2);
        const QString droppedSummary = u"服务“乙<b>&</b>”的连接已中断"_qs;
        QCOMPARE(board.notices.last().summary, droppedSummary);
        QCOMPARE(board.notices.last().body, second->publicHealth().message);
        QCOMPARE(board.notices.last().actions, plainActions);
        QCOMPARE(board.notices.last().replaces, 1U); // one service keeps one notice on the desktop

        // A second drop within the spacing is not told; another service's failure is, and after the spacing
        // the next drop.
        QVERIFY(drops());
        program.session(2)->start();
        QVERIFY(program.reaches(2, Status::failed));
        QTRY_COMPARE(board.notices.size(), 3);
        QCOMPARE(board.notices.last().summary, u"服务“丙”失败"_qs);
        QCOMPARE(board.notices.last().body, program.session(2)->status().message);
        QCOMPARE(board.notices.last().replaces, 0U);
        QVERIFY(QTest::qWaitFor([&] { return board.notices.size() > 3 || !drops(); }, 10000));
        QVERIFY(sinceDrop.elapsed() >= ProgramRig::spacing.count());
        QCOMPARE(board.notices.size(), 4);
        QCOMPARE(board.notices.last().summary, droppedSummary);

        // Activated: the service is shown; another program's notice is none of ours.
        program.store()->setSelectedID(program.session(0)->id());
        board.invoke(101, u"default"_qs);
        board.invoke(1, u"default"_qs);
        QTRY_VERIFY(program.delegate->mainWindow() && program.delegate->mainWindow()->isVisible());
        QCOMPARE(program.store()->selectedID(), second->id());
        QGuiApplication::clipboard()->clear();
        board.invoke(1, u"copy"_qs);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), address);
        // Without a current address there is nothing to copy: the service is shown instead.
        second->stop();
        QVERIFY(program.reaches(1, Status::idle));
        QGuiApplication::clipboard()->clear();
        program.store()->setSelectedID(program.session(0)->id());
        board.invoke(1, u"copy"_qs);
        QTRY_COMPARE(program.store()->selectedID(), second->id());
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());

        // With the window in front, coming online is not told. Turned off in the menu, saved at once, a failure
        // is not told either; turned on again, the next one is.
        program.delegate->showMainWindow();
        QVERIFY(QTest::qWaitForWindowActive(program.delegate->mainWindow()));
        second->start();
        QVERIFY(program.reaches(1, Status::online));
        QAction *toggle = program.delegate->mainWindow()->findChild<QAction *>(u"desktopNotificationsAction"_qs);
        QVERIFY(toggle && toggle->isCheckable() && toggle->isChecked());
        toggle->trigger();
        QCOMPARE(settingsOnDisk(program.path()).value(Preferences::desktopNotificationsKey), QVariant(false));
        program.session(0)->stop();
        second->stop();
        QVERIFY(program.reaches(0, Status::idle) && program.reaches(1, Status::idle));
        edit(0, {}, failingPort);
        edit(1, {}, failingPort);
        second->start();
        QVERIFY(program.reaches(1, Status::failed));
        toggle->trigger();
        program.session(0)->start();
        QTRY_COMPARE(board.notices.size(), 5);
        QCOMPARE(board.notices.last().summary, u"服务“甲”失败"_qs);
    }

private:
    QProcess m_daemon;
    QString m_address;
};

QTEST_MAIN(TestTunnelNotifier)
#include "TestTunnelNotifier.moc"
