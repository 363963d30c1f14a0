#pragma once

#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"
#include "ui/TunnelDetailView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using Kind = TunnelStatus::Kind;

/// The child of \a parent called \a name; a missing one ends the run, naming it.
template <typename T = QWidget> T *child(const QObject &parent, const char *name)
{
    T *found = parent.findChild<T *>(QLatin1StringView(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

/// Answers the alert open under \a parent, which must ask \a question in plain text, with the button \a answer.
inline bool answerAlert(const QObject &parent, const QString &question, const QString &answer)
{
    auto *box = parent.findChild<QMessageBox *>();
    if (!box || !box->isVisible() || box->text() != question || box->textFormat() != Qt::PlainText)
        return false;
    for (QAbstractButton *button : box->buttons())
        if (button->text() == answer)
            return button->click(), true;
    return false;
}

/// One service with its own fake cloudflared and local server, shown in a detail pane as wide as the
/// smallest window leaves it; shuts its child down at the end.
struct Rig
{
    explicit Rig(Timings timings = {}, OriginScheme scheme = OriginScheme::http, int height = 600)
        : cloudflared(dir.path())
    {
        server.listenHttp();
        // The public address lives on the internet; its probe answers here instead.
        session = std::make_unique<TunnelSession>(localProfile(server.port(), scheme), nullptr,
            SessionDependencies { timings, cloudflared.locator(), answeringPublicProbe({ true, 200, {} }) });
        pane = std::make_unique<TunnelDetailView>(session.get());
        pane->resize(709, height);
        pane->show();
        QApplication::setActiveWindow(pane.get());
    }

    ~Rig()
    {
        pane.reset();
        session->shutdown();
        // Children that ignore SIGTERM are killed after a short grace.
        if (!QTest::qWaitFor([this] { return !session->hasChild(); }, 1500)) {
            session->killChild();
            QVERIFY(QTest::qWaitFor([this] { return !session->hasChild(); }, 10000));
        }
    }

    template <typename T = QWidget> T *get(const char *name) const { return child<T>(*pane, name); }

    void edit(const std::function<void(TunnelProfile &)> &change)
    {
        TunnelProfile p = session->profile();
        change(p);
        session->setProfile(p);
    }

    /// Brings the session into \a kind the way a user would meet it.
    bool reach(Kind kind)
    {
        if (kind == Kind::idle)
            return true;
        const bool online = kind == Kind::online || kind == Kind::stopping;
        const QByteArray address = online ? FakeCloudflared::urlLine() + FakeCloudflared::registeredLine() : "";
        cloudflared.install(FakeCloudflared::printToStandardError(FakeCloudflared::requestLine() + address)
            + (online ? "trap '' TERM\n" : "") + "exec sleep 30\n");
        server.setSilent(kind == Kind::preparing); // the first probe never gets an answer
        if (kind == Kind::failed)
            edit([](TunnelProfile &p) { p.portText = QString::number(LocalHttpServer::unusedPort()); });
        session->start();
        if (!QTest::qWaitFor([&] { return session->status().is(online ? Kind::online : kind); }, 20000))
            return false;
        if (kind == Kind::stopping)
            session->stop();
        pane->refresh();
        return session->status().is(kind);
    }

    QTemporaryDir dir;
    FakeCloudflared cloudflared;
    LocalHttpServer server;
    std::unique_ptr<TunnelSession> session;
    std::unique_ptr<TunnelDetailView> pane;
};
