#include "FakeCloudflared.h"
#include "TestSupport.h"
#include "session/CloudflaredLocator.h"
#include "session/CloudflaredProcess.h"
#include "session/CloudflaredVersionQuery.h"
#include "session/RuntimeParent.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace std::chrono_literals;

namespace {

constexpr int unset = -1; // no such variable
constexpr int missing = -2; // a variable naming nothing
constexpr uid_t nobody = 65534;

// A folder for the runtime-directory tests: \a mode with \a other as owner, or as described above.
QString makeFolder(const QString &path, int mode, bool other = false)
{
    if (mode == unset)
        return {};
    if (mode == missing)
        return path;
    if (!QDir().mkpath(path) || ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) != 0)
        return {};
    if (other && ::chown(QFile::encodeName(path).constData(), nobody, nobody) != 0)
        return {};
    return path;
}

void useFolders(const QString &runtime, const QString &temp)
{
    runtime.isEmpty() ? qunsetenv("XDG_RUNTIME_DIR") : qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("TMPDIR", QFile::encodeName(temp));
}

} // namespace

class TestCloudflaredProcess : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    const QByteArray m_runtimeVariable = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray m_tempVariable = qgetenv("TMPDIR");

private slots:
    void cleanup()
    {
        qputenv("XDG_RUNTIME_DIR", m_runtimeVariable);
        qputenv("TMPDIR", m_tempVariable);
    }

    void runtimeParent_data()
    {
        QTest::addColumn<int>("runtimeMode");
        QTest::addColumn<bool>("runtimeOther"); // owned by another user
        QTest::addColumn<int>("tempMode");
        QTest::addColumn<bool>("tempOther");
        QTest::addColumn<QString>("chosen"); // "runtime", "temp", or empty: refused
        const auto row = [](const char *name, int runtimeMode, bool runtimeOther, int tempMode, bool tempOther,
                             const QString &chosen) {
            QTest::newRow(name) << runtimeMode << runtimeOther << tempMode << tempOther << chosen;
        };
        row("own runtime directory first", 0700, false, 01777, false, u"runtime"_qs);
        row("runtime directory open to the group", 0750, false, 0700, false, u"temp"_qs);
        row("runtime directory of another user", 0700, true, 0700, false, u"temp"_qs);
        row("runtime directory missing", missing, false, 0700, false, u"temp"_qs);
        row("own closed temporary directory", unset, false, 0755, false, u"temp"_qs);
        row("shared temporary directory with sticky bit", unset, false, 01777, false, u"temp"_qs);
        row("writable by all without sticky bit", unset, false, 0777, false, {});
        row("writable by the group without sticky bit", 0750, false, 0770, false, {});
        row("another user's, even with sticky bit", unset, false, 01777, true, {});
        row("another user's, closed", unset, false, 0755, true, {});
    }

    void runtimeParent()
    {
        QFETCH(int, runtimeMode);
        QFETCH(bool, runtimeOther);
        QFETCH(int, tempMode);
        QFETCH(bool, tempOther);
        QFETCH(QString, chosen);
        if ((runtimeOther || tempOther) && ::geteuid() != 0)
            QSKIP("giving a folder to another user takes root");
        const QString base = m_temp.path() + u'/' + QString::fromLatin1(QTest::currentDataTag());
        const QString runtime = makeFolder(base + u"/runtime"_qs, runtimeMode, runtimeOther);
        const QString temp = makeFolder(base + u"/temp"_qs, tempMode, tempOther);
        QVERIFY(!temp.isEmpty() && (runtimeMode == unset) == runtime.isEmpty());
        useFolders(runtime, temp);

        CloudflaredProcess child(1s);
        QString error;
        const bool prepared = child.prepare(&error);
        if (chosen.isEmpty()) {
            QVERIFY(!prepared);
            QVERIFY2(error.contains(temp) && error.contains(u"其他用户"_qs), qPrintable(error));
            QCOMPARE(QDir(temp).entryList({ u"orvanta-runtime-*"_qs }, QDir::Dirs), QStringList());
            return;
        }
        QVERIFY2(prepared, qPrintable(error));
        const QFileInfo directory(QFileInfo(child.configurationPath()).path());
        QCOMPARE(directory.path(), chosen == u"runtime"_qs ? runtime : temp);
        QVERIFY(directory.fileName().startsWith(u"orvanta-runtime-"_qs));
        QCOMPARE(directory.permissions() & 0x7777, QFileDevice::Permissions(0x7700)); // the owner's alone
        QFile configuration(child.configurationPath());
        QVERIFY(configuration.open(QIODevice::ReadOnly));
        QCOMPARE(configuration.readAll(), QByteArray("{}\n"));
        // This process owns it, so a start in the meantime leaves it alone.
        QCOMPARE(RuntimeParent::removeAbandonedIn(directory.path(), ::geteuid(), 0s), 0);
        QVERIFY(directory.exists());
    }

    void abandonedRuntimeDirectories_data()
    {
        QTest::addColumn<QByteArray>("owner"); // the owner file's content; "none" for no file
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<bool>("removed");
        QProcess ended;
        ended.start(u"true"_qs, {});
        const QByteArray endedOwner = QByteArray::number(ended.processId()) + " 12345\n";
        ended.waitForFinished();
        const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
        QTest::newRow("owner ended") << endedOwner << 0 << false << true;
        QTest::newRow("owner ended, another user's") << endedOwner << 0 << true << false;
        QTest::newRow("owner's number taken by a later process") << self + " 1\n" << 0 << false << true;
        QTest::newRow("no owner, old") << QByteArray("none") << 3600 << false << true;
        QTest::newRow("no owner, being made") << QByteArray("none") << 0 << false << false;
        QTest::newRow("unreadable owner, old") << QByteArray("x y z") << 3600 << false << true;
    }

    void abandonedRuntimeDirectories()
    {
        QFETCH(QByteArray, owner);
        QFETCH(int, ageSeconds);
        QFETCH(bool, otherUser);
        QFETCH(bool, removed);
        if (otherUser && ::geteuid() != 0)
            QSKIP("giving a folder to another user takes root");
        const QString parent = makeFolder(m_temp.filePath(QString::fromLatin1(QTest::currentDataTag())), 0700);
        // This process's own, as a start records it, and a link that leads elsewhere: both stay.
        QVERIFY(!parent.isEmpty() && QDir(parent).mkdir(u"orvanta-runtime-live"_qs));
        QString error;
        QVERIFY2(RuntimeParent::recordOwner(parent + u"/orvanta-runtime-live"_qs, &error), qPrintable(error));
        QVERIFY(QFile::link(m_temp.path(), parent + u"/orvanta-runtime-link"_qs));

        const QString directory = parent + u"/orvanta-runtime-0123"_qs;
        QVERIFY(QDir(parent).mkdir(u"orvanta-runtime-0123"_qs));
        QFile file(directory + u"/owner"_qs);
        QVERIFY(owner == "none" || (file.open(QIODevice::WriteOnly) && file.write(owner) == owner.size()));
        file.close();
        const time_t then = ::time(nullptr) - ageSeconds;
        const utimbuf times { then, then };
        QCOMPARE(::utime(QFile::encodeName(directory).constData(), &times), 0);
        if (otherUser)
            QCOMPARE(::chown(QFile::encodeName(directory).constData(), nobody, nobody), 0);

        QCOMPARE(RuntimeParent::removeAbandonedIn(parent, ::geteuid(), 60s), removed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(directory), !removed);
        QVERIFY(QFileInfo::exists(parent + u"/orvanta-runtime-live/owner"_qs) && QFileInfo(m_temp.path()).isDir());
    }

    // A configuration that cannot be written whole fails the start with the system's reason.
    void unwritableConfigurationFailsAndLeavesNothing()
    {
        const QString temp = makeFolder(m_temp.path() + u"/full"_qs, 0700);
        useFolders({}, temp);
        rlimit original {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &original) == 0);
        rlimit lowered = original;
        lowered.rlim_cur = 1; // room for one byte of the three
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        CloudflaredProcess child(1s);
        QString error;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &lowered) == 0);
        const bool prepared = child.prepare(&error);
        ::setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!prepared);
        QCOMPARE(error, QString::fromLocal8Bit(std::strerror(EFBIG)));
        QCOMPARE(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    void searchPaths_data()
    {
        QTest::addColumn<QString>("pathVariable");
        QTest::addColumn<QStringList>("expected");
        const QString bundled = u"/opt/orvanta/share/orvanta/cloudflared"_qs;
        const QString local = u"/usr/local/bin/cloudflared"_qs;
        const QString system = u"/usr/bin/cloudflared"_qs;
        QTest::newRow("no PATH") << QString() << QStringList { bundled, local, system };
        QTest::newRow("PATH in its order, before the system directories")
            << u"/home/u/bin:/snap/bin"_qs
            << QStringList { bundled, u"/home/u/bin/cloudflared"_qs, u"/snap/bin/cloudflared"_qs, local, system };
        QTest::newRow("each file once, relative and empty entries skipped")
            << u"/usr/bin::bin:.:/usr/local/bin/"_qs << QStringList { bundled, system, local };
    }

    void searchPaths()
    {
        QFETCH(QString, pathVariable);
        QFETCH(QStringList, expected);
        QCOMPARE(CloudflaredLocator::defaultSearchPaths(u"/opt/orvanta/share/orvanta"_qs, pathVariable), expected);
    }

    void locateTakesTheFirstExecutableFile()
    {
        const QString plain = m_temp.filePath(u"plain"_qs);
        const QString directory = m_temp.filePath(u"directory"_qs);
        const QString executable = m_temp.filePath(u"executable"_qs);
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly) && QDir().mkpath(directory));
        file.close();
        QVERIFY(writeExecutable(executable, "#!/bin/sh\n") && writeExecutable(executable + u'2', "#!/bin/sh\n"));
        const CloudflaredLocator locator(
            { m_temp.filePath(u"absent"_qs), plain, directory, executable, executable + u'2' });
        QCOMPARE(locator.locate(), executable);
        QCOMPARE(CloudflaredLocator({ plain }).locate(), QString());
    }

    void versionQuery_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("version");
        QTest::newRow("version and more")
            << QByteArray("echo 'cloudflared version 2024.5.0 (built 2024-05-01-1200 UTC)'") << u"2024.5.0"_qs;
        QTest::newRow("empty output") << QByteArray("exit 0") << QString();
        QTest::newRow("not UTF-8") << QByteArray("printf 'cloudflared version \\377\\n'") << QString();
        QTest::newRow("hangs") << QByteArray("exec sleep 30") << QStringLiteral("不可用");
        QTest::newRow("cannot start") << QByteArray() << QStringLiteral("不可用");
        QTest::newRow("absent") << QByteArray("absent") << QStringLiteral("未找到");
    }

    void versionQuery()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, version);
        QTemporaryDir dir;
        FakeCloudflared fake(dir.path());
        QVERIFY(body.isEmpty() ? writeExecutable(fake.path(), "#!/nonexistent/interpreter\n")
                               : body == "absent" || fake.install(body));
        auto query = std::make_unique<CloudflaredVersionQuery>();
        QSignalSpy finished(query.get(), &CloudflaredVersionQuery::finished);
        query->start(fake.locator(), 500ms);
        // The answer never comes from inside start(): the caller's event loop goes on meanwhile.
        QCOMPARE(finished.size(), 0);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.constFirst().constFirst().toString(), version);
        QVERIFY(!finished.wait(700));
        // A child that hung is killed and reaped, also with its query gone.
        query.reset();
        QTRY_VERIFY(!processAlive(fake.processId()));
    }
};

QTEST_GUILESS_MAIN(TestCloudflaredProcess)
#include "TestCloudflaredProcess.moc"
