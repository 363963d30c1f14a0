#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "session/TunnelSession.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SessionStatusBadge.h"
#include "ui/StatusColor.h"
#include "ui/SummaryPill.h"
#include "ui/style/Symbols.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(TunnelStatus)
Q_DECLARE_METATYPE(HealthState)

class TestServiceRows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }
    void cleanupTestCase() { QCOMPARE(Symbols::unknownNames(), QStringList()); }

    // The row and the badge share one rule; the badge never looks at the local probe.
    void colourRules_data()
    {
        QTest::addColumn<TunnelStatus>("status");
        QTest::addColumn<HealthState>("local");
        QTest::addColumn<bool>("healthy");
        QTest::addColumn<QColor>("row"); // the badge's too, but for an idle service whose local end answers
        using namespace Theme;
        const auto up = HealthState::healthy();
        const auto down = HealthState::unhealthy(u"x"_qs);
        QTest::newRow("online, confirmed") << TunnelStatus::online() << up << true << success;
        QTest::newRow("online, unconfirmed") << TunnelStatus::online() << up << false << warning;
        QTest::newRow("preparing") << TunnelStatus::preparing() << up << false << warning;
        QTest::newRow("connecting") << TunnelStatus::connecting() << down << false << warning;
        QTest::newRow("stopping") << TunnelStatus::stopping() << up << false << warning;
        QTest::newRow("failed") << TunnelStatus::failed(u"x"_qs) << up << false << danger;
        QTest::newRow("idle, local up") << TunnelStatus::idle() << up << false << info;
        QTest::newRow("idle, local down") << TunnelStatus::idle() << down << false << subtle;
        QTest::newRow("idle, unknown") << TunnelStatus::idle() << HealthState::unknown() << false << subtle;
    }

    void colourRules()
    {
        QFETCH(TunnelStatus, status);
        QFETCH(HealthState, local);
        QFETCH(bool, healthy);
        QFETCH(QColor, row);
        QCOMPARE(statusColor(status, healthy, local.is(HealthState::Kind::healthy)), row);
        QCOMPARE(statusColor(status, healthy, false), row == Theme::info ? Theme::subtle : row);
    }

    void idleWithReachableServiceDiffersBetweenRowAndBadge()
    {
        LocalHttpServer server;
        QVERIFY(server.listenHttp());
        TunnelSession session(localProfile(server.port()), {});
        ServiceSidebarRow row(&session);
        SessionStatusBadge badge(&session);
        session.beginMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(session.localHealth().is(HealthState::Kind::healthy), 20000);
        row.resize(250, 64);
        QVERIFY(paintsColor(renderShown(row, Theme::sidebar), Theme::info));
        const QImage shownBadge = renderShown(badge, Theme::panel);
        QVERIFY(paintsColor(shownBadge, Theme::subtle) && !paintsColor(shownBadge, Theme::info));
        session.shutdown();
    }

    // The row follows edits of its profile, names it as plain text, and marks selection over hover.
    void rowFollowsTheProfile()
    {
        TunnelSession session(localProfile(3000), {});
        ServiceSidebarRow row(&session);
        row.resize(250, 64);
        auto edit = [&session](const QString &name, const QString &host) {
            TunnelProfile p = session.profile();
            p.name = name;
            p.host = host;
            session.setProfile(p);
        };
        const QList<std::pair<QString, QString>> names { { u"前端"_qs, u"前端"_qs }, { u"  api \n"_qs, u"api"_qs },
            { QString(), u"未命名服务"_qs }, { u" \t\n"_qs, u"未命名服务"_qs }, { u"<b>x</b>"_qs, u"<b>x</b>"_qs } };
        for (const auto &[name, shown] : names) {
            edit(name, u"127.0.0.1"_qs);
            QCOMPARE(row.toolTip(), u"切换到"_qs + shown);
            QCOMPARE(row.accessibleName(), shown);
            QCOMPARE(row.accessibleDescription(), u"127.0.0.1:3000 未启动"_qs);
        }
        edit({}, u"localhost "_qs);
        QCOMPARE(row.accessibleDescription(), u"localhost :3000 未启动"_qs); // exactly as typed
        edit({}, u"localhost\n"_qs);
        QCOMPARE(row.accessibleDescription(), u"localhost :3000 未启动"_qs); // one line
        QSignalSpy clicks(&row, &QAbstractButton::clicked);
        QTest::mouseClick(&row, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);

        auto background = [&row] { return renderShown(row, Theme::sidebar).pixelColor(125, 3).name(); };
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&row, &leave);
        QCOMPARE(background(), Theme::sidebar.name());
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(&row, &enter);
        QVERIFY(background() != Theme::sidebar.name());
        row.setSelected(true);
        QCOMPARE(background(), Theme::accentSoft.name());
        QApplication::sendEvent(&row, &leave);
        QCOMPARE(background(), Theme::accentSoft.name());
    }

    void badgeAndPillExposeTheirText()
    {
        TunnelSession session(localProfile(3000), {});
        QCOMPARE(SessionStatusBadge(&session).accessibleName(), u"未启动"_qs);
        SummaryPill pill(u"bolt.fill"_qs, u"0 个运行中"_qs, Theme::success);
        const int narrow = pill.sizeHint().width();
        pill.setText(u"12 个运行中"_qs);
        QVERIFY(pill.sizeHint().width() > narrow);
        QCOMPARE(pill.accessibleName(), u"12 个运行中"_qs);
    }
};

QTEST_MAIN(TestServiceRows)
#include "TestServiceRows.moc"
