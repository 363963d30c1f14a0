#include "app/MainMenu.h"

#include "app/AutostartEntry.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QSignalBlocker>
#include <QUrl>

namespace MainMenu {

namespace {
const char *slotName(EditCommand command)
{
    switch (command) {
    case EditCommand::undo:
        return "undo";
    case EditCommand::cut:
        return "cut";
    case EditCommand::copy:
        return "copy";
    case EditCommand::paste:
        return "paste";
    case EditCommand::selectAll:
        return "selectAll";
    }
    return "";
}

// Selectable labels have no edit slots; copy and select-all are what makes sense for them.
bool performOnLabel(QLabel *label, EditCommand command)
{
    if (!(label->textInteractionFlags() & Qt::TextSelectableByMouse))
        return false;
    if (command == EditCommand::copy && label->hasSelectedText()) {
        QGuiApplication::clipboard()->setText(label->selectedText());
        return true;
    }
    if (command == EditCommand::selectAll) {
        label->setSelection(0, int(label->text().size()));
        return true;
    }
    return false;
}

QAction *addAction(QMenu *menu, const QString &text, const QString &name, const QKeySequence &shortcut = {})
{
    QAction *action = menu->addAction(text);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    return action;
}

// Checked while the autostart entry exists; a write that fails leaves the mark as the disk is.
void addLaunchAtLogin(QMenu *menu)
{
    QAction *action = addAction(menu, QStringLiteral("登录时启动"), QStringLiteral("launchAtLoginAction"));
    action->setCheckable(true);
    action->setChecked(AutostartEntry::isEnabled());
    QObject::connect(action, &QAction::toggled, menu, [action](bool checked) {
        AutostartEntry::setEnabled(checked, QCoreApplication::applicationFilePath());
        const QSignalBlocker blocker(action);
        action->setChecked(AutostartEntry::isEnabled());
    });
    QObject::connect(menu, &QMenu::aboutToShow, action, [action] {
        const QSignalBlocker blocker(action);
        action->setChecked(AutostartEntry::isEnabled());
    });
}
} // namespace

bool performEditCommand(QWidget *target, EditCommand command)
{
    if (!target)
        return false;
    if (auto *label = qobject_cast<QLabel *>(target))
        return performOnLabel(label, command);
    const QByteArray signature = QByteArray(slotName(command)) + "()";
    if (target->metaObject()->indexOfSlot(signature.constData()) < 0)
        return false;
    return QMetaObject::invokeMethod(target, slotName(command));
}

void install(QMainWindow *window, const std::function<void()> &quit, const QString &logDirectory, TunnelStore *store)
{
    QMenuBar *bar = window->menuBar();
    bar->clear();

    QMenu *appMenu = bar->addMenu(QStringLiteral("奥文塔"));
    appMenu->setObjectName(QStringLiteral("appMenu"));
    QAction *logs = addAction(appMenu, QStringLiteral("打开日志文件夹"), QStringLiteral("openLogFolderAction"));
    QObject::connect(logs, &QAction::triggered, window, [logDirectory] {
        QDir().mkpath(logDirectory); // nothing may have been logged yet
        QDesktopServices::openUrl(QUrl::fromLocalFile(logDirectory));
    });
    addLaunchAtLogin(appMenu);
    if (store) {
        QAction *reconnect
            = addAction(appMenu, QStringLiteral("断线后自动重新连接"), QStringLiteral("reconnectAutomaticallyAction"));
        reconnect->setCheckable(true);
        reconnect->setChecked(store->reconnectsAutomatically());
        QObject::connect(reconnect, &QAction::toggled, store, &TunnelStore::setReconnectsAutomatically);
    }
    appMenu->addSeparator();
    QAction *quitAction = addAction(
        appMenu, QStringLiteral("退出 奥文塔"), QStringLiteral("quitAction"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction->setMenuRole(QAction::QuitRole);
    QObject::connect(quitAction, &QAction::triggered, window, [quit] { quit(); });

    QMenu *editMenu = bar->addMenu(QStringLiteral("编辑"));
    editMenu->setObjectName(QStringLiteral("editMenu"));
    const auto addEdit = [&](const QString &text, const QString &name, Qt::Key key, EditCommand command) {
        QAction *action = addAction(editMenu, text, name, QKeySequence(Qt::CTRL | key));
        QObject::connect(action, &QAction::triggered, window,
            [command] { performEditCommand(QApplication::focusWidget(), command); });
    };
    addEdit(QStringLiteral("撤销"), QStringLiteral("undoAction"), Qt::Key_Z, EditCommand::undo);
    editMenu->addSeparator();
    addEdit(QStringLiteral("剪切"), QStringLiteral("cutAction"), Qt::Key_X, EditCommand::cut);
    addEdit(QStringLiteral("复制"), QStringLiteral("copyAction"), Qt::Key_C, EditCommand::copy);
    addEdit(QStringLiteral("粘贴"), QStringLiteral("pasteAction"), Qt::Key_V, EditCommand::paste);
    addEdit(QStringLiteral("全选"), QStringLiteral("selectAllAction"), Qt::Key_A, EditCommand::selectAll);

    if (const auto *content = qobject_cast<ContentView *>(window->centralWidget())) {
        QMenu *serviceMenu = bar->addMenu(QStringLiteral("服务"));
        serviceMenu->setObjectName(QStringLiteral("serviceMenu"));
        serviceMenu->addActions(content->serviceActions());
    }

    QMenu *windowMenu = bar->addMenu(QStringLiteral("窗口"));
    windowMenu->setObjectName(QStringLiteral("windowMenu"));
    QAction *minimise = addAction(
        windowMenu, QStringLiteral("最小化"), QStringLiteral("minimizeAction"), QKeySequence(Qt::CTRL | Qt::Key_M));
    QObject::connect(minimise, &QAction::triggered, window, &QWidget::showMinimized);
    QAction *zoom = addAction(windowMenu, QStringLiteral("缩放"), QStringLiteral("zoomAction"));
    QObject::connect(zoom, &QAction::triggered, window,
        [window] { window->isMaximized() ? window->showNormal() : window->showMaximized(); });
    windowMenu->addSeparator();
    QAction *front = addAction(windowMenu, QStringLiteral("全部置于前面"), QStringLiteral("bringAllToFrontAction"));
    QObject::connect(front, &QAction::triggered, window, [window] {
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        window->activateWindow();
    });
}

} // namespace MainMenu
