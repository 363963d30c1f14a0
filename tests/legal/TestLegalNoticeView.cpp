#include "base/Resources.h"
#include "legal/LegalNoticeView.h"
#include "legal/MakerCard.h"
#include "legal/MiravoBrand.h"
#include "ui/style/ActionButton.h"

#include <QtTest>
#include <QtWidgets>

class TestLegalNoticeView : public QObject
{
    Q_OBJECT

    QList<QUrl> m_urls;

public slots:
    // Catches what the program hands to the desktop instead of starting a browser.
    void open(const QUrl &url) { m_urls.append(url); }

private slots:
    void initTestCase()
    {
        for (const char *scheme : { "https", "file" })
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }

    void init() { m_urls.clear(); }

    void modes_data()
    {
        QTest::addColumn<bool>("requiresAcceptance");
        QTest::newRow("acceptance") << true;
        QTest::newRow("review") << false;
    }

    void modes()
    {
        QFETCH(bool, requiresAcceptance);
        LegalNoticeView notice(requiresAcceptance);
        notice.show();
        QVERIFY(QTest::qWaitForWindowExposed(&notice));
        // Each link opens its document or page and leaves the notice up.
        for (const auto &[button, expected] :
            { std::pair(u"termsButton"_qs, u"TERMS_OF_USE.md"_qs), { u"privacyButton"_qs, u"PRIVACY.md"_qs },
                { u"cloudflareButton"_qs, MiravoBrand::cloudflareQuickTunnelDocs().toString() },
                { u"websiteButton"_qs, MiravoBrand::website().toString() } }) {
            m_urls.clear();
            QTest::mouseClick(notice.findChild<QAbstractButton *>(button), Qt::LeftButton);
            QVERIFY(m_urls.size() == 1 && notice.isVisible());
            QCOMPARE(m_urls.first().isLocalFile() ? m_urls.first().fileName() : m_urls.first().toString(), expected);
        }

        // Escape and the window's close button dismiss a review only; an unaccepted notice must be answered.
        QSignalSpy closed(&notice, &LegalNoticeView::closed);
        QSignalSpy declined(&notice, &LegalNoticeView::declined);
        QTest::keyClick(&notice, Qt::Key_Escape);
        QVERIFY(notice.isVisible() == requiresAcceptance && closed.size() == (requiresAcceptance ? 0 : 1));
        if (!requiresAcceptance)
            return;
        QVERIFY(!notice.close() && notice.isVisible());
        // Agreeing follows the tick box; declining needs none.
        auto *agree = notice.findChild<ActionButton *>(u"agreeButton"_qs);
        auto *box = notice.findChild<QCheckBox *>(u"confirmBox"_qs);
        QSignalSpy agreed(&notice, &LegalNoticeView::agreed);
        for (const bool ticked : { true, false }) {
            box->click();
            QVERIFY(agree->isEnabled() == ticked && agree->opacity() == (ticked ? 1.0 : 0.45));
        }
        QTest::mouseClick(agree, Qt::LeftButton);
        QCOMPARE(agreed.size(), 0);
        QTest::mouseClick(notice.findChild<QAbstractButton *>(u"declineButton"_qs), Qt::LeftButton);
        QVERIFY(declined.size() == 1 && closed.isEmpty());
    }

    void onlyBundledDocumentsOpen()
    {
        // A document that exists just outside the resource folder, for the name that climbs out to it.
        QFile outside(resourceDirectory() + u"/../outside.md"_qs);
        QVERIFY(outside.open(QIODevice::WriteOnly));
        const auto removeOutside = qScopeGuard([&outside] { outside.remove(); });
        for (const QString &name : { u"TERMS_OF_USE"_qs, u"CHANGELOG"_qs, QString(), u"../outside"_qs, u".PRIVACY"_qs })
            MiravoBrand::openBundledDocument(name);
        QCOMPARE(m_urls.size(), 1);
        QCOMPARE(m_urls.first().fileName(), u"TERMS_OF_USE.md"_qs);
    }

    void makerCardOpensTheContactPage()
    {
        MakerCard card;
        card.resize(card.sizeHint());
        QTest::mouseClick(&card, Qt::LeftButton, {}, QPoint(card.width() / 2, card.height() / 2));
        QCOMPARE(m_urls, QList<QUrl> { MiravoBrand::serviceContactWebsite() });
    }
};

QTEST_MAIN(TestLegalNoticeView)
#include "TestLegalNoticeView.moc"
