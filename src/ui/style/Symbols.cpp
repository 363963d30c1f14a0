#include "ui/style/Symbols.h"

#include "base/Resources.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QRawFont>

#include <utility>

namespace {

// The stand-ins chosen for the design's symbol names (Material Icons code points, with the icon's own
// name), in the order the views use them.
const std::pair<const char16_t *, char16_t> s_table[] = {
    // Window and lists
    { u"play.fill", 0xe037 }, // play_arrow
    { u"stop.fill", 0xe047 }, // stop
    { u"plus", 0xe145 }, // add
    { u"circle.grid.2x2.fill", 0xe9b0 }, // grid_view
    { u"bolt.fill", 0xea0b }, // bolt
    { u"arrow.up.right", 0xf1e1 }, // north_east
    { u"message.fill", 0xe0b7 }, // chat
    { u"arrow.right", 0xe5c8 }, // arrow_forward
    { u"arrow.triangle.2.circlepath", 0xe627 }, // sync
    { u"square.stack.3d.up.slash", 0xe53c }, // layers_clear
    { u"lock.shield.fill", 0xef3d }, // admin_panel_settings
    { u"network", 0xeb2f }, // lan
    { u"server.rack", 0xe875 }, // dns
    // Detail pane
    { u"trash", 0xe92e }, // delete_outline
    { u"desktopcomputer", 0xe30c }, // desktop_windows
    { u"globe.asia.australia.fill", 0xe80b }, // public
    { u"slider.horizontal.3", 0xe429 }, // tune
    { u"cloud.fill", 0xe2bd }, // cloud
    { u"exclamationmark.triangle.fill", 0xe002 }, // warning
    { u"exclamationmark.circle.fill", 0xe000 }, // error
    { u"exclamationmark.shield.fill", 0xf014 }, // gpp_maybe
    { u"ellipsis", 0xe5d3 }, // more_horiz
    { u"link", 0xe157 }, // link
    { u"doc.on.doc", 0xe14d }, // content_copy
    { u"checkmark", 0xe5ca }, // check
    { u"xmark", 0xe5cd }, // close
    { u"safari", 0xe87a }, // explore
    { u"link.badge.plus", 0xe178 }, // add_link
    { u"list.bullet.rectangle", 0xe0ee }, // list_alt
    { u"qrcode", 0xe00a }, // qr_code_2
    { u"eye", 0xe8f4 }, // visibility
    { u"eye.slash", 0xe8f5 }, // visibility_off
    { u"person.2.fill", 0xe7fb }, // people
    // Legal notice
    { u"doc.text", 0xe873 }, // description
    { u"arrow.up.right.square", 0xe89e }, // open_in_new
    { u"checkmark.shield", 0xe8e8 }, // verified_user
    { u"network.badge.shield.half.filled", 0xe32a }, // security
    { u"cloud", 0xe2c2 }, // cloud_queue
    { u"hand.raised", 0xe925 }, // pan_tool
};

const QHash<QString, char16_t> &table()
{
    static const QHash<QString, char16_t> map = [] {
        QHash<QString, char16_t> m;
        for (const auto &[name, codePoint] : s_table)
            m.insert(QString::fromUtf16(name), codePoint);
        return m;
    }();
    return map;
}

QStringList &unknown()
{
    static QStringList names;
    return names;
}

// The icon font is read straight from its file: looked up by family, the system's WOFF2 copy of the
// same font wins, and is decompressed again for every face Qt opens.
struct FontCache
{
    QRawFont base;
    QHash<int, QRawFont> bySize;
};

FontCache *cache()
{
    static FontCache *instance = nullptr;
    if (!instance) {
        instance = new FontCache;
        // Font engines must go before the application's font back end does.
        qAddPostRoutine([] {
            delete instance;
            instance = nullptr;
        });
        QFile file(resourcePath(QStringLiteral("MaterialIcons-Regular.ttf")));
        if (file.open(QIODevice::ReadOnly))
            instance->base.loadFromData(file.readAll(), 16, QFont::PreferDefaultHinting);
        if (!instance->base.isValid())
            qWarning("The icon font MaterialIcons-Regular.ttf is missing: icons are not drawn");
    }
    return instance;
}

} // namespace

namespace Symbols {

namespace {
// Material glyphs fill less of their em square than the design's symbols; scale to match.
constexpr qreal symbolScale = 1.25;
} // namespace

char16_t codePoint(const QString &name)
{
    const auto it = table().constFind(name);
    if (it != table().constEnd())
        return *it;
    if (!name.isEmpty() && !unknown().contains(name)) {
        unknown() << name;
        qWarning("No icon for the symbol name \"%s\"", qUtf8Printable(name));
    }
    return 0;
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

QRawFont font(qreal size)
{
    FontCache *fonts = cache();
    if (!fonts->base.isValid())
        return {};
    const int pixels = qMax(1, qRound(size * symbolScale));
    auto it = fonts->bySize.find(pixels);
    if (it == fonts->bySize.end()) {
        QRawFont sized = fonts->base;
        sized.setPixelSize(pixels);
        it = fonts->bySize.insert(pixels, sized);
    }
    return *it;
}

QGlyphRun glyph(const QString &name, qreal size)
{
    const char16_t code = codePoint(name);
    const QRawFont raw = font(size);
    QGlyphRun run;
    if (code == 0 || !raw.isValid())
        return run;
    const QList<quint32> indexes = raw.glyphIndexesForString(QString(QChar(code)));
    if (indexes.value(0) == 0)
        return run;
    run.setRawFont(raw);
    run.setGlyphIndexes(indexes);
    run.setPositions({ QPointF(0, 0) });
    return run;
}

qreal advance(const QGlyphRun &glyph)
{
    if (glyph.isEmpty())
        return 0;
    return glyph.rawFont().advancesForGlyphIndexes(glyph.glyphIndexes()).value(0).x();
}

} // namespace Symbols
