#pragma once

#include <QMainWindow>
#include <QSize>

/// \brief The one main window. Closing it never quits: tunnels keep running. With a tray to bring it
/// back it hides; without one it is minimised, so the task bar still shows the running program.
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

    /// Whether closing hides the window (something else can show it again) or minimises it.
    void setHideOnClose(bool hide) { m_hideOnClose = hide; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_hideOnClose = false;
};
