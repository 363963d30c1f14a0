#pragma once

#include <functional>

class QMainWindow;
class QWidget;

/// \brief The menu bar: "奥文塔" (quit), "编辑" (acting on the focused field) and "窗口".
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

void install(QMainWindow *window, const std::function<void()> &quit);

} // namespace MainMenu
