// The whole main window over a real store, and the legal notice in both modes.

#include "SceneKit.h"

#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "legal/LegalNoticeView.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QVBoxLayout>

namespace {

using Kind = TunnelStatus::Kind;

/// The main window's content with the store and settings it needs, torn down in the right order.
class WindowScene : public QWidget
{
public:
    /// With \a unwritable, a folder stands where the settings file goes, so every save fails.
    explicit WindowScene(const SessionDependencies &dependencies, bool unwritable = false)
        : m_settings(m_dir.filePath(QStringLiteral("orvanta.conf")), QSettings::IniFormat)
    {
        if (unwritable)
            QDir(m_dir.path()).mkdir(QStringLiteral("orvanta.conf"));
        m_settings.setValue(Preferences::legalAcknowledgementKey, LegalNoticeView::currentVersion);
        m_preferences = std::make_unique<Preferences>(m_settings);
        m_store = std::make_unique<TunnelStore>(m_preferences.get(), dependencies);
    }
    ~WindowScene() override
    {
        delete m_content;
        m_store->shutdownAll();
    }

    TunnelStore *store() const { return m_store.get(); }

    /// Call once the store holds what the picture shows.
    QWidget *show()
    {
        m_store->savePendingChanges(); // what the picture shows includes the outcome of saving
        m_content = new ContentView(m_store.get(), m_preferences.get(), this);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_content);
        return this;
    }

    void configure(TunnelSession *session, const QString &name, quint16 port)
    {
        TunnelProfile profile = session->profile();
        profile.name = name;
        profile.scheme = OriginScheme::http;
        profile.portText = QString::number(port);
        session->setProfile(profile);
    }

private:
    QTemporaryDir m_dir;
    QSettings m_settings;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<TunnelStore> m_store;
    QWidget *m_content = nullptr;
};

const QByteArray versionAnswer
    = "if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0 (built 2024-05-01-1200 UTC)'; exit 0; fi\n";

const SceneRegistrar oneIdle { { QStringLiteral("window-one-idle"), { 1080, 760 }, [](SceneKit &kit) -> QWidget * {
                                    kit.installCloudflared(versionAnswer);
                                    auto *scene = new WindowScene(kit.dependencies());
                                    TunnelSession *only = scene->store()->sessions().constFirst();
                                    scene->configure(only, QStringLiteral("默认服务"), kit.healthyPort());
                                    SceneKit::waitUntil([only] { return only->lastCheckedAt().has_value(); });
                                    return scene->show();
                                } } };

const SceneRegistrar mixed { { QStringLiteral("window-mixed-states"), { 1080, 760 },
    [](SceneKit &kit) -> QWidget * {
        kit.answerPublicProbes(true);
        kit.installCloudflared(versionAnswer
            + FakeCloudflared::printToStandardError(FakeCloudflared::requestLine()
                + FakeCloudflared::urlLine("calm-river-blue-stone") + FakeCloudflared::registeredLine())
            + "exec sleep 60\n");
        auto *scene = new WindowScene(kit.dependencies());
        TunnelStore *store = scene->store();
        store->addProfile();
        store->addProfile();
        TunnelSession *online = store->sessions().at(0);
        TunnelSession *failed = store->sessions().at(1);
        TunnelSession *idle = store->sessions().at(2);
        scene->configure(online, QStringLiteral("前端预览"), kit.healthyPort());
        scene->configure(failed, QStringLiteral("API 网关"), LocalHttpServer::unusedPort());
        scene->configure(idle, QStringLiteral("内部工具"), kit.healthyPort());
        online->start();
        failed->start();
        const bool reached = SceneKit::waitUntil([&] {
            return online->overallIsHealthy() && failed->status().is(Kind::failed) && idle->lastCheckedAt().has_value();
        });
        store->setSelectedID(online->id());
        return reached ? scene->show() : nullptr;
    } } };

const SceneRegistrar emptyDetail { { QStringLiteral("window-empty-detail"), { 1080, 760 },
    [](SceneKit &kit) -> QWidget * {
        kit.installCloudflared(versionAnswer);
        auto *scene = new WindowScene(kit.dependencies());
        scene->store()->setSelectedID(std::nullopt);
        return scene->show();
    } } };

const SceneRegistrar saveFailed { { QStringLiteral("window-save-failed"), { 1080, 760 },
    [](SceneKit &kit) -> QWidget * {
        kit.installCloudflared(versionAnswer);
        auto *scene = new WindowScene(kit.dependencies(), true);
        TunnelSession *only = scene->store()->sessions().constFirst();
        scene->configure(only, QStringLiteral("默认服务"), kit.healthyPort());
        SceneKit::waitUntil([only] { return only->lastCheckedAt().has_value(); });
        return scene->show();
    } } };

const SceneRegistrar noCloudflared { { QStringLiteral("window-no-cloudflared"), { 980, 680 },
    [](SceneKit &kit) -> QWidget * {
        auto *scene = new WindowScene(kit.dependencies());
        TunnelStore *store = scene->store();
        scene->configure(store->sessions().constFirst(), QStringLiteral("默认服务"), kit.healthyPort());
        const bool reached = SceneKit::waitUntil([store] { return !store->cloudflaredVersion().isEmpty(); });
        return reached ? scene->show() : nullptr;
    } } };

const SceneRegistrar noticeAcceptance { { QStringLiteral("legal-notice-acceptance"), { 690, 610 },
    [](SceneKit &) { return static_cast<QWidget *>(new LegalNoticeView(true)); } } };

const SceneRegistrar noticeReview { { QStringLiteral("legal-notice-review"), { 690, 610 },
    [](SceneKit &) { return static_cast<QWidget *>(new LegalNoticeView(false)); } } };

} // namespace
