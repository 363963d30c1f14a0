#include "ProcessProbe.h"
#include "ProgramRig.h"
#include "app/MainMenu.h"
#include "app/MainWindow.h"
#include "app/QuitController.h"
#include "app/TrayIcon.h"
#include "store/Preferences.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"
#include "ui/DisplayName.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SummaryPill.h"
#include "ui/TunnelDetailView.h"
#include "ui/style/ActionButton.h"

#include <QtTest>
#include <QtWidgets>

using MainMenu::EditCommand;
using MainMenu::performEditCommand;
using namespace ProcessProbe;

namespace {
/// The program with its window up.
struct App : ProgramRig
{
    explicit App(const QVariant &acknowledged = 2, int services = 1, const QByteArray &prelude = {},
        const QVariantMap &stored = {})
        : ProgramRig(services, acknowledged, prelude, stored)
    {
        delegate->showMainWindow();
        QCoreApplication::processEvents(); // the notice is presented once the window is up
    }

    ContentView *view() const { return qobject_cast<ContentView *>(delegate->mainWindow()->centralWidget()); }
    QString pill(const char *name) const { return view()->findChild<SummaryPill *>(QLatin1String(name))->text(); }
    ActionButton *button(const char *name) const { return view()->findChild<ActionButton *>(QLatin1String(name)); }
    TunnelDetailView *pane() const { return qobject_cast<TunnelDetailView *>(view()->detail()); }
    QList<ServiceSidebarRow *> rows() const
    {
        QList<ServiceSidebarRow *> rows = view()->findChildren<ServiceSidebarRow *>();
        rows.removeIf([](QWidget *row) { return row->isHidden(); });
        return rows;
    }
    /// Waits for the window's alert, which must ask \a question (when given) while \a running services
    /// run, and answers it with the button labelled \a answer (Escape when empty).
    bool answerAlert(const QString &answer, const QString &question = {}, int running = 0) const
    {
        QMessageBox *box = nullptr;
        if (!QTest::qWaitFor([&] { return (box = view()->findChild<QMessageBox *>()) && box->isVisible(); }, 5000)
            || (!question.isEmpty() && (box->text() != question || store()->runningCount() != running)))
            return false;
        const QList<QAbstractButton *> buttons = box->buttons();
        const auto button = std::find_if(buttons.begin(), buttons.end(), [&](auto *b) { return b->text() == answer; });
        button == buttons.end() ? QTest::keyClick(box, Qt::Key_Escape) : QTest::mouseClick(*button, Qt::LeftButton);
        return answer.isEmpty() == (button == buttons.end());
    }
};
} // namespace

class TestAppWindow : public QObject
{
    Q_OBJECT

public slots:
    void recordOpenedUrl(const QUrl &url) { m_opened = url; }

private slots:
    void unreadableListIsToldOnceInTheWindow()
    {
        App app(2, 1, {}, { { Preferences::profilesKey, QByteArray("[{\"id\":\"\xff", 9) } });
        auto *banner = app.view()->findChild<QWidget *>(u"unreadableListBanner"_qs);
        auto *reason = app.view()->findChild<QLabel *>(u"unreadableListReason"_qs);
        QVERIFY(banner && reason && banner->isVisibleTo(app.view()));
        QVERIFY2(reason->text().contains(app.path()) && reason->text().contains(Preferences::unreadableProfilesKey),
            qPrintable(reason->text()));
        QTest::mouseClick(app.view()->findChild<QAbstractButton *>(u"unreadableListClose"_qs), Qt::LeftButton);
        // Closing is what the store records; another change of the store does not bring it back.
        QCOMPARE(app.store()->unreadableNotice(), QString());
        app.store()->addProfile();
        QVERIFY(!banner->isVisibleTo(app.view()));
    }

    void headerAndStartingAll_data()
    {
        QTest::addColumn<int>("services");
        QTest::addColumn<int>("started"); // before all are started
        QTest::addColumn<QString>("answer"); // to the question starting all asks first
        QTest::newRow("one idle, cancelled") << 1 << 0 << u"取消"_qs;
        QTest::newRow("mixed, escaped") << 3 << 1 << QString();
        QTest::newRow("two idle, confirmed") << 2 << 0 << u"确认启动"_qs;
    }

    void headerAndStartingAll()
    {
        QFETCH(int, services);
        QFETCH(int, started);
        QFETCH(QString, answer);
        App app(2, services);
        const auto headerShows = [&](int running) {
            const auto shows = [&](const char *name, bool enabled) {
                return app.button(name)->isEnabled() == enabled
                    && app.button(name)->opacity() == (enabled ? 1.0 : 0.45);
            };
            return app.pill("servicesPill") == QString::number(services) + u" 个服务"_qs
                && app.pill("runningPill") == QString::number(running) + u" 个运行中"_qs
                && shows("startAllButton", running < services) && shows("stopAllButton", running > 0);
        };
        QVERIFY(app.ready && app.bringOnline(started));
        QVERIFY(headerShows(started));
        QTest::mouseClick(app.button("startAllButton"), Qt::LeftButton);
        QVERIFY(app.answerAlert(answer, u"确认全部发布到公网？"_qs, started));
        const int running = answer == u"确认启动"_qs ? services : started;
        QCOMPARE(app.store()->runningCount(), running);
        QTRY_VERIFY(headerShows(running));
        if (running > 0) { // stopping all asks nothing
            QTest::mouseClick(app.button("stopAllButton"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(headerShows(0), 30000);
        }
    }

    void noticeGating_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("asks");
        QTest::newRow("absent") << QVariant() << true;
        QTest::newRow("1") << QVariant(1) << true;
        QTest::newRow("2") << QVariant(2) << false;
        QTest::newRow("3") << QVariant(3) << false;
        QTest::newRow("text") << QVariant(u"two"_qs) << true;
    }

    void noticeGating()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, asks);
        App app(stored);
        QCOMPARE(app.view()->legalNotice() != nullptr, asks);
        if (asks) {
            QVERIFY(app.view()->legalNotice()->requiresAcceptance()
                && app.view()->legalNotice()->windowModality() == Qt::WindowModal);
            app.view()->legalNotice()->findChild<QAbstractButton *>(u"confirmBox"_qs)->click();
            QTest::mouseClick(
                app.view()->legalNotice()->findChild<QAbstractButton *>(u"agreeButton"_qs), Qt::LeftButton);
            QTRY_VERIFY(!app.view()->legalNotice());
        }
        // Reviewing from the footer stores nothing and never lowers what is stored.
        QTest::mouseClick(app.view()->findChild<QAbstractButton *>(u"legalLink"_qs), Qt::LeftButton);
        QTRY_VERIFY(app.view()->legalNotice());
        QVERIFY(!app.view()->legalNotice()->requiresAcceptance());
        QTest::mouseClick(app.view()->legalNotice()->findChild<QAbstractButton *>(u"doneButton"_qs), Qt::LeftButton);
        QTRY_VERIFY(!app.view()->legalNotice());
        QCOMPARE(
            settingsOnDisk(app.path()).value(Preferences::legalAcknowledgementKey).toInt(), asks ? 2 : stored.toInt());
    }

    void quitStopsEveryChildButClosingDoesNot_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("ignoresTerm");
        QTest::newRow("shortcut, polite children") << u"shortcut"_qs << false;
        QTest::newRow("menu, stubborn children") << u"menu"_qs << true;
        QTest::newRow("notice declined") << u"notice"_qs << true;
        QTest::newRow("application quit event") << u"event"_qs << true;
    }

    void quitStopsEveryChildButClosingDoesNot()
    {
        QFETCH(QString, path);
        QFETCH(bool, ignoresTerm);
        App app(path == u"notice"_qs ? 1 : 2, 2, ignoresTerm ? "trap '' TERM\n" : "");
        QVERIFY(app.ready && app.bringOnline(2));
        QTRY_COMPARE_WITH_TIMEOUT(waitingChildren(QCoreApplication::applicationPid()).size(), 2, 30000);
        const QList<qint64> pids = waitingChildren(QCoreApplication::applicationPid());
        QuitController *quit = app.delegate->quitController();
        // Closing the window is no quit: the tunnels run on, and the same window and view come back. Without a
        // tray to bring it back the window stays in the task bar, minimised.
        MainWindow *window = app.delegate->mainWindow();
        QWidget *content = window->centralWidget();
        QVERIFY(!app.delegate->trayIcon());
        QVERIFY(!window->close() && window->isVisible() && window->isMinimized());
        app.delegate->showMainWindow();
        window->setHideOnClose(true);
        QVERIFY(window->close() && !window->isVisible() && !quit->isQuitting());
        QCOMPARE(waitingChildren(QCoreApplication::applicationPid()), pids);
        app.delegate->showMainWindow();
        QVERIFY(window->isVisible() && !window->isMinimized() && app.delegate->mainWindow() == window
            && window->centralWidget() == content);

        QSignalSpy settled(quit, &QuitController::childrenSettled);
        if (path == u"shortcut"_qs) {
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
        } else if (path == u"menu"_qs) {
            window->findChild<QAction *>(u"quitAction"_qs)->trigger();
        } else if (path == u"notice"_qs) {
            QTRY_VERIFY(app.view()->legalNotice());
            app.view()->legalNotice()->findChild<QAbstractButton *>(u"declineButton"_qs)->click();
        } else { // what the desktop session or QCoreApplication::quit() delivers: held back, not obeyed at once
            quit->interceptApplicationQuit();
            QEvent event(QEvent::Quit);
            QVERIFY(QCoreApplication::sendEvent(qApp, &event));
            QCOMPARE(settled.size(), 0);
            for (const qint64 pid : pids)
                QVERIFY(isRunning(pid));
        }
        QVERIFY(quit->isQuitting() && !window->isVisible());
        QVERIFY(settled.size() == 1 || settled.wait(20000));
        qApp->removeEventFilter(quit);
        for (const qint64 pid : pids)
            QVERIFY(!isRunning(pid));
        QCOMPARE(
            app.preferences->legalAcknowledgementVersion(), path == u"notice"_qs ? 1 : 2); // declining stores nothing
    }

    void trayCountsAndCopiesRunningServices()
    {
        App app(2, 3);
        TunnelProfile named = app.store()->sessions().at(1)->profile();
        named.name = u"A&B"_qs;
        app.store()->sessions().at(1)->setProfile(named);
        TrayIcon tray(QIcon(), app.store());
        const auto entries = [&] {
            QStringList texts;
            for (const QAction *action : tray.menu()->actions()) {
                if (!action->isVisible())
                    continue;
                const QMenu *service = action->menu();
                const QAction *copy = service ? service->actions().first() : nullptr;
                texts << (copy ? action->text() + u'/' + copy->text() + (copy->isEnabled() ? u""_qs : u" (off)"_qs)
                               : action->text());
            }
            return texts;
        };
        QCOMPARE(tray.toolTip(), u"奥文塔：没有运行中的隧道"_qs);
        QCOMPARE(entries(), QStringList({ u"显示主窗口"_qs, QString(), u"退出 奥文塔"_qs }));

        QVERIFY(app.ready && app.bringOnline(2));
        app.store()->sessions().at(2)->start(); // on its way: listed, nothing to copy yet
        QCOMPARE(tray.toolTip(), u"奥文塔：3 个隧道运行中"_qs);
        const QString first = displayName(app.store()->sessions().at(0)->profile().name);
        QCOMPARE(entries(),
            QStringList({ first + u"/复制链接"_qs, u"A&&B/复制链接"_qs,
                displayName(app.store()->sessions().at(2)->profile().name) + u"/复制链接 (off)"_qs, QString(),
                u"显示主窗口"_qs, QString(), u"退出 奥文塔"_qs }));
        QGuiApplication::clipboard()->clear();
        tray.menu()->actions().at(1)->menu()->actions().first()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), app.store()->sessions().at(1)->publicURL()->toString());

        app.store()->stopAll();
        QTRY_COMPARE_WITH_TIMEOUT(tray.toolTip(), u"奥文塔：没有运行中的隧道"_qs, 30000);
        QCOMPARE(entries(), QStringList({ u"显示主窗口"_qs, QString(), u"退出 奥文塔"_qs }));
    }

    void menusAndWindowShortcuts()
    {
        QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        App app;
        MainWindow *window = app.delegate->mainWindow();
        // The log folder opens in the file manager even before anything was logged there.
        QDesktopServices::setUrlHandler(u"file"_qs, this, "recordOpenedUrl");
        window->findChild<QAction *>(u"openLogFolderAction"_qs)->trigger();
        QDesktopServices::unsetUrlHandler(u"file"_qs);
        QCOMPARE(m_opened, QUrl::fromLocalFile(state.filePath(u"orvanta"_qs)));
        QVERIFY(QFileInfo(m_opened.toLocalFile()).isDir());
        auto *reconnect = window->findChild<QAction *>(u"reconnectAutomaticallyAction"_qs);
        QVERIFY(reconnect->isCheckable() && reconnect->isChecked());
        reconnect->trigger();
        QVERIFY(!app.store()->reconnectsAutomatically());
        // The icon a 200 % desktop shows at 256 px is drawn from a source twice that size.
        QVERIFY(window->windowIcon().availableSizes().constLast().width() >= 512);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::keyClick(window, Qt::Key_M, Qt::ControlModifier);
        QTRY_VERIFY(window->isMinimized());
        window->findChild<QAction *>(u"bringAllToFrontAction"_qs)->trigger();
        QTRY_VERIFY(!window->isMinimized());
    }

    void servicesThroughMouseAndKeyboard()
    {
        App app;
        MainWindow *window = app.delegate->mainWindow();
        QVERIFY(app.ready && QTest::qWaitForWindowActive(window));
        const auto press = [window](QKeyCombination keys) { QTest::keySequence(window, QKeySequence(keys)); };
        const auto selected = [&] { return app.store()->sessions().indexOf(app.store()->selectedSession()); };
        const auto answer = [&](const QString &button, const QString &question = {}) {
            const bool answered = app.answerAlert(button, question);
            if (!QTest::qWaitFor([&] { return !app.view()->findChild<QMessageBox *>(); }, 5000))
                return false;
            window->activateWindow(); // what the desktop does once an alert closes
            return answered && QTest::qWaitForWindowActive(window);
        };

        // Added by the button and by the shortcut, the new service is selected and shown.
        QTest::mouseClick(app.view()->findChild<QAbstractButton *>(u"addServiceButton"_qs), Qt::LeftButton);
        QCOMPARE(app.pill("servicesPill"), u"2 个服务"_qs);
        QTRY_COMPARE(app.rows().size(), 2);
        QVERIFY(app.rows().at(1)->isSelected() && !app.rows().at(0)->isSelected());
        QCOMPARE(app.pane()->session(), app.session(1));
        press(Qt::CTRL | Qt::Key_N);
        QCOMPARE(selected(), 2);
        QTRY_COMPARE(app.rows().size(), 3);
        // The arrows go on from the clicked row, taking the focus along.
        QTest::mouseClick(app.rows().at(1), Qt::LeftButton);
        for (const auto &[key, index] : { std::pair(Qt::Key_Down, 2), { Qt::Key_Down, 2 }, { Qt::Key_Up, 1 },
                 { Qt::Key_Home, 0 }, { Qt::Key_Up, 0 }, { Qt::Key_End, 2 } }) {
            QTest::keyClick(QApplication::focusWidget(), key);
            QCOMPARE(selected(), index);
            QCOMPARE(QApplication::focusWidget(), app.rows().at(index));
        }

        // Delete belongs to a text field being edited; elsewhere it asks to delete the service, and the one
        // before it is shown.
        auto *name = app.pane()->findChild<QLineEdit *>(u"nameField"_qs);
        name->setFocus();
        name->setCursorPosition(0);
        const QString typed = name->text();
        QTest::keyClick(name, Qt::Key_Delete);
        QVERIFY(name->text() == typed.mid(1) && !app.view()->findChild<QMessageBox *>());
        app.rows().at(2)->setFocus();
        QTest::keyClick(app.rows().at(2), Qt::Key_Delete);
        QVERIFY(answer(u"删除"_qs, TunnelDetailView::deleteTitle(typed.mid(1))));
        QTRY_COMPARE(app.rows().size(), 2);
        QTRY_VERIFY(app.pane() && app.pane()->session() == app.session(1) && app.rows().at(1)->isSelected());

        // Starting asks as the start button does; stopping asks nothing.
        app.aim();
        TunnelSession *session = app.session(1);
        const QString question = u"确认发布到公网？"_qs;
        press(Qt::CTRL | Qt::Key_Return);
        QVERIFY(answer(QString(), question) && session->status().is(TunnelStatus::Kind::idle));
        press(Qt::CTRL | Qt::Key_Return);
        QVERIFY(answer(u"确认启动"_qs, question));
        QVERIFY(app.reaches(1, TunnelStatus::Kind::online));
        QGuiApplication::clipboard()->clear();
        press(Qt::CTRL | Qt::SHIFT | Qt::Key_C);
        QCOMPARE(QGuiApplication::clipboard()->text(), session->publicURL()->toString());

        // Clicking the row already selected keeps the pane; another service, then back, gives fresh ones.
        QPointer<TunnelDetailView> before = app.pane();
        before->findChild<QAbstractButton *>(u"disclosureButton"_qs)->click();
        QVERIFY(before->showAdvanced() && before->isCopied());
        QTest::mouseClick(app.rows().at(1), Qt::LeftButton);
        QCOMPARE(app.pane(), before.data());
        QTest::mouseClick(app.rows().at(0), Qt::LeftButton);
        QCOMPARE(app.pane()->session(), app.session(0));
        QTRY_VERIFY(before.isNull());
        QTest::mouseClick(app.rows().at(1), Qt::LeftButton);
        QVERIFY(app.pane()->session() == session && !app.pane()->showAdvanced() && !app.pane()->isCopied());
        press(Qt::CTRL | Qt::Key_Return);
        QVERIFY(!app.view()->findChild<QMessageBox *>());
        QVERIFY(app.reaches(1, TunnelStatus::Kind::idle));

        // Deleting through the pane's button leaves the other service shown; with none selected, none is.
        QTest::mouseClick(app.pane()->findChild<QAbstractButton *>(u"deleteButton"_qs), Qt::LeftButton);
        QVERIFY(answer(u"删除"_qs));
        QTRY_COMPARE(app.rows().size(), 1);
        QCOMPARE(app.pill("servicesPill"), u"1 个服务"_qs);
        QTRY_VERIFY(app.pane() && app.pane()->session() == app.session(0) && app.rows().constFirst()->isSelected());
        app.store()->setSelectedID(std::nullopt);
        QCOMPARE(app.view()->detail()->objectName(), u"emptyDetail"_qs);
    }

    void editCommandsReachTheFocusedWidget()
    {
        QLineEdit line;
        QPlainTextEdit area;
        for (QWidget *field : { static_cast<QWidget *>(&line), static_cast<QWidget *>(&area) }) {
            const auto text = [&] { return field->property(field == &area ? "plainText" : "text").toString(); };
            QGuiApplication::clipboard()->clear(); // what is pasted must come from this field
            QTest::keyClicks(field, u"8080"_qs);
            for (const EditCommand command : { EditCommand::selectAll, EditCommand::cut })
                QVERIFY(performEditCommand(field, command));
            QVERIFY(text().isEmpty() && QGuiApplication::clipboard()->text() == u"8080"_qs);
            for (const EditCommand command : { EditCommand::paste, EditCommand::paste })
                QVERIFY(performEditCommand(field, command));
            QCOMPARE(text(), u"80808080"_qs);
            QVERIFY(performEditCommand(field, EditCommand::undo));
            QCOMPARE(text(), u"8080"_qs);
        }
        QVERIFY(!performEditCommand(new QPushButton(&line), EditCommand::paste)
            && !performEditCommand(nullptr, EditCommand::copy));

        // A label only copies and selects, and only once it is selectable.
        const QString address = u"https://four-random-words-here.trycloudflare.com"_qs;
        QLabel label(address);
        QVERIFY(!performEditCommand(&label, EditCommand::selectAll));
        label.setTextInteractionFlags(Qt::TextSelectableByMouse);
        QGuiApplication::clipboard()->clear();
        QVERIFY(performEditCommand(&label, EditCommand::selectAll) && performEditCommand(&label, EditCommand::copy));
        QCOMPARE(QGuiApplication::clipboard()->text(), address);
        QVERIFY(!performEditCommand(&label, EditCommand::paste) && label.text() == address);
    }

private:
    QUrl m_opened;
};

QTEST_MAIN(TestAppWindow)
#include "TestAppWindow.moc"
