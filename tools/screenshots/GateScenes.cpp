// Access control, the visitor list and the QR code, over a real Caddy gate in front of a local server.

#include "SceneKit.h"

#include "FakeCloudflared.h"
#include "gate/GateConfiguration.h"
#include "gate/GatedOrigin.h"
#include "ui/TunnelDetailView.h"
#include "ui/detail/QrCodeDialog.h"

#include <QAbstractButton>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

namespace {

constexpr int paneWidth = 709;
const QString password = QStringLiteral("Rk7mQ2vXa9pLt3Hz");

TunnelSession *gatedOnline(SceneKit &kit, const GateSettings &gate)
{
    kit.answerPublicProbes(true);
    kit.installCloudflared(FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()
                               + FakeCloudflared::urlLine("calm-river-blue-stone") + FakeCloudflared::registeredLine())
        + "trap '' TERM\nexec sleep 60\n");
    TunnelSession *session = kit.makeSession(QStringLiteral("前端预览"), kit.healthyPort());
    session->setGateSettings(gate);
    session->beginMonitoring();
    session->start();
    return SceneKit::waitUntil([session] { return session->overallIsHealthy(); }) ? session : nullptr;
}

/// Sends one request through the gate as a visitor from \a address in \a country; returns its Set-Cookie.
QByteArray visit(QNetworkAccessManager &network, const TunnelSession &session, const QString &path,
    const QByteArray &method, const QByteArray &address, const QByteArray &country, const QByteArray &header = {},
    const QByteArray &value = {})
{
    QNetworkRequest request(QUrl(session.gate()->url() + path));
    request.setRawHeader("Cf-Connecting-IP", address);
    request.setRawHeader("Cf-Ipcountry", country);
    if (!header.isEmpty())
        request.setRawHeader(header, value);
    QNetworkReply *reply = network.sendCustomRequest(request, method);
    SceneKit::waitUntil([reply] { return reply->isFinished(); });
    const QByteArray cookie = reply->rawHeader("Set-Cookie").split(';').first();
    delete reply;
    return cookie;
}

QByteArray basic(const QString &secret)
{
    return "Basic " + (GateConfiguration::userName + u':' + secret).toUtf8().toBase64();
}

const SceneRegistrar gateControls { { QStringLiteral("detail-gate-controls"), { paneWidth, 0 },
    [](SceneKit &kit) -> QWidget * {
        TunnelSession *session = gatedOnline(kit, { true, true, password });
        if (!session)
            return nullptr;
        auto *view = new TunnelDetailView(session);
        view->findChild<QAbstractButton *>(QStringLiteral("revealButton"))->click();
        return view;
    } } };

const SceneRegistrar visitorLog { { QStringLiteral("detail-visitor-log"), { paneWidth, 0 },
    [](SceneKit &kit) -> QWidget * {
        TunnelSession *session = gatedOnline(kit, { true, true, password });
        if (!session)
            return nullptr;
        QNetworkAccessManager network;
        network.setProxy(QNetworkProxy::NoProxy);
        const QString auth = GateConfiguration::authPath;
        visit(network, *session, QStringLiteral("/"), "GET", "203.0.113.7", "DE");
        visit(network, *session, auth, "POST", "203.0.113.7", "DE", "Authorization", basic(QStringLiteral("guess")));
        const QByteArray cookie
            = visit(network, *session, auth, "POST", "203.0.113.7", "DE", "Authorization", basic(password));
        for (const char *path : { "/", "/assets/app.js", "/api/items?page=2", "/favicon.ico" })
            visit(network, *session, QString::fromLatin1(path), "GET", "203.0.113.7", "DE", "Cookie", cookie);
        visit(network, *session, QStringLiteral("/"), "GET", "2001:db8::5", "JP");
        visit(network, *session, QStringLiteral("/admin"), "GET", "198.51.100.23", "US");
        visit(network, *session, auth, "POST", "198.51.100.23", "US", "Authorization", basic(QStringLiteral("admin")));
        if (!SceneKit::waitUntil([session] { return session->gate()->visitors().requestCount() == 10; }))
            return nullptr;
        return new TunnelDetailView(session);
    } } };

const SceneRegistrar qrCode { { QStringLiteral("qr-code-dialog"), { 380, 480 }, [](SceneKit &) -> QWidget * {
                                   auto *dialog = new QrCodeDialog(std::chrono::milliseconds(1400));
                                   dialog->setAddress(
                                       QStringLiteral("https://calm-river-blue-stone.trycloudflare.com"));
                                   return dialog;
                               } } };

} // namespace
