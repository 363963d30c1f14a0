#include "FakeCloudflared.h"
#include "TestSupport.h"
#include "session/CloudflaredLocator.h"
#include "session/CloudflaredVersionQuery.h"

#include <QtTest>

using namespace std::chrono_literals;

class TestCloudflaredLocator : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void defaultSearchPaths_data()
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

    void defaultSearchPaths()
    {
        QFETCH(QString, pathVariable);
        QFETCH(QStringList, expected);
        QCOMPARE(CloudflaredLocator::defaultSearchPaths(u"/opt/orvanta/share/orvanta"_qs, pathVariable), expected);
    }

    void locateTakesTheFirstExecutableFile()
    {
        const QString plain = m_dir.filePath(u"plain"_qs);
        const QString directory = m_dir.filePath(u"directory"_qs);
        const QString executable = m_dir.filePath(u"executable"_qs);
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly) && QDir().mkpath(directory));
        file.close();
        QVERIFY(writeExecutable(executable, "#!/bin/sh\n") && writeExecutable(executable + u'2', "#!/bin/sh\n"));
        const CloudflaredLocator locator(
            { m_dir.filePath(u"absent"_qs), plain, directory, executable, executable + u'2' });
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

QTEST_GUILESS_MAIN(TestCloudflaredLocator)
#include "TestCloudflaredLocator.moc"
