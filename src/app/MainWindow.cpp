#include "app/MainWindow.h"

#include "base/Resources.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMenuBar>
#include <QScreen>

MainWindow::MainWindow(QWidget *content, QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("奥文塔"));
    // Windows show the program's icon by themselves; decoding the large picture again would slow the start.
    if (QGuiApplication::windowIcon().isNull()) {
        const QString iconPath = resourcePath(QStringLiteral("orvanta.png"));
        if (!iconPath.isEmpty())
            setWindowIcon(QIcon(iconPath));
    }
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
