// A store of 200 services on a real settings file: adding, removing and editing one field each save the
// whole list, so each is timed with its save.

#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int serviceCount = 200;

struct StoreFixture
{
    StoreFixture()
    {
        preferences = std::make_unique<Preferences>(
            QSettings(dir.filePath(QStringLiteral("orvanta/orvanta.conf")), QSettings::IniFormat));
        store = std::make_unique<TunnelStore>(preferences.get(),
            SessionDependencies { {}, CloudflaredLocator({ dir.filePath(QStringLiteral("none/cloudflared")) }), {} });
        while (store->sessions().size() < serviceCount)
            store->addProfile();
    }
    ~StoreFixture()
    {
        store->shutdownAll();
        store.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    QTemporaryDir dir;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<TunnelStore> store;
};

void purgeRemoved()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BM_AddProfile(benchmark::State &state)
{
    StoreFixture fixture;
    for (auto _ : state) {
        TunnelSession *added = fixture.store->addProfile();
        fixture.store->savePendingChanges();
        state.PauseTiming();
        fixture.store->removeProfile(added->id());
        purgeRemoved();
        state.ResumeTiming();
    }
}

void BM_RemoveProfile(benchmark::State &state)
{
    StoreFixture fixture;
    for (auto _ : state) {
        // The middle of the list, so the selection and both halves of the list are touched.
        fixture.store->removeProfile(fixture.store->sessions().at(serviceCount / 2)->id());
        fixture.store->savePendingChanges();
        state.PauseTiming();
        purgeRemoved();
        fixture.store->addProfile();
        state.ResumeTiming();
    }
}

/// range(0): 1 when each edit is saved at once, 0 for a keystroke whose save waits for a pause.
void BM_EditField(benchmark::State &state)
{
    StoreFixture fixture;
    TunnelSession *session = fixture.store->sessions().at(serviceCount / 2);
    int port = 1000;
    for (auto _ : state) {
        TunnelProfile profile = session->profile();
        profile.portText = QString::number(++port);
        session->setProfile(profile);
        if (state.range(0) != 0)
            fixture.store->savePendingChanges();
    }
}

} // namespace

BENCHMARK(BM_AddProfile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveProfile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditField)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
