#include "ui/style/Theme.h"

#include "ui/style/DeferredIcon.h"

#include <QApplication>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QWidget>

namespace {

/// Fusion, with its own icons made only when drawn: the menu bar asks for one it shows only when its
/// menus overflow, and reading that picture loads every image plugin.
class Style : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    QIcon standardIcon(StandardPixmap which, const QStyleOption *option, const QWidget *widget) const override
    {
        if (option)
            return QProxyStyle::standardIcon(which, option, widget);
        return deferredIcon(
            [style = QPointer<const QStyle>(baseStyle()), which, widget = QPointer<const QWidget>(widget)] {
                return style ? style->standardIcon(which, nullptr, widget) : QIcon();
            });
    }
};

} // namespace

namespace Theme {

QColor withOpacity(QColor color, qreal opacity)
{
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QString fontFamily()
{
    return QStringLiteral("Noto Sans CJK SC");
}

QFont font(qreal size, QFont::Weight weight)
{
    QFont f(fontFamily());
    // Design sizes are device-independent pixels; point sizes would follow the desktop's DPI
    // and outgrow the fixed layout lengths.
    f.setPixelSize(qMax(1, qRound(size)));
    if (weight >= QFont::DemiBold) {
        // Bold is drawn by emboldening the regular face: the separate bold CJK file would map
        // another 8 MB into every window for a look that differs by a hair.
        f.setStyleName(QStringLiteral("Regular"));
        f.setWeight(QFont::Bold);
    } else {
        // The face has no medium or light weights: they would only be more font engines drawing the
        // same glyphs.
        f.setWeight(QFont::Normal);
    }
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

QFont roundedFont(qreal size, QFont::Weight weight)
{
    return font(size, weight);
}

QFont monospacedFont(qreal size, QFont::Weight weight)
{
    // The regular face's figures all have one width, so a time that ticks does not shift; the
    // monospaced face would add 3.5 MB of font tables to every window for the one label that uses it.
    return font(size, weight);
}

QPalette palette()
{
    QPalette p;
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, panel);
    p.setColor(QPalette::AlternateBase, field);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::PlaceholderText, subtle);
    p.setColor(QPalette::Button, panel);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, panel);
    p.setColor(QPalette::ToolTipBase, panel);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Link, accent);
    p.setColor(QPalette::Light, panel);
    p.setColor(QPalette::Midlight, field);
    p.setColor(QPalette::Mid, border);
    p.setColor(QPalette::Dark, subtle);
    p.setColor(QPalette::Shadow, muted);
    for (auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        p.setColor(QPalette::Disabled, role, subtle);
    return p;
}

void install(QApplication &app)
{
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(new Style(fusion));
    QApplication::setPalette(palette());
    app.setFont(font(13));
}

} // namespace Theme
