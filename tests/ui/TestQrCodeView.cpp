#include "ui/style/Theme.h"
#include "ui/widgets/QrCodeView.h"

#include <QApplication>
#include <QTest>

#include <qrencode.h>

namespace {

const QByteArray address = "https://calm-river-blue-stone.trycloudflare.com";

} // namespace

// The drawn code is libqrencode's matrix module for module, on whole pixels, at any size.
class TestQrCodeView : public QObject
{
    Q_OBJECT

    QRcode *m_reference = nullptr;

    bool referenceDark(int x, int y) const { return m_reference->data[y * m_reference->width + x] & 1; }

    /// Compares every module of \a image (its modules \a module pixels wide from \a origin) with the
    /// reference, and checks that the quiet zone around it is empty.
    void compareModules(const QImage &image, QPointF origin, qreal module)
    {
        const int count = m_reference->width;
        for (int y = -QrCodeView::quietModules; y < count + QrCodeView::quietModules; ++y) {
            for (int x = -QrCodeView::quietModules; x < count + QrCodeView::quietModules; ++x) {
                const QPoint centre((origin + QPointF(x + 0.5, y + 0.5) * module).toPoint());
                const bool inside = x >= 0 && y >= 0 && x < count && y < count;
                const QRgb expected = (inside && referenceDark(x, y) ? Theme::text : Theme::panel).rgb();
                QVERIFY2(image.pixel(centre) == expected, qPrintable(u"module %1,%2"_qs.arg(x).arg(y)));
            }
        }
    }

private slots:
    void initTestCase()
    {
        m_reference = QRcode_encodeString8bit(address.constData(), 0, QR_ECLEVEL_M);
        QVERIFY(m_reference);
    }

    void cleanupTestCase() { QRcode_free(m_reference); }

    void drawnAtTwoSizes_data()
    {
        QTest::addColumn<int>("side");
        QTest::newRow("small") << 211;
        QTest::newRow("large") << 640;
    }

    void drawnAtTwoSizes()
    {
        QFETCH(int, side);
        QrCodeView view;
        view.setText(QString::fromUtf8(address));
        QCOMPARE(view.moduleCount(), m_reference->width);
        view.resize(side, side + 40); // taller than wide: the code stays square and centred
        const QImage image = view.grab().toImage();

        const QRectF area = view.codeArea();
        const int total = m_reference->width + 2 * QrCodeView::quietModules;
        const qreal module = area.width() / m_reference->width;
        QCOMPARE(module, qreal(side / total)); // whole pixels, as large as fits
        QCOMPARE(area.width(), area.height());
        QVERIFY(qAbs(area.center().y() - (side + 40) / 2.0) <= 1);
        compareModules(image, area.topLeft(), module);

        // Drawn, not scaled: no pixel is anything but the two colours.
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                QVERIFY(pixel == Theme::text.rgb() || pixel == Theme::panel.rgb());
            }
    }

    // What "复制图片" puts on the clipboard: the same modules with their quiet zone.
    void copiedImage()
    {
        QrCodeView view;
        view.setText(QString::fromUtf8(address));
        const QImage image = view.toImage(5);
        QCOMPARE(image.width(), (m_reference->width + 2 * QrCodeView::quietModules) * 5);
        compareModules(image, QPointF(QrCodeView::quietModules, QrCodeView::quietModules) * 5, 5);

        view.setText(QString(8000, u'x')); // beyond what any QR code holds
        QCOMPARE(view.moduleCount(), 0);
        QVERIFY(view.codeArea().isEmpty());
    }
};

QTEST_MAIN(TestQrCodeView)
#include "TestQrCodeView.moc"
