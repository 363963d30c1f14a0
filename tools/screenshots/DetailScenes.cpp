// The detail pane, the service rows and the control looks, each brought into its state by real
// sessions running fake cloudflared scripts against local HTTP servers.

#include "SceneKit.h"

#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "ui/widgets/LogoTile.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SummaryPill.h"
#include "ui/TunnelDetailView.h"
#include "ui/style/ActionButton.h"
#include "ui/style/TextFieldStyle.h"
#include "ui/style/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

namespace {

// The detail area of the smallest window: 980 wide, less the 270 sidebar and its divider.
constexpr int paneWidth = 709;
constexpr int paneHeight = 572;

using Kind = TunnelStatus::Kind;

QByteArray longLabel()
{
    // As long as a host label may be (63 characters).
    return "considerations-extraordinary-responsibilities-intercontinental1";
}

/// A session for a healthy local service whose first health check has finished.
TunnelSession *healthyIdle(SceneKit &kit, const QString &name, OriginScheme scheme = OriginScheme::http)
{
    TunnelSession *session = kit.makeSession(name, kit.healthyPort(), scheme);
    session->beginMonitoring();
    if (!SceneKit::waitUntil([session] { return session->lastCheckedAt().has_value(); }))
        return nullptr;
    return session;
}

/// Starts \a session and waits until \a reached holds.
bool startUntil(TunnelSession *session, const std::function<bool()> &reached)
{
    session->start();
    return SceneKit::waitUntil(reached);
}

TunnelSession *onlineSession(SceneKit &kit, const QString &name, const QByteArray &label, bool publicReachable,
    const QByteArray &extraOutput = {}, Timings timings = {})
{
    kit.answerPublicProbes(publicReachable, QStringLiteral("连接超时：无法访问公网地址"));
    kit.installCloudflared(FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()
                               + FakeCloudflared::urlLine(label) + FakeCloudflared::registeredLine() + extraOutput)
        + "trap '' TERM\nexec sleep 60\n");
    TunnelSession *session = kit.makeSession(name, kit.healthyPort(), OriginScheme::http, timings);
    session->beginMonitoring();
    const bool ok = startUntil(session, [session, publicReachable] {
        if (!session->status().is(Kind::online))
            return false;
        return publicReachable ? session->overallIsHealthy()
                               : session->publicHealth().is(HealthState::Kind::unhealthy)
                && session->localHealth().is(HealthState::Kind::healthy);
    });
    return ok ? session : nullptr;
}

QWidget *pane(TunnelSession *session)
{
    return session ? new TunnelDetailView(session) : nullptr;
}

const SceneRegistrar idleHealthy { { QStringLiteral("detail-idle-healthy"), { paneWidth, 0 },
    [](SceneKit &kit) { return pane(healthyIdle(kit, QStringLiteral("本地开发服务器"))); } } };

const SceneRegistrar idleWindow { { QStringLiteral("detail-idle-window-size"), { paneWidth, paneHeight },
    [](SceneKit &kit) { return pane(healthyIdle(kit, QStringLiteral("本地开发服务器"))); } } };

const SceneRegistrar preparing { { QStringLiteral("detail-preparing"), { paneWidth, 0 },
    [](SceneKit &kit) {
        // The local service accepts and never answers, so the start stays at its first check.
        TunnelSession *session = kit.makeSession(QStringLiteral("演示页面"), kit.silentPort(), OriginScheme::automatic);
        const bool ok = startUntil(session, [session] { return session->status().is(Kind::preparing); });
        return ok ? pane(session) : nullptr;
    } } };

const SceneRegistrar connecting { { QStringLiteral("detail-connecting"), { paneWidth, 0 },
    [](SceneKit &kit) {
        kit.installCloudflared(
            FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()) + "exec sleep 60\n");
        TunnelSession *session = kit.makeSession(QStringLiteral("内部工具"), kit.healthyPort());
        const bool ok = startUntil(
            session, [session] { return session->status().is(Kind::connecting) && session->activity().size() >= 4; });
        return ok ? pane(session) : nullptr;
    } } };

const SceneRegistrar onlineLong { { QStringLiteral("detail-online-long-url"), { paneWidth, 0 },
    [](SceneKit &kit) { return pane(onlineSession(kit, QStringLiteral("前端预览"), longLabel(), true)); } } };

const SceneRegistrar onlinePublicDown { { QStringLiteral("detail-online-public-unhealthy"), { paneWidth, 0 },
    [](SceneKit &kit) {
        return pane(onlineSession(kit, QStringLiteral("前端预览"), "calm-river-blue-stone", false));
    } } };

const SceneRegistrar failedLong { { QStringLiteral("detail-failed-long-message"), { paneWidth, 0 }, [](SceneKit &kit) {
                                       // Automatic detection against a port nobody listens on: both protocols fail.
                                       TunnelSession *session = kit.makeSession(QStringLiteral("API 网关（测试环境）"),
                                           LocalHttpServer::unusedPort(), OriginScheme::automatic);
                                       const bool ok = startUntil(
                                           session, [session] { return session->status().is(Kind::failed); });
                                       return ok ? pane(session) : nullptr;
                                   } } };

const SceneRegistrar stopping { { QStringLiteral("detail-stopping"), { paneWidth, 0 }, [](SceneKit &kit) {
                                     Timings slowKill;
                                     slowKill.killGrace = std::chrono::milliseconds(
                                         60000); // the fake ignores SIGTERM; stay in stopping
                                     TunnelSession *session = onlineSession(
                                         kit, QStringLiteral("前端预览"), "calm-river-blue-stone", true, {}, slowKill);
                                     if (!session)
                                         return static_cast<QWidget *>(nullptr);
                                     session->stop();
                                     return session->status().is(Kind::stopping) ? pane(session) : nullptr;
                                 } } };

const SceneRegistrar fullLog { { QStringLiteral("detail-log-full"), { paneWidth, 0 },
    [](SceneKit &kit) {
        QByteArray noise;
        for (int i = 0; i < 80; ++i)
            noise += (i % 2 ? FakeCloudflared::warningLine() : FakeCloudflared::originErrorLine());
        TunnelSession *session = onlineSession(kit, QStringLiteral("前端预览"), "calm-river-blue-stone", true, noise);
        if (!session || !SceneKit::waitUntil([session] { return session->activity().size() == 60; }))
            return static_cast<QWidget *>(nullptr);
        return pane(session);
    } } };

const SceneRegistrar emptyLog { { QStringLiteral("detail-log-empty"), { paneWidth, 0 }, [](SceneKit &kit) {
                                     // A running tunnel whose log the user has just cleared with "清空".
                                     auto *view = static_cast<TunnelDetailView *>(pane(onlineSession(
                                         kit, QStringLiteral("前端预览"), "calm-river-blue-stone", true)));
                                     if (view)
                                         view->findChild<QAbstractButton *>(QStringLiteral("clearButton"))->click();
                                     return static_cast<QWidget *>(view);
                                 } } };

const SceneRegistrar disclosureOpen { { QStringLiteral("detail-disclosure-open"), { paneWidth, 0 },
    [](SceneKit &kit) {
        auto *view = static_cast<TunnelDetailView *>(
            pane(healthyIdle(kit, QStringLiteral("自签名 HTTPS 服务"), OriginScheme::https)));
        if (view)
            view->findChild<QAbstractButton *>(QStringLiteral("disclosureButton"))->click();
        return static_cast<QWidget *>(view);
    } } };

const SceneRegistrar pressedPrimary { { QStringLiteral("controls-pressed-primary"), { 520, 0 },
    [](SceneKit &) {
        auto *sheet = new QWidget;
        sheet->setAutoFillBackground(true);
        QPalette p = sheet->palette();
        p.setColor(QPalette::Window, Theme::background);
        sheet->setPalette(p);
        auto *layout = new QVBoxLayout(sheet);
        layout->setContentsMargins(20, 20, 20, 20);
        layout->setSpacing(12);
        auto addRow = [layout, sheet](bool compact) {
            auto *row = new QHBoxLayout;
            row->setSpacing(9);
            for (int i = 0; i < 4; ++i) {
                const bool primary = i < 2;
                auto *button = primary ? new ActionButton(PrimaryButtonStyle { compact }, sheet)
                                       : new ActionButton(SecondaryButtonStyle { compact }, sheet);
                button->setText(primary ? QStringLiteral("启动此服务") : QStringLiteral("停止"));
                button->setSymbol(primary ? QStringLiteral("play.fill") : QStringLiteral("stop.fill"));
                button->setDown(i % 2 == 1); // the second of each pair is held down
                row->addWidget(button);
            }
            row->addStretch(1);
            layout->addLayout(row);
        };
        addRow(false);
        addRow(true);
        auto *fields = new QHBoxLayout;
        auto *host = new QLineEdit(sheet);
        TextFieldStyle::apply(host);
        host->setPlaceholderText(QStringLiteral("127.0.0.1"));
        auto *button = new ActionButton(SecondaryButtonStyle {}, sheet);
        button->setText(QStringLiteral("复制链接"));
        button->setSymbol(QStringLiteral("doc.on.doc"));
        fields->addWidget(host, 1);
        fields->addWidget(button);
        layout->addLayout(fields);
        auto *logos = new QHBoxLayout;
        logos->setSpacing(16);
        logos->addWidget(new LogoTile(LogoTileKind::product, 40, 11, sheet));
        logos->addWidget(new LogoTile(LogoTileKind::company, 48, 11, sheet));
        logos->addWidget(new LogoTile(LogoTileKind::product, 52, 13, sheet));
        logos->addWidget(
            new SummaryPill(QStringLiteral("circle.grid.2x2.fill"), QStringLiteral("6 个服务"), Theme::accent, sheet),
            0, Qt::AlignVCenter);
        logos->addWidget(
            new SummaryPill(QStringLiteral("bolt.fill"), QStringLiteral("2 个运行中"), Theme::success, sheet), 0,
            Qt::AlignVCenter);
        logos->addStretch(1);
        layout->addLayout(logos);
        return sheet;
    } } };

const SceneRegistrar sidebarList { { QStringLiteral("sidebar-rows"), { 270, 0 },
    [](SceneKit &kit) -> QWidget * {
        TunnelSession *online = onlineSession(kit, QStringLiteral("前端预览"), "calm-river-blue-stone", true);
        if (!online)
            return nullptr;
        kit.installCloudflared(
            FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()) + "exec sleep 60\n");
        TunnelSession *connecting = kit.makeSession(QStringLiteral("内部工具"), kit.healthyPort());
        connecting->start();
        TunnelSession *idle = healthyIdle(kit, QStringLiteral("本地开发服务器"));
        TunnelSession *failed = kit.makeSession(QStringLiteral("  "), LocalHttpServer::unusedPort());
        failed->start();
        TunnelSession *longName = kit.makeSession(
            QStringLiteral("一个名字非常非常长的代理服务，用来检查省略号是否正确显示"), kit.healthyPort());
        if (!idle || !SceneKit::waitUntil([&] {
                return connecting->status().is(Kind::connecting) && failed->status().is(Kind::failed);
            }))
            return nullptr;

        auto *list = new QWidget;
        list->setAutoFillBackground(true);
        QPalette p = list->palette();
        p.setColor(QPalette::Window, Theme::sidebar);
        list->setPalette(p);
        auto *layout = new QVBoxLayout(list);
        layout->setContentsMargins(10, 14, 10, 14);
        layout->setSpacing(7);
        for (TunnelSession *session : { online, connecting, idle, failed, longName }) {
            auto *row = new ServiceSidebarRow(session, list);
            row->setSelected(session == online);
            layout->addWidget(row);
            if (session == idle) {
                QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
                QApplication::sendEvent(row, &enter); // the pointer rests on this one
            }
        }
        return list;
    } } };

} // namespace
