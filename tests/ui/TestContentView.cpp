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

#include <memory>

namespace {

/// The window's content over a real store, a settings file and a fake cloudflared.
struct Window
{
    /// Opens the window on the settings file at \a path (in the rig's folder when empty).
    void open(QString path = {}, Timings timings = {})
    {
        settings = std::make_unique<QSettings>(
            path.isEmpty() ? dir.filePath(u"orvanta.conf"_qs) : path, QSettings::IniFormat);
        preferences = std::make_unique<Preferences>(*settings);
        store = std::make_unique<TunnelStore>(preferences.get(), SessionDependencies { timings, fake.locator(), {} });
        view = std::make_unique<ContentView>(store.get(), preferences.get());
    }

    ~Window()
    {
        if (store)
            store->shutdownAll();
    }

    template <typename T = QWidget> T *find(const char *name) const
    {
        return view->findChild<T *>(QLatin1StringView(name));
    }

    QString version() const { return find<QLabel>("versionLabel")->text(); }

    QTemporaryDir dir;
    FakeCloudflared fake { dir.path() };
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<TunnelStore> store;
    std::unique_ptr<ContentView> view;
};

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    void failedSaveShowsBannerUntilASaveSucceeds()
    {
        Window window;
        // Markup in the reason (it names the file) must reach the user as typed.
        const QString path = window.dir.filePath(u"<b>设置</b>/orvanta.conf"_qs);
        QVERIFY(QDir().mkpath(path)); // a folder where the file should be: every save fails
        window.open(path);
        auto *banner = window.find("saveErrorBanner");
        auto *reason = window.find<QLabel>("saveErrorReason");
        QVERIFY(banner && reason);

        window.store->addProfile();
        window.store->savePendingChanges();
        QVERIFY(!window.store->saveError().isEmpty() && banner->isVisibleTo(window.view.get()));
        QCOMPARE(reason->text(), window.store->saveError());
        QVERIFY(reason->text().contains(u"<b>设置</b>"_qs) && reason->textFormat() == Qt::PlainText);
        // Above the list and the detail, across the whole width.
        window.view->resize(1080, 760);
        window.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.view.get()));
        QCOMPARE(banner->width(), window.view->width());
        QVERIFY(banner->geometry().bottom() < window.find("sidebar")->y());

        QVERIFY(QDir(path).removeRecursively());
        window.store->addProfile();
        window.store->savePendingChanges();
        QCOMPARE(window.store->saveError(), QString());
        QVERIFY(!banner->isVisibleTo(window.view.get()));
    }

    void footerShowsVersionOnceKnown_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("answers") << QByteArray("echo 'cloudflared version 2024.5.0 (built 2024-05-01)'; exit 0\n")
                                 << u"· cloudflared 2024.5.0 · 仅限临时开发测试"_qs;
        QTest::newRow("still silent") << QByteArray("exec sleep 30\n")
                                      << u"· cloudflared 检测中… · 仅限临时开发测试"_qs;
    }

    void footerShowsVersionOnceKnown()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, shown);
        Window window;
        QVERIFY(window.fake.install("if [ \"$1\" = --version ]; then " + answer + "fi\nexec sleep 30\n"));
        Timings timings;
        timings.versionQueryTimeout = std::chrono::seconds(20);
        window.open({}, timings);
        QTRY_COMPARE(window.version(), shown);
    }

    void cloudflaredInstalledLaterIsFound_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("the button") << u"button"_qs;
        QTest::newRow("coming back to the window") << u"activation"_qs;
        QTest::newRow("a start") << u"start"_qs;
    }

    void cloudflaredInstalledLaterIsFound()
    {
        QFETCH(QString, how);
        Window window;
        window.open();
        QWidget *notice = window.find("cloudflaredNotice");
        auto *redetect = window.find<QAbstractButton>("redetectButton");
        window.view->show();
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        QTRY_COMPARE(window.version(), u"· cloudflared 未找到 · 仅限临时开发测试"_qs);
        QVERIFY(notice->isVisibleTo(window.view.get()));
        // Where to get it, by name and address, which can be copied out; never a command to paste.
        QString all;
        for (const QLabel *label : notice->findChildren<QLabel *>()) {
            all += label->text() + u'\n';
            if (label->objectName() != u"redetectOutcome")
                QVERIFY2(label->textInteractionFlags() & Qt::TextSelectableByMouse, qPrintable(label->text()));
        }
        for (const char *needed : { "Debian / Ubuntu", "Fedora", "Arch Linux", "APT", "RPM", "pkg.cloudflare.com",
                 "github.com/cloudflare/cloudflared/releases" })
            QVERIFY2(all.contains(QString::fromUtf8(needed)), needed);
        for (const char *command : { "curl", "wget", "sudo", "| sh", "apt install", "dnf ", "pacman -" })
            QVERIFY2(!all.contains(QString::fromUtf8(command)), command);
        // Looking again while it is still missing says so, rather than seeming to do nothing.
        QTest::mouseClick(redetect, Qt::LeftButton);
        QTRY_VERIFY(window.find<QLabel>("redetectOutcome")->text().startsWith(u"仍未找到"_qs));

        QWidget elsewhere;
        elsewhere.show();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QVERIFY(window.fake.install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2025.1.1'; exit 0; fi\n"
            + FakeCloudflared::onlineBody()));
        if (how == u"button")
            QTest::mouseClick(redetect, Qt::LeftButton);
        else if (how == u"activation")
            window.view->activateWindow();
        else
            window.store->sessions().constFirst()->start();
        QTRY_COMPARE(window.version(), u"· cloudflared 2025.1.1 · 仅限临时开发测试"_qs);
        QVERIFY(!notice->isVisibleTo(window.view.get()));
        // Once found, coming back to the window runs nothing more.
        const int runs = window.fake.runs();
        for (QWidget *active : { &elsewhere, static_cast<QWidget *>(window.view.get()) }) {
            active->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(active));
        }
        QCOMPARE(window.fake.runs(), runs);
    }
};

QTEST_MAIN(TestContentView)
#include "TestContentView.moc"
