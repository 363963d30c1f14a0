#include "DetailRig.h"
#include "base/Resources.h"
#include "gate/GateConfiguration.h"
#include "gate/GateLocator.h"
#include "gate/GatedOrigin.h"
#include "ui/TunnelDetailView.h"
#include "ui/detail/GateCard.h"
#include "ui/detail/PublicLinkCard.h"
#include "ui/detail/QrCodeDialog.h"
#include "ui/detail/VisitorLogCard.h"
#include "ui/detail/VisitorLogModel.h"
#include "ui/style/Theme.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/QrCodeView.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

namespace {

/// Brings \a rig's service online behind the gate \a gate (the bundled caddy, found as the program finds it).
bool goOnline(Rig &rig, const GateSettings &gate = {})
{
    rig.session->setGateSettings(gate);
    rig.cloudflared.install(FakeCloudflared::onlineBody());
    rig.session->start();
    return QTest::qWaitFor([&rig] { return rig.session->status().is(Kind::online); }, 15000);
}

} // namespace

// The pane's access controls and visitor list, driven as a user would, over a real gate.
class TestGateCards : public QObject
{
    Q_OBJECT

    QTemporaryDir m_temp;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(resourceDirectory() + u"/caddy"_qs).isExecutable(),
            "the build bundles caddy; reconfigure the build");
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
    }

    // Switches, password and copies edit and share the session's gate; QR code of the address.
    void passwordControls()
    {
        Rig rig;
        QVERIFY(goOnline(rig));
        TunnelDetailView pane(rig.session.get());
        pane.resize(709, 1200);
        pane.show();
        const GateSettings &gate = rig.session->gateSettings();
        auto *card = pane.findChild<GateCard *>();
        QVERIFY(!pane.findChild<QWidget *>(u"passwordRow"_qs)); // made when first needed
        QVERIFY(!child<QWidget>(pane, "copyWithPasswordButton")->isVisible());

        // Switched on without a password: one is made up and shown.
        child<QAbstractButton>(pane, "passwordSwitch")->click();
        QVERIFY(gate.passwordOn && gate.password.size() >= 12);
        QVERIFY(child<QWidget>(pane, "passwordRow")->isVisible());
        auto *field = child<QLineEdit>(pane, "passwordField");
        QCOMPARE(child<QWidget>(pane, "passwordSwitch")->nextInFocusChain(), field);
        QCOMPARE(field->text(), gate.password);
        QVERIFY(card->revealsPassword() && field->echoMode() == QLineEdit::Normal);
        child<QAbstractButton>(pane, "revealButton")->click();
        QCOMPARE(field->echoMode(), QLineEdit::Password);

        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, u"s3cret words"_qs);
        QCOMPARE(gate.password, u"s3cret words"_qs);
        child<QAbstractButton>(pane, "generateButton")->click();
        QVERIFY(gate.password.size() >= 12 && gate.password != u"s3cret words"_qs);
        QVERIFY(card->revealsPassword());
        child<QAbstractButton>(pane, "copyPasswordButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), gate.password);

        // Running: the pane says when the change takes effect, and the link goes out with its password.
        pane.refresh();
        QVERIFY(child<IconTextLabel>(pane, "gateNote")->text().contains(u"下次启动"));
        auto *copyBoth = child<QAbstractButton>(pane, "copyWithPasswordButton");
        QVERIFY(copyBoth->isVisible());
        copyBoth->click();
        const QString url = rig.session->publicURL()->toString();
        QCOMPARE(QGuiApplication::clipboard()->text(), url + u"\n访问密码："_qs + gate.password);

        child<QAbstractButton>(pane, "passwordSwitch")->click();
        pane.refresh();
        QVERIFY(!gate.passwordOn && !gate.password.isEmpty()); // kept for the next time
        QVERIFY(!copyBoth->isVisible());

        // Recording visits shows the list, empty and without a table yet.
        child<QAbstractButton>(pane, "visitorLogSwitch")->click();
        pane.refresh();
        QVERIFY(gate.visitorLogOn);
        auto *visitors = pane.findChild<VisitorLogCard *>();
        QVERIFY(visitors->isVisible() && !visitors->model());

        child<QAbstractButton>(pane, "qrButton")->click();
        QrCodeDialog *dialog = pane.findChild<PublicLinkCard *>()->qrCodeDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->code()->text(), url);
        child<QAbstractButton>(*dialog, "copyImageButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->image(), dialog->code()->toImage(12));
        rig.session->stop();
        QTRY_VERIFY(!pane.findChild<PublicLinkCard *>()->qrCodeDialog()); // the address is gone
    }

    void withoutCaddy()
    {
        Rig rig;
        GateCard card(rig.session.get(), GateLocator({ u"/nonexistent/caddy"_qs }));
        card.refresh(*rig.session);
        QVERIFY(!child<QWidget>(card, "passwordSwitch")->isEnabled());
        QVERIFY(!child<QWidget>(card, "visitorLogSwitch")->isEnabled());
        QCOMPARE(child<IconTextLabel>(card, "gateNote")->text(), GateLocator::unavailableMessage());
    }

    // Visits through the running gate, with Cloudflare's headers, become rows; a refused password is marked.
    void visitorsOfARealGate()
    {
        Rig rig;
        TunnelDetailView pane(rig.session.get());
        pane.show();
        QVERIFY(goOnline(rig, { true, true, u"only the guests know"_qs }));
        auto *visitors = pane.findChild<VisitorLogCard *>();
        QVERIFY(visitors->isVisible() && !visitors->model());

        QNetworkAccessManager network;
        network.setProxy(QNetworkProxy::NoProxy);
        const QString gateURL = rig.session->gate()->url();
        auto visit = [&](const QString &path, const QByteArray &method, const QByteArray &address) {
            QNetworkRequest request(QUrl(gateURL + path));
            request.setRawHeader("Cf-Connecting-IP", address);
            request.setRawHeader("Cf-Ipcountry", "DE");
            request.setRawHeader("Authorization", "Basic " + QByteArray("visitor:guess").toBase64());
            QNetworkReply *reply = network.sendCustomRequest(request, method);
            QVERIFY(QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000));
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
            delete reply;
        };
        visit(u"/?q=1"_qs, "GET", "203.0.113.9");
        visit(GateConfiguration::authPath, "POST", "203.0.113.9");
        QTRY_COMPARE(visitors->summary(), u"请求 2 · 访客 1 · 错误 0 · 密码错误 1"_qs);
        const VisitorLogModel *model = visitors->model();
        QVERIFY(model);
        QCOMPARE(model->rowCount(), 2);
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
        QVERIFY(cell(1, VisitorLogModel::duration).toString().endsWith(u" ms"));
        QVERIFY(qAbs(rig.session->gate()->visitors().entries().front().time.secsTo(QDateTime::currentDateTime())) < 60);
    }
};

QTEST_MAIN(TestGateCards)
#include "TestGateCards.moc"
