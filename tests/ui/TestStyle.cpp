#include "LocalHttpServer.h"
#include "TestSupport.h"
#include "session/TunnelSession.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/SessionStatusBadge.h"
#include "ui/StatusColor.h"
#include "ui/SummaryPill.h"
#include "ui/style/CardBackground.h"
#include "ui/style/DeferredIcon.h"
#include "ui/style/RoundedShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/Theme.h"
#include "ui/widgets/LogoTile.h"
#include "ui/widgets/RoundedBox.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

namespace {

/// Renders \a widget inside a host, the way it is shown, so shadows and other effects take part
/// (Qt draws nothing for a hidden top-level widget that carries an effect).
QImage renderShown(QWidget &widget, const QColor &background = Theme::background)
{
    widget.ensurePolished();
    widget.resize(widget.size().expandedTo(widget.sizeHint()));
    QWidget host;
    widget.setParent(&host);
    host.resize(widget.size());
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(background);
    host.render(&image, {}, {}, QWidget::DrawChildren);
    widget.setParent(nullptr);
    return image;
}

/// Channels of \a a and \a b differ by at most \a tolerance (of 255).
bool nearColor(const QColor &a, const QColor &b, int tolerance = 6)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

/// Some pixel of \a image is \a color (an opaque dot or glyph drawn in it).
bool paintsColor(const QImage &image, const QColor &color)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (nearColor(image.pixelColor(x, y), color))
                return true;
    return false;
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

// The look: fonts and symbols, card shadows, logo pictures, status colours and the sidebar's rows.
class TestStyle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Theme::install(*qApp);
        QVERIFY2(Symbols::font(16).isValid(), "icon font missing from the build tree's resources");
    }

    void cleanupTestCase() { QCOMPARE(Symbols::unknownNames(), QStringList { u"no.such.symbol"_qs }); }

    // Every weight comes from the one regular CJK face (a second face file costs megabytes of
    // memory); the heavy weights must still be drawn heavier.
    void everyWeightUsesTheRegularFace()
    {
        const QString text = u"奥文塔代理服务"_qs;
        auto drawn = [&text](QFont::Weight weight) {
            QImage image(200, 40, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(Theme::font(14, weight));
            painter.drawText(image.rect(), Qt::AlignCenter, text);
            painter.end();
            return image;
        };
        for (const QFont::Weight weight : { QFont::Medium, QFont::DemiBold, QFont::Bold }) {
            for (const QGlyphRun &run : glyphRuns(text, Theme::font(14, weight)))
                QCOMPARE(run.rawFont().styleName(), u"Regular"_qs);
            QCOMPARE(drawn(weight) == drawn(QFont::Normal), weight == QFont::Medium);
        }
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
        QVERIFY(Symbols::glyph(u"no.such.symbol"_qs, 16).isEmpty());
    }

    // Icons are made when first drawn, once; the style's own icons, deferred the same way, still draw.
    void iconsAreMadeWhenDrawn()
    {
        int made = 0;
        const QIcon icon = deferredIcon(
            [&made] {
                ++made;
                QPixmap red(16, 16);
                red.fill(Qt::red);
                return QIcon(red);
            },
            { QSize(16, 16) });
        QVERIFY(!icon.isNull() && icon.availableSizes() == QList<QSize> { QSize(16, 16) } && made == 0);
        QCOMPARE(icon.pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
        QCOMPARE(QIcon(icon).pixmap(8).size(), QSize(8, 8));
        QCOMPARE(made, 1);
        const QImage arrow
            = qApp->style()->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton).pixmap(16).toImage();
        QImage blank(arrow.size(), arrow.format());
        blank.fill(Qt::transparent);
        QVERIFY(!arrow.isNull() && arrow != blank);
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
        parent->findChild<RoundedShadow *>()->setShadowShown(enabled); // the card brought its shadow
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

    // The row and the badge share one rule; the badge never looks at the local probe.
    void statusColours()
    {
        QCOMPARE(statusColor(TunnelStatus::online(), true, false), Theme::success);
        QCOMPARE(statusColor(TunnelStatus::online(), false, true), Theme::warning); // not confirmed yet
        QCOMPARE(statusColor(TunnelStatus::connecting(), false, false), Theme::warning);
        QCOMPARE(statusColor(TunnelStatus::failed(u"x"_qs), false, true), Theme::danger);
        QCOMPARE(statusColor(TunnelStatus::idle(), false, true), Theme::info);
        QCOMPARE(statusColor(TunnelStatus::idle(), false, false), Theme::subtle);
    }

    // One service on a real server: the row follows its profile and names it as plain text; its colour knows
    // that the local end answers, the badge's does not; selection outlasts hover.
    void rowAndBadge()
    {
        LocalHttpServer server;
        QVERIFY(server.listenHttp());
        TunnelSession session(localProfile(server.port()), {});
        ServiceSidebarRow row(&session);
        SessionStatusBadge badge(&session);
        row.resize(250, 64);
        QCOMPARE(badge.accessibleName(), u"未启动"_qs);
        auto edit = [&session](const QString &name, const QString &host) {
            TunnelProfile p = session.profile();
            p.name = name;
            p.host = host;
            session.setProfile(p);
            return session.profile().portText + u" 未启动"_qs;
        };
        const QList<std::pair<QString, QString>> names { { u"前端"_qs, u"前端"_qs }, { u"  api \n"_qs, u"api"_qs },
            { QString(), u"未命名服务"_qs }, { u" \t\n"_qs, u"未命名服务"_qs }, { u"<b>x</b>"_qs, u"<b>x</b>"_qs } };
        for (const auto &[name, shown] : names) {
            QCOMPARE(row.accessibleDescription(), u"127.0.0.1:"_qs + edit(name, u"127.0.0.1"_qs));
            QCOMPARE(row.toolTip(), u"切换到"_qs + shown);
            QCOMPARE(row.accessibleName(), shown);
        }
        QCOMPARE(row.accessibleDescription(), u"localhost :"_qs + edit({}, u"localhost "_qs)); // exactly as typed
        QCOMPARE(row.accessibleDescription(), u"localhost :"_qs + edit({}, u"localhost\n"_qs)); // one line

        edit({}, u"127.0.0.1"_qs);
        session.beginMonitoring();
        QTRY_VERIFY_WITH_TIMEOUT(session.localHealth().is(HealthState::Kind::healthy), 20000);
        QVERIFY(paintsColor(renderShown(row, Theme::sidebar), Theme::info));
        const QImage shownBadge = renderShown(badge, Theme::panel);
        QVERIFY(paintsColor(shownBadge, Theme::subtle) && !paintsColor(shownBadge, Theme::info));
        auto background = [&row] { return renderShown(row, Theme::sidebar).pixelColor(125, 3).name(); };
        QCOMPARE(background(), Theme::sidebar.name());
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(&row, &enter);
        QVERIFY(background() != Theme::sidebar.name());
        row.setSelected(true);
        QCOMPARE(background(), Theme::accentSoft.name());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&row, &leave);
        QCOMPARE(background(), Theme::accentSoft.name());
        session.shutdown();

        SummaryPill pill(u"bolt.fill"_qs, u"0 个运行中"_qs, Theme::success);
        const int narrow = pill.sizeHint().width();
        pill.setText(u"12 个运行中"_qs);
        QVERIFY(pill.sizeHint().width() > narrow && pill.accessibleName() == u"12 个运行中"_qs);
    }
};

QTEST_MAIN(TestStyle)
#include "TestStyle.moc"
