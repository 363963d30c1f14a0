#include "UiTestSupport.h"
#include "ui/style/ActionButton.h"
#include "ui/style/CardBackground.h"
#include "ui/style/RoundedShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/TextFieldStyle.h"
#include "ui/style/Theme.h"
#include "ui/widgets/LogoTile.h"
#include "ui/widgets/RoundedBox.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

namespace {

QColor over(const QColor &top, const QColor &bottom)
{
    const qreal a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a), top.greenF() * a + bottom.greenF() * (1 - a),
        top.blueF() * a + bottom.blueF() * (1 - a));
}

// Dark pixels of \a text drawn in \a font: a heavier weight covers more of the square.
int inkOf(const QString &text, const QFont &font)
{
    QImage image(200, 40, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ink += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
    }
    return ink;
}

QList<QGlyphRun> glyphRuns(const QString &text, const QFont &font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    return layout.glyphRuns();
}

} // namespace

class TestStyle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Theme::install(*qApp);
        QVERIFY2(Symbols::font(16).isValid(), "icon font missing from the build tree's resources");
    }

    // Every weight comes from the one regular CJK face (a second face file costs megabytes of
    // memory); the heavy weights must still be drawn heavier.
    void everyWeightUsesTheRegularFace_data()
    {
        QTest::addColumn<QFont::Weight>("weight");
        QTest::addColumn<bool>("heavy");
        QTest::newRow("normal") << QFont::Normal << false;
        QTest::newRow("medium") << QFont::Medium << false;
        QTest::newRow("demibold") << QFont::DemiBold << true;
        QTest::newRow("bold") << QFont::Bold << true;
    }

    void everyWeightUsesTheRegularFace()
    {
        QFETCH(QFont::Weight, weight);
        QFETCH(bool, heavy);
        const QString text = QStringLiteral("奥文塔代理服务");
        const QList<QGlyphRun> runs = glyphRuns(text, Theme::font(14, weight));
        QVERIFY(!runs.isEmpty());
        for (const QGlyphRun &run : runs)
            QCOMPARE(run.rawFont().styleName(), QStringLiteral("Regular"));
        const int regularInk = inkOf(text, Theme::font(14));
        const int ink = inkOf(text, Theme::font(14, weight));
        if (heavy)
            QVERIFY2(ink > regularInk * 11 / 10, qPrintable(QStringLiteral("%1 vs %2").arg(ink).arg(regularInk)));
        else
            QCOMPARE(ink, regularInk);
    }

    void everySymbolIsAGlyph()
    {
        const QStringList names = Symbols::names();
        QVERIFY(names.size() >= 27);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        for (const QString &name : names) {
            const QGlyphRun glyph = Symbols::glyph(name, 16);
            QVERIFY2(glyph.glyphIndexes().size() == 1, qPrintable(name));
            QVERIFY2(!glyph.rawFont().pathForGlyph(glyph.glyphIndexes().constFirst()).isEmpty(), qPrintable(name));
        }
        QVERIFY(Symbols::glyph(QStringLiteral("no.such.symbol"), 16).isEmpty());
    }

    // Pressed keeps the outline (the primary look has none); dimmed is drawn see-through; a full-height
    // button lines up with a text field.
    void buttonLooks_data()
    {
        QTest::addColumn<bool>("primary");
        QTest::addColumn<bool>("compact");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<QColor>("pressedFill");
        const QColor pressedPrimary = over(Theme::withOpacity(Theme::accent, 0.82), Theme::background);
        QTest::newRow("primary") << true << false << Theme::accent << pressedPrimary;
        QTest::newRow("primary compact") << true << true << Theme::accent << pressedPrimary;
        QTest::newRow("secondary") << false << false << Theme::panel << Theme::sidebar;
        QTest::newRow("secondary compact") << false << true << Theme::panel << Theme::sidebar;
    }

    void buttonLooks()
    {
        QFETCH(bool, primary);
        QFETCH(bool, compact);
        QFETCH(QColor, fill);
        QFETCH(QColor, pressedFill);
        auto made = primary ? std::make_unique<ActionButton>(PrimaryButtonStyle { compact })
                            : std::make_unique<ActionButton>(SecondaryButtonStyle { compact });
        ActionButton &button = *made;
        button.setText(QStringLiteral("启动"));
        QLineEdit field;
        TextFieldStyle::apply(&field);
        QVERIFY(compact ? button.height() < field.height() : button.height() == field.height());
        const QPoint inside(4, button.height() / 2);
        QVERIFY(nearColor(renderShown(button).pixelColor(inside), fill));
        button.setDown(true);
        const QImage pressed = renderShown(button);
        QVERIFY(nearColor(pressed.pixelColor(inside), pressedFill));
        const QColor edge = pressed.pixelColor(button.width() / 2, 0);
        QCOMPARE(nearColor(edge, Theme::border, 25), !primary);
        button.setDown(false);
        button.setOpacity(0.48);
        QVERIFY(
            nearColor(renderShown(button).pixelColor(inside), over(Theme::withOpacity(fill, 0.48), Theme::background)));

        field.resize(200, field.sizeHint().height());
        QVERIFY(nearColor(renderShown(field).pixelColor(100, 20), Theme::field));
    }

    void panelDrawsCardBehindContent()
    {
        QWidget card;
        applyCardBackground(&card, 16);
        card.resize(120, 80);
        const QImage image = renderShown(card);
        QVERIFY(nearColor(image.pixelColor(60, 40), Theme::panel, 1));
        // Rounded corner: the very corner pixel keeps the background.
        QVERIFY(nearColor(image.pixelColor(0, 0), Theme::background));
    }

    void shadowFallsBesideTheCard_data()
    {
        QTest::addColumn<bool>("parentPaints");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("shadowed");
        QTest::newRow("shown card") << false << true << true << true;
        QTest::newRow("on a parent that paints its own face") << true << true << true << true;
        QTest::newRow("hidden card") << false << false << true << false;
        QTest::newRow("switched off, as for a row not selected") << false << true << false << false;
    }

    void shadowFallsBesideTheCard()
    {
        QFETCH(bool, parentPaints);
        QFETCH(bool, shown);
        QFETCH(bool, enabled);
        QFETCH(bool, shadowed);
        QWidget window;
        window.resize(300, 200);
        QWidget *parent = parentPaints ? new RoundedBox(0, Theme::background, {}, 1.0, &window) : new QWidget(&window);
        parent->resize(window.size());
        // Made before it has a parent, as a layout would take it.
        auto *card = new QWidget;
        applyCardBackground(card, 16);
        card->setParent(parent);
        auto *shadow = parent->findChild<RoundedShadow *>();
        QVERIFY(shadow);
        shadow->setShadowShown(enabled);
        card->setGeometry(40, 40, 120, 80);
        card->setVisible(shown);
        const QImage image = renderShown(window);
        // Just below the card the shadow darkens the background; far from it nothing does.
        const QColor below = image.pixelColor(100, 40 + 80 + 3);
        QCOMPARE(below.lightness() < QColor(Theme::background).lightness() - 1, shadowed);
        QVERIFY(nearColor(image.pixelColor(260, 160), Theme::background, 1));
        QCOMPARE(nearColor(image.pixelColor(100, 80), Theme::panel, 1), shown);

        // The shadow leaves with its card rather than staying behind on the parent.
        delete card;
        QTRY_VERIFY(parent->findChildren<RoundedShadow *>().isEmpty());
    }

    void logoFallbackAndPicture_data()
    {
        QTest::addColumn<int>("variant");
        QTest::newRow("company") << int(LogoTileKind::company);
        QTest::newRow("product") << int(LogoTileKind::product);
    }

    void logoFallbackAndPicture()
    {
        QFETCH(int, variant);
        const auto v = LogoTileKind(variant);
        QTemporaryDir dir;
        LogoTile::setPictureDirectory(dir.path());
        LogoTile logo(v, 40, 11);
        QCOMPARE(logo.size(), QSize(40, 40));

        // Without a picture: the gradient tile, a white monogram somewhere in the middle, rounded corners.
        QImage tile = renderShown(logo);
        QVERIFY(nearColor(tile.pixelColor(0, 0), Theme::background));
        QVERIFY(nearColor(tile.pixelColor(6, 6), Theme::accent, 12));
        QVERIFY(nearColor(tile.pixelColor(33, 33), Theme::accentStrong, 12));
        bool white = false;
        for (int y = 12; y < 28 && !white; ++y)
            for (int x = 12; x < 28 && !white; ++x)
                white = nearColor(tile.pixelColor(x, y), Qt::white, 30);
        QVERIFY2(white, "monogram not drawn");

        // A picture that would be blown up on a 200 % screen is not used: 79 px for a 40 px tile.
        QImage small(200, 79, QImage::Format_RGB32);
        small.fill(Qt::green);
        QVERIFY(small.save(dir.filePath(LogoTile::resourceName(v))));
        QVERIFY(nearColor(renderShown(logo).pixelColor(6, 6), Theme::accent, 12));

        // A wide picture fills the tile and is cropped at the sides, never letter-boxed.
        QImage picture(200, 100, QImage::Format_RGB32);
        picture.fill(Qt::green);
        for (int x = 0; x < 20; ++x)
            for (int y = 0; y < 100; ++y)
                picture.setPixelColor(x, y, Qt::red);
        QVERIFY(picture.save(dir.filePath(LogoTile::resourceName(v))));
        // Pictures are read again when their time changes; two saves may share a clock tick.
        QFile saved(dir.filePath(LogoTile::resourceName(v)));
        QVERIFY(saved.open(QIODevice::ReadWrite)
            && saved.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
        tile = renderShown(logo);
        QVERIFY(nearColor(tile.pixelColor(20, 2), Qt::green, 30));
        QVERIFY(nearColor(tile.pixelColor(20, 37), Qt::green, 30));
        QVERIFY(nearColor(tile.pixelColor(2, 20), Qt::green, 30)); // the red band lies outside the crop
        LogoTile::setPictureDirectory({});
    }
};

QTEST_MAIN(TestStyle)
#include "TestStyle.moc"
