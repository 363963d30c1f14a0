#include "FakeCloudflared.h"
#include "LocalHttpServer.h"
#include "legal/LegalNoticeView.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/ContentView.h"
#include "ui/SummaryPill.h"
#include "ui/TunnelDetailView.h"
#include "ui/ServiceSidebarRow.h"
#include "ui/style/TidewellButton.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct Window
{
    explicit Window(const QVariant &acknowledged = 2)
        : settings(dir.filePath(u"orvanta.conf"_qs), QSettings::IniFormat)
    {
        if (acknowledged.isValid())
            settings.setValue(ContentView::acknowledgementKey, acknowledged);
        store = std::make_unique<TunnelStore>(&settings);
        view = std::make_unique<ContentView>(store.get(), &settings);
    }
    ~Window()
    {
        view.reset();
        store->shutdownAll();
    }

    QString pill(const char *name) const { return view->findChild<SummaryPill *>(QLatin1String(name))->text(); }
    TidewellButton *button(const char *name) const { return view->findChild<TidewellButton *>(QLatin1String(name)); }
    QList<ServiceSidebarRow *> rows() const
    {
        QList<ServiceSidebarRow *> visible;
        for (ServiceSidebarRow *row : view->findChildren<ServiceSidebarRow *>()) {
            if (!row->isHidden())
                visible.append(row);
        }
        std::sort(visible.begin(), visible.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
        return visible;
    }
    TunnelDetailView *pane() const { return qobject_cast<TunnelDetailView *>(view->detail()); }

    QTemporaryDir dir;
    QSettings settings;
    std::unique_ptr<TunnelStore> store;
    std::unique_ptr<ContentView> view;
};

QMessageBox *waitForAlert(QWidget *owner)
{
    QMessageBox *box = nullptr;
    const bool shown
        = QTest::qWaitFor([&] { return (box = owner->findChild<QMessageBox *>()) && box->isVisible(); }, 5000);
    return shown ? box : nullptr;
}

QAbstractButton *alertButton(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}
} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void headerFollowsRunningServices_data();
    void headerFollowsRunningServices();
    void startAllOnlyAfterConfirmation();
    void addAndDeleteThroughTheWindow();
    void detailRebuiltOnlyWhenTheSelectionMoves();
    void noticeGating_data();
    void noticeGating();
    void acceptingStoresTheVersion();
    void reviewFromTheFooter();
};

namespace {
const QByteArray tunnelBody = "if [ \"$1\" = --version ]; then echo 'cloudflared version 2024.5.0'; exit 0; fi\n"
    + FakeCloudflared::onlineBody(120);

/// Services of \a w pointing at \a origin.
void pointAtOrigin(Window &w, const LocalHttpServer &origin)
{
    for (TunnelSession *session : w.store->sessions()) {
        TunnelProfile profile = session->profile();
        profile.scheme = OriginScheme::http;
        profile.portText = QString::number(origin.port());
        session->setProfile(profile);
    }
}
} // namespace

void TestContentView::headerFollowsRunningServices_data()
{
    QTest::addColumn<int>("services");
    QTest::addColumn<int>("started");
    QTest::newRow("one idle") << 1 << 0;
    QTest::newRow("all running") << 2 << 2;
    QTest::newRow("mixed") << 3 << 1;
}

void TestContentView::headerFollowsRunningServices()
{
    QFETCH(int, services);
    QFETCH(int, started);
    QTemporaryDir fakeDir;
    FakeCloudflared fake(fakeDir.path());
    QVERIFY(fake.install(tunnelBody));
    LocalHttpServer origin;
    QVERIFY(origin.listenHttp());
    Window w;
    while (w.store->sessions().size() < services)
        w.store->addProfile();
    pointAtOrigin(w, origin);
    for (int i = 0; i < started; ++i)
        w.store->sessions().at(i)->start();
    for (int i = 0; i < started; ++i)
        QTRY_VERIFY_WITH_TIMEOUT(w.store->sessions().at(i)->status().is(TunnelStatus::Kind::online), 30000);

    QCOMPARE(w.pill("servicesPill"), QString::number(services) + u" 个服务"_qs);
    QCOMPARE(w.pill("runningPill"), QString::number(started) + u" 个运行中"_qs);
    const bool allRunning = services == started;
    QCOMPARE(w.button("startAllButton")->isEnabled(), !allRunning);
    QCOMPARE(w.button("startAllButton")->opacity(), allRunning ? 0.45 : 1.0);
    QCOMPARE(w.button("stopAllButton")->isEnabled(), started > 0);
    QCOMPARE(w.button("stopAllButton")->opacity(), started > 0 ? 1.0 : 0.45);
    QCOMPARE(w.view->findChild<QLabel *>(u"versionLabel"_qs)->text(), u"· cloudflared 2024.5.0 · 仅限临时开发测试"_qs);
    if (started == 0)
        return;

    // Stopping all needs no confirmation, and the header follows.
    QTest::mouseClick(w.button("stopAllButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.pill("runningPill"), u"0 个运行中"_qs, 30000);
    QVERIFY(!w.button("stopAllButton")->isEnabled());
    QVERIFY(w.button("startAllButton")->isEnabled());
}

void TestContentView::startAllOnlyAfterConfirmation()
{
    QTemporaryDir fakeDir;
    FakeCloudflared fake(fakeDir.path());
    QVERIFY(fake.install(tunnelBody));
    LocalHttpServer origin;
    QVERIFY(origin.listenHttp());
    Window w;
    w.store->addProfile();
    pointAtOrigin(w, origin);
    w.view->show();

    QTest::mouseClick(w.button("startAllButton"), Qt::LeftButton);
    QMessageBox *alert = waitForAlert(w.view.get());
    QVERIFY(alert);
    QCOMPARE(alert->text(), u"确认全部发布到公网？"_qs);
    QCOMPARE(w.store->runningCount(), 0);
    QTest::mouseClick(alertButton(alert, u"取消"_qs), Qt::LeftButton);
    QTRY_VERIFY(!w.view->findChild<QMessageBox *>());
    QCOMPARE(w.store->runningCount(), 0);

    QTest::mouseClick(w.button("startAllButton"), Qt::LeftButton);
    alert = waitForAlert(w.view.get());
    QVERIFY(alert);
    QTest::keyClick(alert, Qt::Key_Escape);
    QTRY_VERIFY(!w.view->findChild<QMessageBox *>());
    QCOMPARE(w.store->runningCount(), 0);

    QTest::mouseClick(w.button("startAllButton"), Qt::LeftButton);
    alert = waitForAlert(w.view.get());
    QVERIFY(alert);
    QTest::mouseClick(alertButton(alert, u"确认启动"_qs), Qt::LeftButton);
    QCOMPARE(w.store->runningCount(), 2);
    for (TunnelSession *session : w.store->sessions())
        QTRY_VERIFY_WITH_TIMEOUT(session->status().is(TunnelStatus::Kind::online), 30000);
}

void TestContentView::addAndDeleteThroughTheWindow()
{
    Window w;
    w.view->show();
    QTest::mouseClick(w.view->findChild<QAbstractButton *>(u"addServiceButton"_qs), Qt::LeftButton);
    QCOMPARE(w.store->sessions().size(), 2);
    QCOMPARE(w.pill("servicesPill"), u"2 个服务"_qs);
    QTRY_COMPARE(w.rows().size(), 2);
    QVERIFY(w.rows().at(1)->isSelected());
    QVERIFY(!w.rows().at(0)->isSelected());
    TunnelSession *added = w.store->sessions().at(1);
    QCOMPARE(w.pane()->session(), added);

    // Delete the selected (second) service through its pane: the first becomes selected.
    QTest::mouseClick(w.pane()->findChild<QAbstractButton *>(u"deleteButton"_qs), Qt::LeftButton);
    QMessageBox *alert = waitForAlert(w.pane());
    QVERIFY(alert);
    QTest::mouseClick(alertButton(alert, u"删除"_qs), Qt::LeftButton);
    QTRY_COMPARE(w.store->sessions().size(), 1);
    QTRY_COMPARE(w.rows().size(), 1);
    QCOMPARE(w.pill("servicesPill"), u"1 个服务"_qs);
    QTRY_VERIFY(w.pane() && w.pane()->session() == w.store->sessions().constFirst());
    QVERIFY(w.rows().constFirst()->isSelected());
}

void TestContentView::detailRebuiltOnlyWhenTheSelectionMoves()
{
    Window w;
    w.store->addProfile();
    w.view->show();
    QPointer<TunnelDetailView> before = w.pane();
    QCOMPARE(before->session(), w.store->sessions().at(1));
    before->findChild<QAbstractButton *>(u"disclosureButton"_qs)->click();
    QVERIFY(before->showAdvanced());

    // Clicking the row that is already selected keeps the pane and its state.
    QTest::mouseClick(w.rows().at(1), Qt::LeftButton);
    QCOMPARE(w.pane(), before.data());
    QVERIFY(w.pane()->showAdvanced());

    // Another service, then back: a fresh pane each time, collapsed again.
    QTest::mouseClick(w.rows().at(0), Qt::LeftButton);
    QCOMPARE(w.store->selectedID(), w.store->sessions().at(0)->id());
    QCOMPARE(w.pane()->session(), w.store->sessions().at(0));
    QTRY_VERIFY(before.isNull());
    QTest::mouseClick(w.rows().at(1), Qt::LeftButton);
    QCOMPARE(w.pane()->session(), w.store->sessions().at(1));
    QVERIFY(!w.pane()->showAdvanced());
    QVERIFY(!w.pane()->isCopied());

    w.store->setSelectedID(std::nullopt);
    QVERIFY(!w.pane());
    QCOMPARE(w.view->detail()->objectName(), u"emptyDetail"_qs);
}

void TestContentView::noticeGating_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("shown");
    QTest::newRow("absent") << QVariant() << true;
    QTest::newRow("0") << QVariant(0) << true;
    QTest::newRow("1") << QVariant(1) << true;
    QTest::newRow("2") << QVariant(2) << false;
    QTest::newRow("3") << QVariant(3) << false;
    QTest::newRow("text") << QVariant(u"two"_qs) << true;
}

void TestContentView::noticeGating()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, shown);
    Window w(stored);
    w.view->show();
    QCoreApplication::processEvents(); // a presentation is queued until the window is up
    QCOMPARE(w.view->legalNotice() != nullptr, shown);
    if (shown) {
        QVERIFY(w.view->legalNotice()->requiresAcceptance());
        QCOMPARE(w.view->legalNotice()->windowModality(), Qt::WindowModal);
    }
}

void TestContentView::acceptingStoresTheVersion()
{
    Window w(1);
    w.view->show();
    QTRY_VERIFY(w.view->legalNotice());
    LegalNoticeView *notice = w.view->legalNotice();
    notice->findChild<QAbstractButton *>(u"confirmBox"_qs)->click();
    QTest::mouseClick(notice->findChild<QAbstractButton *>(u"agreeButton"_qs), Qt::LeftButton);
    QCOMPARE(w.settings.value(ContentView::acknowledgementKey).toInt(), 2);
    QTRY_VERIFY(!w.view->legalNotice());

    // A later appearance of the window does not ask again.
    w.view->hide();
    w.view->show();
    QCoreApplication::processEvents();
    QVERIFY(!w.view->legalNotice());
    QSettings reread(w.settings.fileName(), QSettings::IniFormat);
    QCOMPARE(reread.value(ContentView::acknowledgementKey).toInt(), 2);
}

void TestContentView::reviewFromTheFooter()
{
    Window w(3);
    w.view->show();
    QTest::mouseClick(w.view->findChild<QAbstractButton *>(u"legalLink"_qs), Qt::LeftButton);
    QTRY_VERIFY(w.view->legalNotice());
    QVERIFY(!w.view->legalNotice()->requiresAcceptance());
    QTest::mouseClick(w.view->legalNotice()->findChild<QAbstractButton *>(u"doneButton"_qs), Qt::LeftButton);
    QTRY_VERIFY(!w.view->legalNotice());
    QCOMPARE(w.settings.value(ContentView::acknowledgementKey).toInt(), 3); // never lowered
}

QTEST_MAIN(TestContentView)
#include "TestContentView.moc"
