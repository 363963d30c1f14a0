#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "app/MainMenu.h"
#include "app/MainWindow.h"
#include "legal/LegalNoticeView.h"
#include "session/TunnelSession.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/TunnelDetailView.h"
#include "ui/style/Theme.h"

#include <QtTest>
#include <QtWidgets>

using Kind = TunnelStatus::Kind;

namespace {
/// The main window as the program builds it, menus included, over \a services services aimed at a
/// live local server, with a fake `cloudflared` that comes online and stays.
struct Window
{
    explicit Window(int services)
        : settings(dir.filePath(QStringLiteral("orvanta.conf")), QSettings::IniFormat)
    {
        settings.setValue(Preferences::legalAcknowledgementKey, LegalNoticeView::currentVersion);
        preferences = std::make_unique<Preferences>(settings);
        ready = fake.install("if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n"
                    + FakeCloudflared::onlineBody(120))
            && origin.listenHttp();
        store = std::make_unique<TunnelStore>(preferences.get(),
            SessionDependencies { quickTimings(), fake.locator(), answeringPublicProbe({ true, 200, {} }) });
        while (store->sessions().size() < services)
            store->addProfile();
        for (TunnelSession *session : store->sessions()) {
            TunnelProfile profile = session->profile();
            profile.scheme = OriginScheme::http;
            profile.portText = QString::number(origin.port());
            session->setProfile(profile);
        }
        store->setSelectedID(store->sessions().constFirst()->id());
        view = new ContentView(store.get(), preferences.get());
        window = std::make_unique<MainWindow>(view);
        MainMenu::install(
            window.get(), [] {}, dir.filePath(QStringLiteral("logs")));
        window->show();
        ready = ready && QTest::qWaitForWindowActive(window.get());
    }
    ~Window()
    {
        window.reset();
        store->shutdownAll();
    }

    QList<ServiceSidebarRow *> rows() const
    {
        QList<ServiceSidebarRow *> rows = view->findChildren<ServiceSidebarRow *>();
        rows.removeIf([](QWidget *row) { return row->isHidden(); });
        std::sort(rows.begin(), rows.end(), [](QWidget *a, QWidget *b) { return a->y() < b->y(); });
        return rows;
    }
    int selectedIndex() const
    {
        const QList<TunnelSession *> &sessions = store->sessions();
        for (int i = 0; i < sessions.size(); ++i)
            if (store->selectedID() == sessions.at(i)->id())
                return i;
        return -1;
    }
    TunnelDetailView *pane() const { return qobject_cast<TunnelDetailView *>(view->detail()); }
    TunnelSession *selected() const { return store->selectedSession(); }
    /// The alert the window shows, or nullptr; alerts open at once, within the key press.
    QMessageBox *alert() const
    {
        auto *box = window->findChild<QMessageBox *>();
        return box && box->isVisible() ? box : nullptr;
    }
    /// Answers the alert asking \a question with the button \a answer; false when there is no such alert.
    bool answer(const QString &question, const QString &answer) const
    {
        QMessageBox *box = alert();
        if (!box || box->text() != question)
            return false;
        for (QAbstractButton *button : box->buttons())
            if (button->text() == answer) {
                QTest::keyClick(button, Qt::Key_Space);
                if (!QTest::qWaitFor([this] { return !window->findChild<QMessageBox *>(); }, 3000))
                    return false;
                // What the desktop does when an alert closes; the offscreen platform leaves it to us.
                window->activateWindow();
                return QTest::qWaitForWindowActive(window.get());
            }
        return false;
    }
    void press(QKeySequence keys) const { QTest::keySequence(window.get(), keys); }

    QTemporaryDir dir;
    QSettings settings;
    std::unique_ptr<Preferences> preferences;
    FakeCloudflared fake { dir.filePath(QStringLiteral("fake")) };
    LocalHttpServer origin;
    std::unique_ptr<TunnelStore> store;
    ContentView *view = nullptr;
    std::unique_ptr<MainWindow> window;
    bool ready = false;
};
} // namespace

/// The keyboard alone reaches every service action, and the menus show how.
class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    void serviceMenuShowsTheShortcuts()
    {
        Window window(1);
        QVERIFY(window.ready);
        // The icon a 200 % desktop shows at 256 px is drawn from a source twice that size.
        const QList<QSize> iconSizes = window.window->windowIcon().availableSizes();
        QVERIFY(!iconSizes.isEmpty() && iconSizes.constLast().width() >= 512);
        auto *menu = window.window->findChild<QMenu *>(QStringLiteral("serviceMenu"));
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("服务"));
        QStringList shown;
        for (const QAction *action : menu->actions())
            shown << action->text() + u' ' + action->shortcut().toString(QKeySequence::PortableText);
        QCOMPARE(shown,
            QStringList({ QStringLiteral("添加代理服务 Ctrl+N"), QStringLiteral("删除此服务… Del"),
                QStringLiteral("启动此服务… Ctrl+Return"), QStringLiteral("复制公网地址 Ctrl+Shift+C") }));
        const QList<QAction *> top = window.window->menuBar()->actions();
        QCOMPARE(top.size(), 4);
        QCOMPARE(top.at(2)->menu(), menu);
    }

    void arrowsAndAddingMoveTheSelection()
    {
        Window window(3);
        QVERIFY(window.ready);
        QTest::mouseClick(window.rows().at(1), Qt::LeftButton);
        QCOMPARE(window.selectedIndex(), 1);
        const struct
        {
            Qt::Key key;
            int selected;
        } steps[] = { { Qt::Key_Down, 2 }, { Qt::Key_Down, 2 }, { Qt::Key_Up, 1 }, { Qt::Key_Home, 0 },
            { Qt::Key_Up, 0 }, { Qt::Key_End, 2 } };
        for (const auto &step : steps) {
            QTest::keyClick(QApplication::focusWidget(), step.key);
            QCOMPARE(window.selectedIndex(), step.selected);
            // The selected row takes the focus along, and the pane follows.
            QCOMPARE(QApplication::focusWidget(), window.rows().at(step.selected));
            QCOMPARE(window.pane()->session(), window.selected());
        }
        window.press(QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(window.store->sessions().size(), 4);
        QCOMPARE(window.selectedIndex(), 3);
        QTRY_COMPARE(window.rows().size(), 4);
    }

    void deleteAsksUnlessTextIsEdited_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("left");
        QTest::newRow("the row, cancelled") << QStringLiteral("row") << QStringLiteral("取消") << 2;
        QTest::newRow("the row, confirmed") << QStringLiteral("row") << QStringLiteral("删除") << 1;
        QTest::newRow("a button of the pane") << QStringLiteral("startButton") << QStringLiteral("删除") << 1;
        QTest::newRow("the name field") << QStringLiteral("nameField") << QString() << 2;
        QTest::newRow("the port field") << QStringLiteral("portField") << QString() << 2;
    }

    void deleteAsksUnlessTextIsEdited()
    {
        QFETCH(QString, focus);
        QFETCH(QString, answer);
        QFETCH(int, left);
        Window window(2);
        QVERIFY(window.ready);
        TunnelSession *target = window.selected();
        const QString title = TunnelDetailView::deleteTitle(target->profile().name);
        QWidget *focused = focus == u"row" ? window.rows().constFirst() : window.pane()->findChild<QWidget *>(focus);
        focused->setFocus(Qt::TabFocusReason);
        auto *field = qobject_cast<QLineEdit *>(focused);
        if (field)
            field->setCursorPosition(0);
        const QString before = field ? field->text() : QString();
        QTest::keyClick(focused, Qt::Key_Delete);
        if (field) {
            // The key edits the text: the first character goes, the service stays and nothing asks.
            QCOMPARE(field->text(), before.mid(1));
            QVERIFY(!window.alert());
        } else {
            QVERIFY(window.answer(title, answer));
        }
        QTRY_COMPARE(window.store->sessions().size(), left);
        QCOMPARE(window.store->sessions().contains(target), left == 2);
    }

    void startStopAndCopyFromTheKeyboard()
    {
        Window window(1);
        QVERIFY(window.ready);
        TunnelSession *session = window.selected();
        auto *startStop = window.window->findChild<QAction *>(QStringLiteral("startStopServiceAction"));
        auto *copy = window.window->findChild<QAction *>(QStringLiteral("copyAddressAction"));
        QVERIFY(!copy->isEnabled());
        QGuiApplication::clipboard()->clear();
        window.press(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString());

        // Starting asks first, as the button does; declining starts nothing.
        const QString question = QStringLiteral("确认发布到公网？");
        window.press(QKeySequence(Qt::CTRL | Qt::Key_Return));
        QVERIFY(window.answer(question, QStringLiteral("取消")));
        QVERIFY(session->status().is(Kind::idle));
        window.press(QKeySequence(Qt::CTRL | Qt::Key_Return));
        QVERIFY(window.answer(question, QStringLiteral("确认启动")));
        QTRY_VERIFY_WITH_TIMEOUT(session->status().is(Kind::online), 20000);
        QCOMPARE(startStop->text(), QStringLiteral("停止此服务"));

        QTRY_VERIFY(copy->isEnabled());
        window.press(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
        QCOMPARE(QGuiApplication::clipboard()->text(), session->publicURL()->toString());
        QVERIFY(window.pane()->isCopied());

        // Stopping asks nothing.
        window.press(QKeySequence(Qt::CTRL | Qt::Key_Return));
        QVERIFY(!window.alert());
        QTRY_VERIFY_WITH_TIMEOUT(session->status().is(Kind::idle), 20000);
        QTRY_COMPARE(startStop->text(), QStringLiteral("启动此服务…"));
    }
};

QTEST_MAIN(TestKeyboard)
#include "TestKeyboard.moc"
