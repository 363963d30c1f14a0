#pragma once

#include <functional>

class QMainWindow;
class QString;
class QWidget;

/// \brief The menu bar: "奥文塔" (log folder, start at login, reconnecting, quit), "编辑" (acting on the focused
/// field), "服务" (the main window's service actions) and "窗口".
namespace MainMenu {

enum class EditCommand {
    undo,
    cut,
    copy,
    paste,
    selectAll,
};

/// Sends \a command to a text field, text area or selectable label; returns false for anything else.
bool performEditCommand(QWidget *target, EditCommand command);

/// \a logDirectory is opened in the file manager by "打开日志文件夹"; preferences are added with addSetting().
void install(QMainWindow *window, const std::function<void()> &quit, const QString &logDirectory);

/// A checkable entry of the "奥文塔" menu, above quitting; \a toggled gets every change the user makes.
void addSetting(QMainWindow *window, const QString &text, const QString &name, bool checked,
    const std::function<void(bool)> &toggled);

} // namespace MainMenu
