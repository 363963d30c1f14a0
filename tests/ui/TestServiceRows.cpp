#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "UiTestSupport.h"
#include "session/TunnelSession.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SessionStatusBadge.h"
#include "ui/StatusColor.h"
#include "ui/SummaryPill.h"
#include "ui/style/Symbols.h"
#include "ui/style/Theme.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(TunnelStatus)
Q_DECLARE_METATYPE(HealthState)

namespace {

TunnelProfile profile(const QString &name)
{
    TunnelProfile p = localProfile(3000);
    p.name = name;
    return p;
}

} // namespace

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
        const auto down = HealthState::unhealthy(QStringLiteral("x"));
        QTest::newRow("online, confirmed") << TunnelStatus::online() << up << true << success;
        QTest::newRow("online, unconfirmed") << TunnelStatus::online() << up << false << warning;
        QTest::newRow("preparing") << TunnelStatus::preparing() << up << false << warning;
        QTest::newRow("connecting") << TunnelStatus::connecting() << down << false << warning;
        QTest::newRow("stopping") << TunnelStatus::stopping() << up << false << warning;
        QTest::newRow("failed") << TunnelStatus::failed(QStringLiteral("x")) << up << false << danger;
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
        TunnelProfile p = profile(QStringLiteral("web"));
        p.portText = QString::number(server.port());
        TunnelSession session(p, {});
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

    void rowShowsDisplayNameAsPlainText_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QStringLiteral("前端") << QStringLiteral("前端");
        QTest::newRow("surrounding blanks") << QStringLiteral("  api \n") << QStringLiteral("api");
        QTest::newRow("empty") << QString() << QStringLiteral("未命名服务");
        QTest::newRow("blanks only") << QStringLiteral(" \t\n") << QStringLiteral("未命名服务");
        QTest::newRow("markup") << QStringLiteral("<b>x</b>") << QStringLiteral("<b>x</b>");
    }

    void rowShowsDisplayNameAsPlainText()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        TunnelSession session(profile(name), {});
        ServiceSidebarRow row(&session);
        QCOMPARE(row.toolTip(), QStringLiteral("切换到") + shown);
        QCOMPARE(row.accessibleName(), shown);
        QCOMPARE(row.accessibleDescription(), QStringLiteral("127.0.0.1:3000 未启动"));
    }

    void rowFollowsProfileEditsAndClicks()
    {
        TunnelSession session(profile(QStringLiteral("a")), {});
        ServiceSidebarRow row(&session);
        row.resize(250, 64);
        QSignalSpy clicks(&row, &QAbstractButton::clicked);
        TunnelProfile edited = session.profile();
        edited.name = QStringLiteral("b");
        edited.host = QStringLiteral("localhost ");
        session.setProfile(edited);
        QCOMPARE(row.toolTip(), QStringLiteral("切换到b"));
        QCOMPARE(row.accessibleDescription(), QStringLiteral("localhost :3000 未启动")); // exactly as typed
        edited.host = QStringLiteral("localhost\n");
        session.setProfile(edited);
        QCOMPARE(row.accessibleDescription(), QStringLiteral("localhost :3000 未启动")); // one line
        QTest::mouseClick(&row, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);
    }

    void rowBackgroundFollowsSelectionOverHover()
    {
        TunnelSession session(profile(QStringLiteral("a")), {});
        ServiceSidebarRow row(&session);
        row.resize(250, 64);
        auto backgroundAt = [&row] { return renderShown(row, Theme::sidebar).pixelColor(125, 3); };
        QCOMPARE(backgroundAt().name(), Theme::sidebar.name());
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(&row, &enter);
        QVERIFY(backgroundAt().name() != Theme::sidebar.name());
        row.setSelected(true);
        QCOMPARE(backgroundAt().name(), Theme::accentSoft.name());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&row, &leave);
        QCOMPARE(backgroundAt().name(), Theme::accentSoft.name());
    }

    void badgeAndPillExposeTheirText()
    {
        TunnelSession session(profile(QStringLiteral("a")), {});
        SessionStatusBadge badge(&session);
        QCOMPARE(badge.accessibleName(), QStringLiteral("未启动"));

        SummaryPill pill(QStringLiteral("bolt.fill"), QStringLiteral("0 个运行中"), Theme::success);
        const int narrow = pill.sizeHint().width();
        pill.setText(QStringLiteral("12 个运行中"));
        QVERIFY(pill.sizeHint().width() > narrow);
        QCOMPARE(pill.accessibleName(), QStringLiteral("12 个运行中"));
    }
};

QTEST_MAIN(TestServiceRows)
#include "TestServiceRows.moc"
