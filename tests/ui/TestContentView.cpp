#include "FakeCloudflared.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"
#include "ui/style/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
/// The window's content over a real store and settings file, with \a fake as the only `cloudflared`.
struct Window
{
    explicit Window(const FakeCloudflared &fake)
        : settings(dir.filePath(QStringLiteral("orvanta.conf")), QSettings::IniFormat)
        , preferences(settings)
        , store(&preferences, { { .versionQueryTimeout = std::chrono::seconds(20) }, fake.locator(), {} })
        , view(&store, &preferences)
    {
    }
    ~Window() { store.shutdownAll(); }
    template <typename T = QWidget> T *find(const char *name) const { return view.findChild<T *>(QLatin1String(name)); }

    QTemporaryDir dir;
    QSettings settings;
    Preferences preferences;
    TunnelStore store;
    ContentView view;
};
} // namespace

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
                                 << QStringLiteral("2024.5.0");
        QTest::newRow("still silent") << QByteArray("exec sleep 30\n") << QStringLiteral("检测中…");
    }

    void footerShowsVersionOnceKnown()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        FakeCloudflared fake(dir.path());
        QVERIFY(fake.install("if [ \"$1\" = --version ]; then " + answer + "fi\nexec sleep 30\n"));
        Window window(fake);
        QTRY_COMPARE(window.find<QLabel>("versionLabel")->text(),
            QStringLiteral("· cloudflared ") + shown + QStringLiteral(" · 仅限临时开发测试"));
        QVERIFY(!window.find("cloudflaredNotice")->isVisibleTo(&window.view));
    }

    void cloudflaredInstalledLaterIsFound_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("the button") << QStringLiteral("button");
        QTest::newRow("coming back to the window") << QStringLiteral("activation");
        QTest::newRow("a start") << QStringLiteral("start");
    }

    void cloudflaredInstalledLaterIsFound()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        FakeCloudflared fake(dir.path());
        Window window(fake);
        QWidget *notice = window.find("cloudflaredNotice");
        auto *version = window.find<QLabel>("versionLabel");
        window.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&window.view));
        QTRY_COMPARE(version->text(), QStringLiteral("· cloudflared 未找到 · 仅限临时开发测试"));
        QVERIFY(notice->isVisibleTo(&window.view));
        QStringList texts;
        for (const QLabel *label : notice->findChildren<QLabel *>())
            texts << label->text();
        // Where to get it, by name and address; never a command to paste.
        const QString all = texts.join(u'\n');
        for (const char *needed : { "Debian / Ubuntu", "Fedora", "Arch Linux", "APT", "RPM", "pkg.cloudflare.com",
                 "github.com/cloudflare/cloudflared/releases" })
            QVERIFY2(all.contains(QString::fromUtf8(needed)), needed);
        for (const char *command : { "curl", "wget", "sudo", "| sh", "apt install", "dnf ", "pacman -" })
            QVERIFY2(!all.contains(QString::fromUtf8(command)), command);
        // Looking again while it is still missing says so, rather than seeming to do nothing.
        QTest::mouseClick(window.find<QAbstractButton>("redetectButton"), Qt::LeftButton);
        QTRY_VERIFY(window.find<QLabel>("redetectOutcome")->text().startsWith(QStringLiteral("仍未找到")));

        QWidget elsewhere;
        elsewhere.show();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QVERIFY(fake.install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2025.1.1'; exit 0; fi\n"
            + FakeCloudflared::onlineBody()));
        if (how == u"button")
            QTest::mouseClick(window.find<QAbstractButton>("redetectButton"), Qt::LeftButton);
        else if (how == u"activation")
            window.view.activateWindow();
        else
            window.store.sessions().constFirst()->start();
        QTRY_COMPARE(version->text(), QStringLiteral("· cloudflared 2025.1.1 · 仅限临时开发测试"));
        QVERIFY(!notice->isVisibleTo(&window.view));
        // Once found, coming back to the window runs nothing more.
        const int runs = fake.runs();
        for (QWidget *active : { &elsewhere, static_cast<QWidget *>(&window.view) }) {
            active->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(active));
        }
        QCOMPARE(fake.runs(), runs);
    }
};

QTEST_MAIN(TestContentView)
#include "TestContentView.moc"
