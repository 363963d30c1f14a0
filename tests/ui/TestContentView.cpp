#include "DetailRig.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"
#include "ui/style/Theme.h"

#include <QDir>
#include <QLabel>
#include <QSettings>

namespace {

/// The window's content over a real store, the settings file \a settingsName in its own folder and a fake
/// cloudflared that runs \a script, if any.
struct Window
{
    explicit Window(const QString &settingsName = u"orvanta.conf"_qs, const QByteArray &script = {})
        : installed(script.isEmpty() || fake.install(script))
        , settings(dir.filePath(settingsName), QSettings::IniFormat)
        , preferences(settings)
        , store(&preferences,
              SessionDependencies { Timings { .versionQueryTimeout = std::chrono::seconds(20) }, fake.locator(), {} })
        , view(&store, &preferences)
    {
    }

    ~Window() { store.shutdownAll(); }

    template <typename T = QWidget> T *find(const char *name) const { return child<T>(view, name); }
    QString version() const { return find<QLabel>("versionLabel")->text(); }

    QTemporaryDir dir;
    FakeCloudflared fake { dir.path() };
    bool installed;
    QSettings settings;
    Preferences preferences;
    TunnelStore store;
    ContentView view;
};

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    void failedSaveShowsBannerUntilASaveSucceeds()
    {
        // Markup in the reason (it names the file) must reach the user as typed. The footer waits for the
        // version of a cloudflared that has not answered yet.
        Window window(u"<b>设置</b>/orvanta.conf"_qs, "exec sleep 30\n");
        QVERIFY(window.installed);
        QCOMPARE(window.version(), u"· cloudflared 检测中… · 仅限临时开发测试"_qs);
        const QString path = window.settings.fileName();
        QVERIFY(QDir().mkpath(path)); // a folder where the file should be: every save fails
        auto *banner = window.find("saveErrorBanner");
        auto *reason = window.find<QLabel>("saveErrorReason");
        window.store.addProfile();
        window.store.savePendingChanges();
        QVERIFY(!window.store.saveError().isEmpty() && banner->isVisibleTo(&window.view));
        QCOMPARE(reason->text(), window.store.saveError());
        QVERIFY(reason->text().contains(u"<b>设置</b>"_qs) && reason->textFormat() == Qt::PlainText);

        QVERIFY(QDir(path).removeRecursively());
        window.store.addProfile();
        window.store.savePendingChanges();
        QVERIFY(window.store.saveError().isEmpty() && !banner->isVisibleTo(&window.view));
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
        QWidget *notice = window.find("cloudflaredNotice");
        auto *redetect = window.find<QAbstractButton>("redetectButton");
        window.view.show();
        QVERIFY(QTest::qWaitForWindowActive(&window.view));
        QTRY_COMPARE(window.version(), u"· cloudflared 未找到 · 仅限临时开发测试"_qs);
        QVERIFY(notice->isVisibleTo(&window.view));
        // Where to get it, by name and address, which can be copied out; never a command to paste.
        QString all;
        for (const QLabel *label : notice->findChildren<QLabel *>()) {
            all += label->text() + u'\n';
            if (label->objectName() != u"redetectOutcome")
                QVERIFY2(label->textInteractionFlags() & Qt::TextSelectableByMouse, qPrintable(label->text()));
        }
        QVERIFY(
            all.contains(u"pkg.cloudflare.com"_qs) && all.contains(u"github.com/cloudflare/cloudflared/releases"_qs));
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
            window.view.activateWindow();
        else
            window.store.sessions().constFirst()->start();
        QTRY_COMPARE(window.version(), u"· cloudflared 2025.1.1 · 仅限临时开发测试"_qs);
        QVERIFY(!notice->isVisibleTo(&window.view));
        // Once found, coming back to the window runs nothing more.
        const int runs = window.fake.runs();
        for (QWidget *active : { &elsewhere, static_cast<QWidget *>(&window.view) }) {
            active->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(active));
        }
        QCOMPARE(window.fake.runs(), runs);
    }
};

QTEST_MAIN(TestContentView)
#include "TestContentView.moc"
