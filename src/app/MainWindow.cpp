#include "app/MainWindow.h"

#include "app/ProgramIcon.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

MainWindow::MainWindow(QWidget *content, QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("奥文塔"));
    // Windows show the program's icon by themselves; this is for windows made without the program.
    if (QGuiApplication::windowIcon().isNull())
        setWindowIcon(programIcon());
    content->setMinimumSize(minimumContentSize);
    setCentralWidget(content);
    resizeToContent();
}

void MainWindow::resizeToContent()
{
    // The menu bar lives inside the window here, so the window grows by its height.
    resize(contentSize.width(), contentSize.height() + menuBar()->heightForWidth(contentSize.width()));
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::centreOnScreen()
{
    const QScreen *target = screen();
    if (!target)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(target->availableGeometry().center());
    move(frame.topLeft());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_hideOnClose) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    showMinimized();
}
