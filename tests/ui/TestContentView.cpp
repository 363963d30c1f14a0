#include "FakeCloudflared.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"
#include "ui/style/Theme.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

/// The window's content over a real store and settings file.
class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    void failedSaveShowsBannerUntilASaveSucceeds()
    {
        QTemporaryDir dir;
        // Markup in the reason (it names the file) must reach the user as typed.
        const QString folder = dir.filePath(QStringLiteral("<b>设置</b>"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/orvanta.conf");
        QVERIFY(QDir().mkdir(path)); // a folder where the file should be: every save fails
        QSettings settings(path, QSettings::IniFormat);
        Preferences preferences(settings);
        TunnelStore store(&preferences);
        ContentView view(&store, &preferences);
        auto *banner = view.findChild<QWidget *>(QStringLiteral("saveErrorBanner"));
        auto *reason = view.findChild<QLabel *>(QStringLiteral("saveErrorReason"));
        QVERIFY(banner && reason);

        store.addProfile();
        store.savePendingChanges();
        QVERIFY(!store.saveError().isEmpty());
        QVERIFY(banner->isVisibleTo(&view));
        QCOMPARE(reason->text(), store.saveError());
        QVERIFY(reason->text().contains(QStringLiteral("<b>设置</b>")));
        QCOMPARE(reason->textFormat(), Qt::PlainText);
        // Above the list and the detail, across the whole width.
        view.resize(1080, 760);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(banner->width(), view.width());
        QVERIFY(banner->geometry().bottom() < view.findChild<QWidget *>(QStringLiteral("sidebar"))->y());

        QVERIFY(QDir(path).removeRecursively());
        store.addProfile();
        store.savePendingChanges();
        QCOMPARE(store.saveError(), QString());
        QVERIFY(!banner->isVisibleTo(&view));
        store.shutdownAll();
    }

    void footerShowsVersionOnceKnown_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("answers") << QByteArray("echo 'cloudflared version 2024.5.0 (built 2024-05-01)'; exit 0\n")
                                 << QStringLiteral("· cloudflared 2024.5.0 · 仅限临时开发测试");
        QTest::newRow("still silent") << QByteArray("exec sleep 30\n")
                                      << QStringLiteral("· cloudflared 检测中… · 仅限临时开发测试");
    }

    void footerShowsVersionOnceKnown()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        FakeCloudflared fake(dir.path());
        QVERIFY(fake.install("if [ \"$1\" = --version ]; then " + answer + "fi\nexec sleep 30\n"));
        QSettings settings(dir.filePath(QStringLiteral("orvanta.conf")), QSettings::IniFormat);
        Preferences preferences(settings);
        SessionDependencies dependencies { Timings {}, fake.locator(), {} };
        dependencies.timings.versionQueryTimeout = std::chrono::seconds(20);
        TunnelStore store(&preferences, dependencies);
        ContentView view(&store, &preferences);
        auto *version = view.findChild<QLabel *>(QStringLiteral("versionLabel"));
        QVERIFY(version);
        QTRY_COMPARE(version->text(), shown);
        store.shutdownAll();
    }
};

QTEST_MAIN(TestContentView)
#include "TestContentView.moc"
