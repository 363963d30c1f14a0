#pragma once

#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QtTest>

/// \brief The program in-process over a temporary settings file holding \a stored: \a services services
/// aimed at a live local server, a fake `cloudflared` that comes online and stays, and a public probe that
/// answers as publicAnswer says.
struct ProgramRig
{
    /// What the fake `cloudflared` of these tests runs: it answers the version query at once (else the
    /// query would wait as a tunnel), then runs \a prelude, comes online and stays.
    static QByteArray script(const QByteArray &prelude = {})
    {
        return "if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n" + prelude
            + FakeCloudflared::onlineBody(120);
    }

    /// Neither gone nor a zombie waiting to be reaped.
    static bool isRunning(qint64 pid)
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        const QByteArray line = pid > 0 && stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        const qsizetype close = line.lastIndexOf(')');
        return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z';
    }

    /// Children of \a pid's main thread whose program is `sleep`: fake tunnels that are up and waiting.
    static QList<qint64> waitingChildren(qint64 pid)
    {
        QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
        QList<qint64> children;
        for (const QByteArray &child : file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QByteArrayList()) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(child.trimmed().toLongLong()));
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith("sleep"))
                children.append(child.trimmed().toLongLong());
        }
        return children;
    }

    explicit ProgramRig(int services = 1, const QVariant &acknowledged = 2, QVariantMap stored = {})
    {
        if (acknowledged.isValid())
            stored.insert(Preferences::legalAcknowledgementKey, acknowledged);
        {
            QSettings settings(path(), QSettings::IniFormat);
            for (auto it = stored.cbegin(); it != stored.cend(); ++it)
                settings.setValue(it.key(), it.value());
        }
        preferences = std::make_unique<Preferences>(QSettings(path(), QSettings::IniFormat));
        ready = fake.install(script()) && origin.listenHttp();
        Timings timings = quickTimings();
        timings.healthDebounce = std::chrono::milliseconds(10);
        timings.notificationSpacing = spacing;
        timings.versionQueryTimeout = timings.copiedLabel = std::chrono::seconds(20);
        PublicProbe probe = [answer = publicAnswer](const QUrl &, std::chrono::milliseconds, QObject *context,
                                std::function<void(const ProbeOutcome &)> done) {
            QMetaObject::invokeMethod(
                context, [done, outcome = *answer] { done(outcome); }, Qt::QueuedConnection);
        };
        delegate
            = std::make_unique<Application>(preferences.get(), SessionDependencies { timings, fake.locator(), probe });
        while (store()->sessions().size() < services)
            store()->addProfile();
        aim();
    }
    ~ProgramRig() { store()->shutdownAll(); }

    void aim() const
    {
        for (TunnelSession *session : store()->sessions()) {
            TunnelProfile profile = session->profile();
            profile.scheme = OriginScheme::http;
            profile.portText = QString::number(origin.port());
            session->setProfile(profile);
        }
    }

    QString path() const { return dir.filePath(u"orvanta.conf"_qs); }
    TunnelStore *store() const { return delegate->store(); }
    TunnelSession *session(int index) const { return store()->sessions().at(index); }
    bool reaches(int index, TunnelStatus::Kind status) const
    {
        return QTest::qWaitFor([&] { return session(index)->status().is(status); }, 30000);
    }

    static constexpr std::chrono::milliseconds spacing { 1500 };
    QTemporaryDir dir;
    std::unique_ptr<Preferences> preferences;
    FakeCloudflared fake { dir.filePath(u"fake"_qs) };
    LocalHttpServer origin;
    std::shared_ptr<ProbeOutcome> publicAnswer = std::make_shared<ProbeOutcome>();
    std::unique_ptr<Application> delegate;
    bool ready = false;
};
