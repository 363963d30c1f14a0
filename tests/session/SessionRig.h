#pragma once

#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"

#include <QtTest>

/// \brief What the tests of running sessions share: runtime directories in a folder of their own, a
/// fresh fake `cloudflared` for every test function and a local HTTP service to publish.
struct SessionRig
{
    QTemporaryDir temp;
    std::unique_ptr<QTemporaryDir> fakeDir;
    std::unique_ptr<FakeCloudflared> fake;
    LocalHttpServer http;

    /// For initTestCase(): runtime directories land in temp from now on, where the test sees them all.
    bool setUp()
    {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        return http.listenHttp();
    }

    /// For init().
    void renew()
    {
        fakeDir = std::make_unique<QTemporaryDir>();
        fake = std::make_unique<FakeCloudflared>(fakeDir->path());
    }

    /// For cleanup(): no child and no runtime directory outlives its test.
    void verifyNothingLeft() const
    {
        for (int run = 1; run <= fake->runs(); ++run)
            QTRY_VERIFY(!processAlive(fake->processId(run)));
        QTRY_COMPARE(QDir(QDir::tempPath()).entryList({ u"orvanta-runtime-*"_qs }, QDir::Dirs), QStringList());
    }

    /// Runs the fake; the public side always answers.
    SessionDependencies dependencies(const Timings &timings, bool restartAfterDrop) const
    {
        SessionDependencies result { timings, fake->locator(), answeringPublicProbe({ true, 404, {} }) };
        result.policy->restartAfterDrop = restartAfterDrop;
        return result;
    }
};
