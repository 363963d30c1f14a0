#include "UiTestSupport.h"
#include "ui/style/ActionButton.h"
#include "ui/style/CardBackground.h"
#include "ui/style/RoundedShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/TextFieldStyle.h"
#include "ui/widgets/LogoTile.h"
#include "ui/widgets/RoundedBox.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

namespace {

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
        QVERIFY2(Theme::loadFonts(), "icon font missing from the build tree's resources");
    }

    // Every weight comes from the one regular CJK face (a second face file costs megabytes of
    // memory); the heavy weights must still be drawn heavier.
    void everyWeightUsesTheRegularFace()
    {
        const QString text = u"奥文塔代理服务"_qs;
        auto ink = [&text](QFont::Weight weight) {
            QImage image(200, 40, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(Theme::font(14, weight));
            painter.drawText(image.rect(), Qt::AlignCenter, text);
            painter.end();
            int dark = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
            return dark;
        };
        for (const QFont::Weight weight : { QFont::Medium, QFont::DemiBold, QFont::Bold }) {
            for (const QGlyphRun &run : glyphRuns(text, Theme::font(14, weight)))
                QCOMPARE(run.rawFont().styleName(), u"Regular"_qs);
            if (weight == QFont::Medium)
                QCOMPARE(ink(weight), ink(QFont::Normal));
            else
                QVERIFY2(ink(weight) > ink(QFont::Normal) * 11 / 10, qPrintable(QString::number(weight)));
        }
    }

    void everySymbolIsOneGlyph()
    {
        const QStringList names = Symbols::names();
        QVERIFY(names.size() >= 27);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        for (const QString &name : names) {
            qsizetype glyphs = 0;
            for (const QGlyphRun &run : glyphRuns(Symbols::ligature(name), Symbols::font(16))) {
                QCOMPARE(run.rawFont().familyName(), Symbols::fontFamily());
                glyphs += run.glyphIndexes().size();
            }
            QVERIFY2(glyphs == 1, qPrintable(name + u" shapes into %1 glyphs"_qs.arg(glyphs)));
        }
        QVERIFY(Symbols::ligature(u"no.such.symbol"_qs).isEmpty());
    }

    // A full-height button lines up with a text field; a dimmed one is drawn see-through.
    void buttonBesideAField()
    {
        ActionButton button { PrimaryButtonStyle { false } };
        button.setText(u"启动"_qs);
        QLineEdit field;
        TextFieldStyle::apply(&field);
        QCOMPARE(button.height(), field.height());
        const QPoint inside(4, button.height() / 2);
        QVERIFY(nearColor(renderShown(button).pixelColor(inside), Theme::accent));
        button.setOpacity(0.48);
        const QColor dimmed = renderShown(button).pixelColor(inside);
        QVERIFY(!nearColor(dimmed, Theme::accent) && !nearColor(dimmed, Theme::background));
    }

    void shadowFallsBesideTheCard_data()
    {
        QTest::addColumn<bool>("parentPaints");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("shown card") << false << true << true;
        QTest::newRow("on a parent that paints its own face") << true << true << true;
        QTest::newRow("hidden card") << false << false << true;
        QTest::newRow("switched off, as for a row not selected") << false << true << false;
    }

    void shadowFallsBesideTheCard()
    {
        QFETCH(bool, parentPaints);
        QFETCH(bool, shown);
        QFETCH(bool, enabled);
        QWidget window;
        window.resize(300, 200);
        QWidget *parent = parentPaints ? new RoundedBox(0, Theme::background, {}, 1.0, &window) : new QWidget(&window);
        parent->resize(window.size());
        auto *card = new QWidget; // made before it has a parent, as a layout would take it
        applyCardBackground(card, 16);
        card->setParent(parent);
        auto *shadow = parent->findChild<RoundedShadow *>();
        QVERIFY(shadow);
        shadow->setShadowShown(enabled);
        card->setGeometry(40, 40, 120, 80);
        card->setVisible(shown);
        const QImage image = renderShown(window);
        // Just below the card the shadow darkens the background; far from it nothing does.
        QCOMPARE(image.pixelColor(100, 40 + 80 + 3).lightness() < QColor(Theme::background).lightness() - 1,
            shown && enabled);
        QVERIFY(nearColor(image.pixelColor(260, 160), Theme::background, 1));
        QCOMPARE(nearColor(image.pixelColor(100, 80), Theme::panel, 1), shown);
        delete card; // the shadow leaves with it rather than staying behind on the parent
        QTRY_VERIFY(parent->findChildren<RoundedShadow *>().isEmpty());
    }

    void logoFallbackAndPicture()
    {
        QTemporaryDir dir;
        LogoTile::setPictureDirectory(dir.path());
        for (const LogoTileKind kind : { LogoTileKind::company, LogoTileKind::product }) {
            LogoTile logo(kind, 40, 11);
            const QString file = dir.filePath(LogoTile::resourceName(kind));
            auto save = [&file](const QImage &picture) {
                // Pictures are read again when their time changes; two saves may share a clock tick.
                QFile saved(file);
                return picture.save(file) && saved.open(QIODevice::ReadWrite)
                    && saved.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
            };
            QVERIFY(nearColor(renderShown(logo).pixelColor(6, 6), Theme::accent, 12)); // no picture: the drawn tile
            // A picture that would be blown up on a 200 % screen is not used: 79 px for a 40 px tile.
            QImage picture(200, 79, QImage::Format_RGB32);
            picture.fill(Qt::green);
            QVERIFY(save(picture));
            QVERIFY(nearColor(renderShown(logo).pixelColor(6, 6), Theme::accent, 12));
            // A wide picture fills the tile and is cropped at the sides, never letter-boxed.
            picture = picture.scaled(200, 100);
            QPainter(&picture).fillRect(0, 0, 20, 100, Qt::red);
            QVERIFY(save(picture));
            const QImage tile = renderShown(logo);
            for (const QPoint at : { QPoint(20, 2), QPoint(20, 37), QPoint(2, 20) })
                QVERIFY(nearColor(tile.pixelColor(at), Qt::green, 30));
        }
        LogoTile::setPictureDirectory({});
    }
};

QTEST_MAIN(TestStyle)
#include "TestStyle.moc"
