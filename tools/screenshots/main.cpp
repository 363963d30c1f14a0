// Renders every registered scene offscreen into <outdir>/<scene>.png.
// Usage: orvanta-screenshots <outdir> [scene-name-substring]

#include "SceneKit.h"

#include "ui/style/Theme.h"

#include <QApplication>
#include <QDir>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    Theme::install(app);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: orvanta-screenshots <outdir> [filter]\n");
        return 2;
    }
    const QDir out(args.at(1));
    QDir().mkpath(out.path());
    const QString filter = args.value(2);

    int failures = 0;
    for (const Scene &scene : scenes()) {
        if (!filter.isEmpty() && !scene.name.contains(filter))
            continue;
        SceneKit kit;
        QWidget *widget = scene.build(kit);
        if (!widget) {
            std::fprintf(stderr, "%s: the scene did not reach its state\n", qPrintable(scene.name));
            ++failures;
            continue;
        }
        QSize size = scene.size;
        auto *scroll = qobject_cast<QScrollArea *>(widget);
        const bool fitHeight = size.height() <= 0;
        if (fitHeight) {
            // As tall as the content wants; a scroll area then grows until nothing is left to scroll.
            QWidget *measured = scroll && scroll->widget() ? scroll->widget() : widget;
            const int h = measured->hasHeightForWidth() && !scroll ? measured->heightForWidth(size.width()) : -1;
            size.setHeight(h > 0 ? h : measured->minimumSizeHint().height());
        }
        widget->resize(size);
        widget->show();
        if (fitHeight && scroll) {
            SceneKit::settle(100);
            if (const int rest = scroll->verticalScrollBar()->maximum(); rest > 0)
                widget->resize(size.width(), size.height() + rest);
        }
        SceneKit::settle(250); // refreshes are coalesced per frame; let them and the layouts land
        // The first control of a freshly shown window takes the focus; a picture shows no focus ring.
        if (QWidget *focused = QApplication::focusWidget())
            focused->clearFocus();
        SceneKit::settle(50);
        const QString path = out.filePath(scene.name + QStringLiteral(".png"));
        if (!widget->grab().save(path)) {
            std::fprintf(stderr, "%s: cannot write %s\n", qPrintable(scene.name), qPrintable(path));
            ++failures;
        } else {
            std::printf("%s\n", qPrintable(path));
        }
        delete widget;
    }
    return failures == 0 ? 0 : 1;
}
