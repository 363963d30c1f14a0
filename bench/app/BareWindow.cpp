// The floor the program is measured against: a plain Qt Widgets window of the main window's size with
// one Chinese label, nothing else. Prints "frame" after its first paint.
#include "FirstPaint.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(1080, 760);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("奥文塔：把本机服务发布到临时公网地址")));
    window.installEventFilter(new FirstPaint(&app));
    window.show();
    return QApplication::exec();
}
