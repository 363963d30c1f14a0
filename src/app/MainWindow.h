#pragma once

#include <QMainWindow>
#include <QSize>

/// \brief The one main window. Closing it only hides it: tunnels keep running and the window
/// comes back on the next start of the program or from the tray.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr QSize contentSize { 1080, 760 };
    static constexpr QSize minimumContentSize { 980, 680 };

    explicit MainWindow(QWidget *content, QWidget *parent = nullptr);

    /// Shows the window (restoring it when minimised) and raises it above the others.
    void bringToFront();
    void centreOnScreen();
    /// The content at its first size, whatever the menu bar's height.
    void resizeToContent();
};
