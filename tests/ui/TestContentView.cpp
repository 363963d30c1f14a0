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
        QSettings settings(dir.filePath(QStringLiteral("orvanta.conf")), QSettings::IniFormat);
        Preferences preferences(settings);
        TunnelStore store(&preferences, { {}, fake.locator(), {} });
        ContentView view(&store, &preferences);
        const auto find = [&view](const char *name) { return view.findChild<QWidget *>(QLatin1String(name)); };
        QWidget *notice = find("cloudflaredNotice");
        auto *version = view.findChild<QLabel *>(QStringLiteral("versionLabel"));
        auto *redetect = qobject_cast<QAbstractButton *>(find("redetectButton"));
        view.show();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QTRY_COMPARE(version->text(), QStringLiteral("· cloudflared 未找到 · 仅限临时开发测试"));
        QVERIFY(notice->isVisibleTo(&view));
        // Where to get it, by name and address; never a command to paste.
        QString all;
        for (const QLabel *label : notice->findChildren<QLabel *>()) {
            all += label->text() + u'\n';
            // Names and addresses can be copied out.
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
        QTRY_VERIFY(find("redetectOutcome")->property("text").toString().startsWith(QStringLiteral("仍未找到")));

        QWidget elsewhere;
        elsewhere.show();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QVERIFY(fake.install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2025.1.1'; exit 0; fi\n"
            + FakeCloudflared::onlineBody()));
        if (how == u"button")
            QTest::mouseClick(redetect, Qt::LeftButton);
        else if (how == u"activation")
            view.activateWindow();
        else
            store.sessions().constFirst()->start();
        QTRY_COMPARE(version->text(), QStringLiteral("· cloudflared 2025.1.1 · 仅限临时开发测试"));
        QVERIFY(!notice->isVisibleTo(&view));
        // Once found, coming back to the window runs nothing more.
        const int runs = fake.runs();
        for (QWidget *active : { &elsewhere, static_cast<QWidget *>(&view) }) {
            active->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(active));
        }
        QCOMPARE(fake.runs(), runs);
    }
};

QTEST_MAIN(TestContentView)
#include "TestContentView.moc"
