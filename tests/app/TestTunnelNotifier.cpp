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
    }

    void cleanupTestCase()
    {
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
        row("restarts by itself, back with a new address", true, u"online:a connecting online:b"_qs,
            u"- dropped back"_qs);
        row("new address while online", false, u"online:a online:b"_qs, u"online back"_qs);
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
        if (body.isEmpty()) // it is told in the log
            QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"^desktop notifications unavailable"_qs));
        NotificationClient client(body.isEmpty()
                ? QDBusConnection::connectToBus(u"unix:path=/nonexistent/bus"_qs, u"nowhere"_qs)
                : QDBusConnection::sessionBus());
        uint shown = 0;
        // Sent at once, before the service has told what it reads.
        client.send({ u"<b>甲</b>"_qs, u"<拒绝> & 超时"_qs, {}, 0 }, &client, [&](uint id) { shown = id; });
        QVERIFY(body.isEmpty() ? shown == 0 : QTest::qWaitFor([&] { return shown == 1; }, 5000));
        QVERIFY(
            body.isEmpty() || (board.notices.first().summary == u"<b>甲</b>"_qs && board.notices.first().body == body));
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
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"^desktop notifications unavailable"_qs));
        program.session(0)->start();
        QVERIFY(program.reaches(0, Status::online));
        NoticeBoard board(m_address, {});
        QVERIFY(board.registered);
        TunnelSession *second = program.session(1);
        second->start();
        // The last notice: summary (never markup: a name shows as it was typed), body, actions, the one it replaces.
        const auto told = [&](int count, const QStringList &expected) {
            if (!QTest::qWaitFor([&] { return board.notices.size() >= count; }, 10000) || board.notices.size() != count)
                return false;
            const NotificationClient::Notice &notice = board.notices.last();
            const QStringList seen { notice.summary, notice.body, notice.actions.join(u'|'),
                QString::number(notice.replaces) };
            return seen.mid(0, expected.size()) == expected || (qWarning() << seen, false);
        };
        const QString address = u"https://four-random-words-here.trycloudflare.com"_qs;
        const QString droppedSummary = u"服务“乙<b>&</b>”的连接已中断"_qs;
        QVERIFY(told(1, { u"服务“乙<b>&</b>”已上线"_qs, address, u"default|显示|copy|复制链接"_qs, u"0"_qs }));
        QVERIFY(drops());
        QElapsedTimer sinceDrop;
        sinceDrop.start();
        // One service keeps one notice on the desktop.
        QVERIFY(told(2, { droppedSummary, second->publicHealth().message, u"default|显示"_qs, u"1"_qs }));

        // A second drop within the spacing is not told; another service's failure is, and after the spacing
        // the next drop.
        QVERIFY(drops());
        program.session(2)->start();
        QVERIFY(program.reaches(2, Status::failed));
        QVERIFY(told(3, { u"服务“丙”失败"_qs, program.session(2)->status().message, u"default|显示"_qs, u"0"_qs }));
        QVERIFY(QTest::qWaitFor([&] { return board.notices.size() > 3 || !drops(); }, 10000));
        QVERIFY(sinceDrop.elapsed() >= ProgramRig::spacing.count() && told(4, { droppedSummary }));

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
        QVERIFY(told(5, { u"服务“甲”失败"_qs }));
    }

private:
    QProcess m_daemon;
    QString m_address;
};

QTEST_MAIN(TestTunnelNotifier)
#include "TestTunnelNotifier.moc"
