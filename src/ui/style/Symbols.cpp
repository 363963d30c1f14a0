#include "ui/style/Symbols.h"

#include <QHash>

#include <utility>

namespace {

// The stand-ins chosen for the design's symbol names, in the order the views use them.
const std::pair<const char16_t *, const char16_t *> s_table[] = {
    // Window and lists
    { u"play.fill", u"play_arrow" },
    { u"stop.fill", u"stop" },
    { u"plus", u"add" },
    { u"circle.grid.2x2.fill", u"grid_view" },
    { u"bolt.fill", u"bolt" },
    { u"arrow.up.right", u"north_east" },
    { u"message.fill", u"chat" },
    { u"arrow.right", u"arrow_forward" },
    { u"arrow.triangle.2.circlepath", u"sync" },
    { u"square.stack.3d.up.slash", u"layers_clear" },
    { u"lock.shield.fill", u"admin_panel_settings" },
    { u"network", u"lan" },
    { u"server.rack", u"dns" },
    // Detail pane
    { u"trash", u"delete_outline" },
    { u"desktopcomputer", u"desktop_windows" },
    { u"globe.asia.australia.fill", u"public" },
    { u"slider.horizontal.3", u"tune" },
    { u"cloud.fill", u"cloud" },
    { u"exclamationmark.triangle.fill", u"warning" },
    { u"exclamationmark.shield.fill", u"gpp_maybe" },
    { u"ellipsis", u"more_horiz" },
    { u"link", u"link" },
    { u"doc.on.doc", u"content_copy" },
    { u"checkmark", u"check" },
    { u"safari", u"explore" },
    { u"link.badge.plus", u"add_link" },
    { u"list.bullet.rectangle", u"list_alt" },
    // Legal notice
    { u"doc.text", u"description" },
    { u"arrow.up.right.square", u"open_in_new" },
    { u"checkmark.shield", u"verified_user" },
    { u"network.badge.shield.half.filled", u"security" },
    { u"cloud", u"cloud_queue" },
    { u"hand.raised", u"pan_tool" },
};

const QHash<QString, QString> &table()
{
    static const QHash<QString, QString> map = [] {
        QHash<QString, QString> m;
        for (const auto &[name, ligature] : s_table)
            m.insert(QString::fromUtf16(name), QString::fromUtf16(ligature));
        return m;
    }();
    return map;
}

QStringList &unknown()
{
    static QStringList names;
    return names;
}

} // namespace

namespace Symbols {

namespace {
constexpr qreal symbolScale = 1.25;
}

QString ligature(const QString &name)
{
    const auto it = table().constFind(name);
    if (it != table().constEnd())
        return *it;
    if (!name.isEmpty() && !unknown().contains(name)) {
        unknown() << name;
        qWarning("No icon for the symbol name \"%s\"", qUtf8Printable(name));
    }
    return {};
}

QStringList unknownNames()
{
    return unknown();
}

QStringList names()
{
    QStringList list;
    for (const auto &entry : s_table)
        list << QString::fromUtf16(entry.first);
    return list;
}

QString fontFamily()
{
    return QStringLiteral("Material Icons");
}

QFont font(qreal size, QFont::Weight weight)
{
    QFont f(fontFamily());
    // Material glyphs fill less of their em square than the design's symbols; scale to match.
    f.setPixelSize(qMax(1, qRound(size * symbolScale)));
    f.setWeight(weight);
    // Ligatures must not be broken up by letter spacing or kerning tweaks.
    f.setKerning(true);
    f.setStyleStrategy(QFont::NoFontMerging);
    return f;
}

} // namespace Symbols
