#include "DetailRig.h"
#include "base/Resources.h"
#include "gate/GateConfiguration.h"
#include "gate/GateLocator.h"
#include "gate/GatedOrigin.h"
#include "ui/detail/GateCard.h"
#include "ui/detail/PublicLinkCard.h"
#include "ui/detail/QrCodeDialog.h"
#include "ui/detail/VisitorLogCard.h"
#include "ui/detail/VisitorLogModel.h"
#include "ui/style/Theme.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/QrCodeView.h"

#include <QClipboard>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <qrencode.h>

const QByteArray address = "https://calm-river-blue-stone.trycloudflare.com";

// What the pane offers for sharing an address: its QR code, a password gate and the list of visitors.
class TestLinkSharing : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;
    QRcode *m_reference = nullptr;

    /// Compares every module of \a image (its modules \a module pixels wide from \a origin) with
    /// libqrencode's, and checks that the quiet zone around it is empty.
    void compareModules(const QImage &image, QPointF origin, qreal module)
    {
        const int count = m_reference->width;
        const int quiet = QrCodeView::quietModules;
        for (int y = -quiet; y < count + quiet; ++y) {
            for (int x = -quiet; x < count + quiet; ++x) {
                const QPoint centre((origin + QPointF(x + 0.5, y + 0.5) * module).toPoint());
                const bool dark = x >= 0 && y >= 0 && x < count && y < count && (m_reference->data[y * count + x] & 1);
                QVERIFY2(image.pixel(centre) == (dark ? Theme::text : Theme::panel).rgb(),
                    qPrintable(u"module %1,%2"_qs.arg(x).arg(y)));
            }
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(resourceDirectory() + u"/caddy"_qs).isExecutable(),
            "the build bundles caddy; reconfigure the build");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        m_reference = QRcode_encodeString8bit(address.constData(), 0, QR_ECLEVEL_M);
        QVERIFY(m_reference);
    }

    void cleanupTestCase() { QRcode_free(m_reference); }

    // Module for module libqrencode's matrix, on whole pixels as large as fit; drawn, not scaled.
    void qrCode()
    {
        const int side = 211;
        QrCodeView view;
        view.setText(QString::fromUtf8(address));
        QCOMPARE(view.moduleCount(), m_reference->width);
        view.resize(side, side + 40); // taller than wide: the code stays square and centred
        const QImage image = view.grab().toImage();
        const QRectF area = view.codeArea();
        const qreal module = area.width() / m_reference->width;
        QCOMPARE(module, qreal(side / (m_reference->width + 2 * QrCodeView::quietModules)));
        QCOMPARE(area.width(), area.height());
        QVERIFY(qAbs(area.center().y() - (side + 40) / 2.0) <= 1);
        compareModules(image, area.topLeft(), module);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QVERIFY(image.pixel(x, y) == Theme::text.rgb() || image.pixel(x, y) == Theme::panel.rgb());

        // What "复制图片" puts on the clipboard: the same modules with their quiet zone.
        const QImage copied = view.toImage(5);
        QCOMPARE(copied.width(), (m_reference->width + 2 * QrCodeView::quietModules) * 5);
        compareModules(copied, QPointF(QrCodeView::quietModules, QrCodeView::quietModules) * 5, 5);
        view.setText(QString(8000, u'x')); // beyond what any QR code holds
        QVERIFY(view.moduleCount() == 0 && view.codeArea().isEmpty());
    }

    // Switches, password and copies edit and share the session's gate; the QR code of the address.
    void passwordControls()
    {
        Rig rig({}, OriginScheme::http, 1200);
        QVERIFY(rig.reach(Kind::online));
        const GateSettings &gate = rig.session->gateSettings();
        auto click = [&rig](const char *button) {
            rig.get<QAbstractButton>(button)->click();
            rig.pane->refresh();
        };
        auto *copyBoth = rig.get<QAbstractButton>("copyWithPasswordButton");
        QVERIFY(!copyBoth->isVisible());

        // Switched on without a password: one is made up and shown.
        click("passwordSwitch");
        QVERIFY(gate.passwordOn && gate.password.size() >= 12 && rig.get("passwordRow")->isVisible());
        auto *field = rig.get<QLineEdit>("passwordField");
        QCOMPARE(rig.get("passwordSwitch")->nextInFocusChain(), field);
        QCOMPARE(field->text(), gate.password);
        QCOMPARE(field->echoMode(), QLineEdit::Normal);
        click("revealButton");
        QCOMPARE(field->echoMode(), QLineEdit::Password);

        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, u"s3cret words"_qs);
        QCOMPARE(gate.password, u"s3cret words"_qs);
        click("generateButton");
        // A new password is shown.
        QVERIFY(gate.password.size() >= 12 && gate.password != u"s3cret words"_qs
            && field->echoMode() == QLineEdit::Normal);
        click("copyPasswordButton");
        QCOMPARE(QGuiApplication::clipboard()->text(), gate.password);
        // Running: the pane says when the change takes effect, and the link goes out with its password.
        QVERIFY(rig.get<IconTextLabel>("gateNote")->text().contains(u"下次启动"));
        QVERIFY(copyBoth->isVisible());
        copyBoth->click();
        const QString url = rig.session->publicURL()->toString();
        QCOMPARE(QGuiApplication::clipboard()->text(), url + u"\n访问密码："_qs + gate.password);
        click("passwordSwitch");
        QVERIFY(!gate.passwordOn && !gate.password.isEmpty() && !copyBoth->isVisible()); // kept for the next time

        // Recording visits shows the list, empty and without a table yet.
        click("visitorLogSwitch");
        auto *visitors = rig.pane->findChild<VisitorLogCard *>();
        QVERIFY(gate.visitorLogOn && visitors->isVisible() && !visitors->model());

        click("qrButton");
        QrCodeDialog *dialog = rig.pane->findChild<PublicLinkCard *>()->qrCodeDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->code()->text(), url);
        child<QAbstractButton>(*dialog, "copyImageButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->image(), dialog->code()->toImage(12));
        rig.session->stop();
        QTRY_VERIFY(!rig.pane->findChild<PublicLinkCard *>()->qrCodeDialog()); // the address is gone

        GateCard without(rig.session.get(), GateLocator({ u"/nonexistent/caddy"_qs }));
        without.refresh(*rig.session);
        QVERIFY(!child(without, "passwordSwitch")->isEnabled() && !child(without, "visitorLogSwitch")->isEnabled());
        QCOMPARE(child<IconTextLabel>(without, "gateNote")->text(), GateLocator::unavailableMessage());
    }

    // Visits through the running gate, with Cloudflare's headers, become rows; a refused password is marked.
    void visitorsOfARealGate()
    {
        Rig rig;
        rig.session->setGateSettings({ true, true, u"only the guests know"_qs }); // behind the bundled caddy
        QVERIFY(rig.reach(Kind::online));
        auto *visitors = rig.pane->findChild<VisitorLogCard *>();

        QNetworkAccessManager network;
        network.setProxy(QNetworkProxy::NoProxy);
        auto visit = [&](const QString &path, const QByteArray &method) {
            QNetworkRequest request(QUrl(rig.session->gate()->url() + path));
            request.setRawHeader("Cf-Connecting-IP", "203.0.113.9");
            request.setRawHeader("Cf-Ipcountry", "DE");
            request.setRawHeader("Authorization", "Basic " + QByteArray("visitor:guess").toBase64());
            std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method));
            QVERIFY(QTest::qWaitFor([&reply] { return reply->isFinished(); }, 10000));
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
        };
        visit(u"/?q=1"_qs, "GET");
        visit(GateConfiguration::authPath, "POST");
        QTRY_COMPARE(visitors->summary(), u"请求 2 · 访客 1 · 错误 0 · 密码错误 1"_qs);
        const VisitorLogModel *model = visitors->model();
        QVERIFY(model && model->rowCount() == 2);
        auto cell = [model](int row, int column, int role = Qt::DisplayRole) {
            return model->data(model->index(row, column), role);
        };
        QCOMPARE(cell(0, VisitorLogModel::method).toString(), u"POST"_qs);
        QCOMPARE(cell(0, VisitorLogModel::status).toString(), u"401 密码错误"_qs);
        QCOMPARE(cell(0, VisitorLogModel::status, Qt::ForegroundRole).value<QColor>(), Theme::danger);
        QCOMPARE(cell(1, VisitorLogModel::path).toString(), u"/?q=1"_qs);
        QCOMPARE(cell(1, VisitorLogModel::status).toString(), u"401"_qs);
        QCOMPARE(cell(1, VisitorLogModel::address).toString(), u"203.0.113.9"_qs);
        QCOMPARE(cell(1, VisitorLogModel::country).toString(), u"DE"_qs);
    }
};

QTEST_MAIN(TestLinkSharing)
#include "TestLinkSharing.moc"
