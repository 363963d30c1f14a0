#include "legal/LegalNoticeView.h"
#include "legal/MiravoBrand.h"
#include "ui/style/TidewellButton.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

// Catches what the program hands to the desktop instead of starting a browser.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class TestLegalNoticeView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char *scheme : {"https", "file"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), &m_recorder, "open");
    }
    void init() { m_recorder.urls.clear(); }
    void modes_data();
    void modes();
    void agreeFollowsTheTickBox();
    void buttonsOpenTheirTargets_data();
    void buttonsOpenTheirTargets();
    void onlyBundledDocumentsOpen_data();
    void onlyBundledDocumentsOpen();

private:
    UrlRecorder m_recorder;
};

void TestLegalNoticeView::modes_data()
{
    QTest::addColumn<bool>("requiresAcceptance");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("acceptance") << true << u"开始使用前请确认"_qs << QStringList{u"不同意并退出"_qs, u"同意并继续"_qs};
    QTest::newRow("review") << false << u"使用条款与隐私说明"_qs << QStringList{u"完成"_qs};
}

void TestLegalNoticeView::modes()
{
    QFETCH(bool, requiresAcceptance);
    QFETCH(QString, title);
    QFETCH(QStringList, buttons);
    LegalNoticeView notice(requiresAcceptance);
    QCOMPARE(notice.findChild<QLabel *>(u"noticeTitle"_qs)->text(), title);
    QCOMPARE(notice.findChild<QCheckBox *>() != nullptr, requiresAcceptance);
    QStringList texts;
    for (auto *button : notice.findChildren<TidewellButton *>()) {
        if (button->look().height == 39) // the footer's full-size buttons
            texts << button->text();
    }
    QCOMPARE(texts, buttons);

    // Escape and the window's close button dismiss a review only; an unaccepted notice must be answered.
    QSignalSpy closed(&notice, &LegalNoticeView::closed);
    QSignalSpy declined(&notice, &LegalNoticeView::declined);
    notice.show();
    QVERIFY(QTest::qWaitForWindowExposed(&notice));
    QTest::keyClick(&notice, Qt::Key_Escape);
    QCOMPARE(notice.isVisible(), requiresAcceptance);
    QCOMPARE(closed.size(), requiresAcceptance ? 0 : 1);
    if (requiresAcceptance) {
        QVERIFY(!notice.close() && notice.isVisible());
        QTest::mouseClick(notice.findChild<QAbstractButton *>(u"declineButton"_qs), Qt::LeftButton);
        QVERIFY(declined.size() == 1 && closed.isEmpty());
    }
}

void TestLegalNoticeView::agreeFollowsTheTickBox()
{
    LegalNoticeView notice(true);
    notice.show();
    auto *agree = notice.findChild<TidewellButton *>(u"agreeButton"_qs);
    auto *box = notice.findChild<QCheckBox *>(u"confirmBox"_qs);
    QSignalSpy agreed(&notice, &LegalNoticeView::agreed);
    for (const bool ticked : {false, true, false, true}) {
        if (box->isChecked() != ticked)
            box->click();
        QCOMPARE(agree->isEnabled(), ticked);
        QCOMPARE(agree->opacity(), ticked ? 1.0 : 0.45);
    }
    box->click();
    QTest::mouseClick(agree, Qt::LeftButton);
    QCOMPARE(agreed.size(), 0);
    box->click();
    QTest::mouseClick(agree, Qt::LeftButton);
    QCOMPARE(agreed.size(), 1);
    QVERIFY(!notice.isVisible());
}

void TestLegalNoticeView::buttonsOpenTheirTargets_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("expected"); // file name, or the whole address
    QTest::newRow("terms") << u"termsButton"_qs << u"TERMS_OF_USE.md"_qs;
    QTest::newRow("privacy") << u"privacyButton"_qs << u"PRIVACY.md"_qs;
    QTest::newRow("cloudflare") << u"cloudflareButton"_qs << MiravoBrand::cloudflareQuickTunnelDocs().toString();
    QTest::newRow("website") << u"websiteButton"_qs << MiravoBrand::website().toString();
}

void TestLegalNoticeView::buttonsOpenTheirTargets()
{
    QFETCH(QString, button);
    QFETCH(QString, expected);
    for (const bool requiresAcceptance : {true, false}) {
        m_recorder.urls.clear();
        LegalNoticeView notice(requiresAcceptance);
        notice.show();
        QTest::mouseClick(notice.findChild<QAbstractButton *>(button), Qt::LeftButton);
        QCOMPARE(m_recorder.urls.size(), 1);
        const QUrl url = m_recorder.urls.constFirst();
        QCOMPARE(url.isLocalFile() ? url.fileName() : url.toString(), expected);
        QVERIFY(notice.isVisible());
    }
}

void TestLegalNoticeView::onlyBundledDocumentsOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("opens");
    QTest::newRow("terms") << u"TERMS_OF_USE"_qs << true;
    QTest::newRow("missing") << u"CHANGELOG"_qs << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("outside") << u"../../../etc/hostname"_qs << false;
    QTest::newRow("hidden") << u".PRIVACY"_qs << false;
}

void TestLegalNoticeView::onlyBundledDocumentsOpen()
{
    QFETCH(QString, name);
    QFETCH(bool, opens);
    MiravoBrand::openBundledDocument(name);
    QCOMPARE(m_recorder.urls.size(), opens ? 1 : 0);
}

QTEST_MAIN(TestLegalNoticeView)
#include "TestLegalNoticeView.moc"
