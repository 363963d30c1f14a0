#include "ProgramRig.h"
#include "app/AutostartEntry.h"
#include "app/MainMenu.h"
#include "app/MainWindow.h"
#include "app/QuitController.h"
#include "app/TrayIcon.h"
#include "ui/ContentView.h"
#include "ui/DisplayName.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SummaryPill.h"
#include "ui/TunnelDetailView.h"

#include <QtTest>
#include <QtWidgets>

using MainMenu::EditCommand;
using MainMenu::performEditCommand;

namespace {
void click(const QObject *parent, const char *button)
{
    QTest::mouseClick(parent->findChild<QAbstractButton *>(QLatin1String(button)), Qt::LeftButton);
}

/// The program with its window up.
struct App : ProgramRig
{
    explicit App(const QVariant &acknowledged = 2, int services = 1, const QVariantMap &stored = {})
        : ProgramRig(services, acknowledged, stored)
    {
        delegate->showMainWindow();
        QCoreApplication::processEvents(); // the notice is presented once the window is up
    }

    MainWindow *window() const { return delegate->mainWindow(); }
    ContentView *view() const { return qobject_cast<ContentView *>(window()->centralWidget()); }
    QString pill(const char *name) const { return view()->findChild<SummaryPill *>(QLatin1String(name))->text(); }
    QAbstractButton *button(const char *name) const
    {
        return view()->findChild<QAbstractButton *>(QLatin1String(name));
    }
    TunnelDetailView *pane() const { return qobject_cast<TunnelDetailView *>(view()->detail()); }
    QList<ServiceSidebarRow *> rows() const
    {
        QList<ServiceSidebarRow *> rows = view()->findChildren<ServiceSidebarRow *>();
        rows.removeIf([](QWidget *row) { return row->isHidden(); });
        return rows;
    }
    /// Waits for the window's alert, which must ask \a question (when given) while \a running services run,
    /// answers it with the button labelled \a answer (Escape when empty) and brings the window back to the front.
    bool answer(const QString &answer, const QString &question = {}, int running = 0) const
    {
        QMessageBox *box = nullptr;
        if (!QTest::qWaitFor([&] { return (box = view()->findChild<QMessageBox *>()) && box->isVisible(); }, 5000)
            || (!question.isEmpty() && (box->text() != question || store()->runningCount() != running)))
            return false;
        const QList<QAbstractButton *> buttons = box->buttons();
        const auto button = std::find_if(buttons.begin(), buttons.end(), [&](auto *b) { return b->text() == answer; });
        button == buttons.end() ? QTest::keyClick(box, Qt::Key_Escape) : QTest::mouseClick(*button, Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !view()->findChild<QMessageBox *>(); }, 5000))
            return false;
        window()->activateWindow(); // what the desktop does once an alert closes
        return answer.isEmpty() == (button == buttons.end()) && QTest::qWaitForWindowActive(window());
    }
};
} // namespace

class TestAppWindow : public QObject
{
    Q_OBJECT

public slots:
    void recordOpenedUrl(const QUrl &url) { m_opened = url; }

private slots:
    void freshWindow_data()
    {
        QTest::addColumn<QVariant>("stored"); // the version of the terms accepted earlier
        QTest::addColumn<bool>("asks");
        QTest::addColumn<bool>("autostart"); // a launch-at-login entry written earlier
        QTest::addColumn<bool>("writable"); // the autostart folder can be made
        QTest::newRow("nothing stored; autostart turned on and off") << QVariant() << true << false << true;
        QTest::newRow("older terms; autostart from an earlier run, off and on") << QVariant(1) << true << true << true;
        QTest::newRow("these terms; autostart cannot be written") << QVariant(2) << false << false << false;
        QTest::newRow("newer terms") << QVariant(3) << false << false << true;
        QTest::newRow("not a version") << QVariant(u"two"_qs) << true << false << true;
    }

    // A first window over an unreadable list: the terms asked for as stored, the banner, the menus.
    void freshWindow()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, asks);
        QFETCH(bool, autostart);
        QFETCH(bool, writable);
        QTemporaryDir home;
        qputenv("XDG_STATE_HOME", QFile::encodeName(home.filePath(u"state"_qs)));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        const QString entry = home.filePath(u"autostart/orvanta.desktop"_qs);
        QVERIFY(!autostart || AutostartEntry::setEnabled(true, u"/old/orvanta"_qs));
        if (!writable) {
            QVERIFY(QFile(home.filePath(u"autostart"_qs)).open(QIODevice::WriteOnly));
            for (int i = 0; i < 2; ++i)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Cannot write the autostart entry"_qs));
        }
        App app(stored, 1, { { Preferences::profilesKey, QByteArray("[{\"id\":\"\xff", 9) } });
        MainWindow *window = app.window();
        const auto notice = [&] { return app.view()->legalNotice(); };
        QCOMPARE(notice() != nullptr, asks);
        if (asks) {
            QVERIFY(notice()->requiresAcceptance());
            notice()->findChild<QAbstractButton *>(u"confirmBox"_qs)->click();
            click(notice(), "agreeButton");
            QTRY_VERIFY(!notice());
        }
        // Reviewing from the footer stores nothing and never lowers what is stored.
        click(app.view(), "legalLink");
        QTRY_VERIFY(notice() && !notice()->requiresAcceptance());
        click(notice(), "doneButton");
        QTRY_VERIFY(!notice());
        const QVariantMap saved = settingsOnDisk(app.path());
        QCOMPARE(saved.value(Preferences::legalAcknowledgementKey).toInt(), asks ? 2 : stored.toInt());

        // The unreadable list is told once: closing is what the store records, and a change does not bring it back.
        auto *banner = app.view()->findChild<QWidget *>(u"unreadableListBanner"_qs);
        const QString reason = app.view()->findChild<QLabel *>(u"unreadableListReason"_qs)->text();
        QVERIFY2(banner->isVisibleTo(app.view()) && reason.contains(app.path())
                && reason.contains(Preferences::unreadableProfilesKey),
            qPrintable(reason));
        click(app.view(), "unreadableListClose");
        app.store()->addProfile();
        QVERIFY(app.store()->unreadableNotice().isEmpty() && !banner->isVisibleTo(app.view()));

        auto *launchAtLogin = window->findChild<QAction *>(u"launchAtLoginAction"_qs);
        QVERIFY(launchAtLogin->isChecked() == autostart);
        for (const bool on : { !autostart && writable, autostart && writable }) {
            launchAtLogin->trigger(); // tried again where it cannot be written, and told again
            QVERIFY(launchAtLogin->isChecked() == on && QFileInfo::exists(entry) == on);
            QFile file(entry);
            const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            const QString exec = AutostartEntry::execLine(QCoreApplication::applicationFilePath());
            QVERIFY2(!on
                    || (text.startsWith("[Desktop Entry]\nType=Application\n")
                        && text.contains("\nExec=" + exec.toUtf8() + '\n')),
                text.constData());
        }
        // The log folder opens in the file manager even before anything was logged there.
        QDesktopServices::setUrlHandler(u"file"_qs, this, "recordOpenedUrl");
        window->findChild<QAction *>(u"openLogFolderAction"_qs)->trigger();
        QDesktopServices::unsetUrlHandler(u"file"_qs);
        QVERIFY(m_opened == QUrl::fromLocalFile(home.filePath(u"state/orvanta"_qs))
            && QFileInfo(m_opened.toLocalFile()).isDir());
        window->findChild<QAction *>(u"reconnectAutomaticallyAction"_qs)->trigger();
        QVERIFY(!app.store()->reconnectsAutomatically());
    }

    void quitStopsEveryChildButClosingDoesNot_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *path : { "shortcut", "menu", "notice", "event" })
            QTest::newRow(path) << QString::fromLatin1(path);
    }

    void quitStopsEveryChildButClosingDoesNot()
    {
        QFETCH(QString, path);
        App app(path == u"notice"_qs ? 1 : 2, 2);
        app.store()->startAll();
        QVERIFY(app.ready && app.reaches(0, TunnelStatus::Kind::online) && app.reaches(1, TunnelStatus::Kind::online));
        const auto children = [] { return ProgramRig::waitingChildren(QCoreApplication::applicationPid()); };
        QTRY_COMPARE_WITH_TIMEOUT(children().size(), 2, 30000);
        const QList<qint64> pids = children();
        QuitController *quit = app.delegate->quitController();
        // Closing the window is no quit: the tunnels run on, and the same window and view come back. Without a
        // tray to bring it back the window stays in the task bar, minimised.
        MainWindow *window = app.window();
        QWidget *content = window->centralWidget();
        QVERIFY(!app.delegate->trayIcon() && !window->close() && window->isVisible() && window->isMinimized());
        app.delegate->showMainWindow();
        window->setHideOnClose(true);
        QVERIFY(window->close() && !window->isVisible() && !quit->isQuitting() && children() == pids);
        app.delegate->showMainWindow();
        QVERIFY(window->isVisible() && !window->isMinimized() && app.window() == window
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
            QVERIFY(QCoreApplication::sendEvent(qApp, &event) && settled.isEmpty());
        }
        QVERIFY(quit->isQuitting() && !window->isVisible());
        QVERIFY(settled.size() == 1 || settled.wait(20000));
        qApp->removeEventFilter(quit);
        QVERIFY(!ProgramRig::isRunning(pids.first()) && !ProgramRig::isRunning(pids.last()));
        // Declining stores nothing.
        QCOMPARE(app.preferences->legalAcknowledgementVersion(), path == u"notice"_qs ? 1 : 2);
    }

    void execLine()
    {
        const QList<std::pair<QString, QString>> cases { // the executable, and the line written for it
            { u"/home/a b/orvanta"_qs, u"\"/home/a b/orvanta\" --hidden"_qs },
            { u"/opt/100%/orvanta"_qs, u"/opt/100%%/orvanta --hidden"_qs }, // a field code sign
            { u"/tmp/$x \"q\"/o"_qs, u"\"/tmp/\\\\$x \\\\\"q\\\\\"/o\" --hidden"_qs },
            { u"/a\\b"_qs, u"\"/a\\\\\\\\b\" --hidden"_qs }
        };
        for (const auto &[executable, exec] : cases)
            QCOMPARE(AutostartEntry::execLine(executable), exec);
    }

    // One window walked through by mouse and keyboard, the header and the tray counting along.
    void servicesThroughMouseAndKeyboard()
    {
        App app;
        MainWindow *window = app.window();
        TrayIcon tray(QIcon(), app.store());
        QVERIFY(app.ready && QTest::qWaitForWindowActive(window));
        const auto press = [window](QKeyCombination keys) { QTest::keySequence(window, QKeySequence(keys)); };
        const auto selected = [&] { return app.store()->sessions().indexOf(app.store()->selectedSession()); };
        const auto counted = [&](int services, int running) {
            return app.pill("servicesPill") == u"%1 个服务"_qs.arg(services)
                && app.pill("runningPill") == u"%1 个运行中"_qs.arg(running)
                && app.button("startAllButton")->isEnabled() == (running < services)
                && app.button("stopAllButton")->isEnabled() == (running > 0)
                && tray.toolTip()
                == (running ? u"奥文塔：%1 个隧道运行中"_qs.arg(running) : u"奥文塔：没有运行中的隧道"_qs);
        };
        const auto trayEntries = [&] { // the services it lists, each with or without an address to copy
            QStringList texts;
            for (const QAction *action : tray.menu()->actions()) {
                if (action->isVisible() && action->menu())
                    texts << action->text() + (action->menu()->actions().first()->isEnabled() ? u""_qs : u" -"_qs);
            }
            return texts;
        };
        QVERIFY(counted(1, 0) && trayEntries().isEmpty());

        // Added by the button and by the shortcut, the new service is selected and shown.
        click(app.view(), "addServiceButton");
        QTRY_COMPARE(app.rows().size(), 2);
        QVERIFY(counted(2, 0) && app.rows().at(1)->isSelected() && !app.rows().at(0)->isSelected()
            && app.pane()->session() == app.session(1));
        press(Qt::CTRL | Qt::Key_N);
        QCOMPARE(selected(), 2);
        QTRY_COMPARE(app.rows().size(), 3);
        // The arrows go on from the clicked row, taking the focus along.
        QTest::mouseClick(app.rows().at(1), Qt::LeftButton);
        for (const auto &[key, index] : { std::pair(Qt::Key_Down, 2), { Qt::Key_Down, 2 }, { Qt::Key_Up, 1 },
                 { Qt::Key_Home, 0 }, { Qt::Key_Up, 0 }, { Qt::Key_End, 2 } }) {
            QTest::keyClick(QApplication::focusWidget(), key);
            QVERIFY(selected() == index && QApplication::focusWidget() == app.rows().at(index));
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
        QVERIFY(app.answer(u"删除"_qs, TunnelDetailView::deleteTitle(typed.mid(1))));
        QTRY_COMPARE(app.rows().size(), 2);
        QTRY_VERIFY(app.pane() && app.pane()->session() == app.session(1) && app.rows().at(1)->isSelected());

        // Starting asks as the start button does.
        app.aim();
        TunnelProfile named = app.session(0)->profile();
        named.name = u"A&B"_qs;
        app.session(0)->setProfile(named);
        TunnelSession *session = app.session(1);
        const QString question = u"确认发布到公网？"_qs;
        press(Qt::CTRL | Qt::Key_Return);
        QVERIFY(app.answer(QString(), question) && session->status().is(TunnelStatus::Kind::idle));
        press(Qt::CTRL | Qt::Key_Return);
        QVERIFY(app.answer(u"确认启动"_qs, question) && app.reaches(1, TunnelStatus::Kind::online));
        QTRY_VERIFY(counted(2, 1));
        QGuiApplication::clipboard()->clear();
        press(Qt::CTRL | Qt::SHIFT | Qt::Key_C);
        QCOMPARE(QGuiApplication::clipboard()->text(), session->publicURL()->toString());

        // Starting all asks first, while the others run on; the tray lists the running, with nothing to copy yet
        // from one on its way.
        const QString all = u"确认全部发布到公网？"_qs;
        for (const QString &button : { u"取消"_qs, QString(), u"确认启动"_qs }) {
            click(app.view(), "startAllButton");
            QVERIFY(app.answer(button, all, 1));
        }
        QCOMPARE(app.store()->runningCount(), 2);
        QCOMPARE(trayEntries(), QStringList({ u"A&&B -"_qs, displayName(session->profile().name) }));
        QVERIFY(app.reaches(0, TunnelStatus::Kind::online));
        QTRY_VERIFY(counted(2, 2));
        QGuiApplication::clipboard()->clear();
        tray.menu()->actions().at(0)->menu()->actions().first()->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), app.session(0)->publicURL()->toString());
        // Stopping asks nothing, one or all.
        press(Qt::CTRL | Qt::Key_Return);
        QVERIFY(!app.view()->findChild<QMessageBox *>() && app.reaches(1, TunnelStatus::Kind::idle));
        click(app.view(), "stopAllButton");
        QTRY_VERIFY_WITH_TIMEOUT(counted(2, 0) && trayEntries().isEmpty(), 30000);

        // Deleting through the pane's button leaves the other service shown; with none selected, none is.
        click(app.pane(), "deleteButton");
        QVERIFY(app.answer(u"删除"_qs));
        QTRY_VERIFY(app.rows().size() == 1 && counted(1, 0));
        QTRY_VERIFY(app.pane() && app.pane()->session() == app.session(0) && app.rows().constFirst()->isSelected());
        app.store()->setSelectedID(std::nullopt);
        QCOMPARE(app.view()->detail()->objectName(), u"emptyDetail"_qs);
    }

    void editCommandsReachTheFocusedWidget()
    {
        QLineEdit line;
        QPlainTextEdit area;
        QClipboard *clipboard = QGuiApplication::clipboard();
        const auto perform = [](QWidget *field, std::initializer_list<EditCommand> commands) {
            return std::all_of(commands.begin(), commands.end(), [&](auto c) { return performEditCommand(field, c); });
        };
        for (QWidget *field : { static_cast<QWidget *>(&line), static_cast<QWidget *>(&area) }) {
            const auto text = [&] { return field->property(field == &area ? "plainText" : "text").toString(); };
            clipboard->clear(); // what is pasted must come from this field
            QTest::keyClicks(field, u"8080"_qs);
            QVERIFY(perform(field, { EditCommand::selectAll, EditCommand::cut }) && text().isEmpty());
            QVERIFY(clipboard->text() == u"8080"_qs && perform(field, { EditCommand::paste, EditCommand::paste }));
            QVERIFY(text() == u"80808080"_qs && perform(field, { EditCommand::undo }) && text() == u"8080"_qs);
        }
        QVERIFY(!performEditCommand(new QPushButton(&line), EditCommand::paste)
            && !performEditCommand(nullptr, EditCommand::copy));
        // A label only copies and selects, and only once it is selectable.
        QLabel label(u"https://four-random-words-here.trycloudflare.com"_qs);
        QVERIFY(!performEditCommand(&label, EditCommand::selectAll));
        label.setTextInteractionFlags(Qt::TextSelectableByMouse);
        clipboard->clear();
        QVERIFY(perform(&label, { EditCommand::selectAll, EditCommand::copy }) && clipboard->text() == label.text());
        QVERIFY(!performEditCommand(&label, EditCommand::paste));
    }

private:
    QUrl m_opened;
};

QTEST_MAIN(TestAppWindow)
#include "TestAppWindow.moc"
