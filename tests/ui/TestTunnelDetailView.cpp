#include "DetailRig.h"
#include "ui/ActivityRow.h"
#include "ui/HealthCard.h"
#include "ui/TunnelDetailView.h"
#include "ui/style/ActionButton.h"
#include "ui/style/Symbols.h"
#include "ui/style/Theme.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/UrlText.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(TunnelStatus::Kind)

namespace {

Timings testTimings()
{
    Timings t;
    t.killGrace = std::chrono::milliseconds(60000); // a stopping child stays until the rig ends it
    return t;
}

/// The state or detail line ("healthState", "healthDetail") of a health tile, as set in full.
QString healthLine(const QWidget &pane, const char *tile, const char *line)
{
    return pane.findChild<HealthCard *>(QLatin1String(tile))->findChild<QLabel *>(QLatin1String(line))->text();
}

/// The activity rows on screen; the list keeps spare rows hidden.
QList<ActivityRow *> shownRows(const TunnelDetailView &pane)
{
    QList<ActivityRow *> rows = pane.findChildren<ActivityRow *>();
    rows.removeIf([](const ActivityRow *row) { return row->isHidden(); });
    return rows;
}

} // namespace

/// Stands in for the desktop's browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;
    Q_INVOKABLE void open(const QUrl &url) { urls << url; }
};

class TestTunnelDetailView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Theme::install(*qApp); }

    void cleanupTestCase() { QCOMPARE(Symbols::unknownNames(), QStringList()); }

    void statusDrivesTextsAndLocks_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("stopEnabled");
        QTest::addColumn<qreal>("stopOpacity");
        QTest::addColumn<QString>("emptyTitle"); // empty: the link block shows instead
        const QString waiting = QStringLiteral("正在建立公网隧道…");
        const QString none = QStringLiteral("尚未生成公网地址");
        QTest::newRow("idle") << Kind::idle << "启动此服务" << false << false << 0.45 << none;
        QTest::newRow("preparing") << Kind::preparing << "检查本地服务" << true << true << 1.0 << waiting;
        QTest::newRow("connecting") << Kind::connecting << "正在连接" << true << true << 1.0 << waiting;
        QTest::newRow("online") << Kind::online << "运行中" << true << true << 1.0 << QString();
        // Stopping from online keeps its link; the stop button is disabled yet fully opaque.
        QTest::newRow("stopping") << Kind::stopping << "停止中" << true << false << 1.0 << QString();
        QTest::newRow("failed") << Kind::failed << "启动此服务" << false << false << 0.45 << none;
    }

    void statusDrivesTextsAndLocks()
    {
        QFETCH(Kind, kind);
        QFETCH(QString, title);
        QFETCH(bool, busy);
        QFETCH(bool, stopEnabled);
        QFETCH(qreal, stopOpacity);
        QFETCH(QString, emptyTitle);

        Rig rig(testTimings(), OriginScheme::automatic);
        QVERIFY(rig.reach(kind));
        TunnelDetailView pane(rig.session.get());
        pane.resize(709, 600);
        pane.show();

        auto *start = child<ActionButton>(pane, "startButton");
        auto *stop = child<ActionButton>(pane, "stopButton");
        QCOMPARE(start->text(), title);
        QCOMPARE(start->isEnabled(), !busy);
        QCOMPARE(start->opacity(), busy ? 0.48 : 1.0);
        QCOMPARE(stop->isEnabled(), stopEnabled);
        QCOMPARE(stop->opacity(), stopOpacity);
        for (const char *name : { "schemePicker", "hostField", "portField", "skipTLSSwitch" })
            QVERIFY2(child(pane, name)->isEnabled() == !busy, name);
        QVERIFY(child(pane, "nameField")->isEnabled());

        QCOMPARE(child(pane, "linkBlock")->isVisible(), emptyTitle.isEmpty());
        QCOMPARE(child(pane, "emptyLink")->isVisible(), !emptyTitle.isEmpty());
        if (!emptyTitle.isEmpty()) {
            QCOMPARE(child<QLabel>(pane, "emptyLinkTitle")->text(), emptyTitle);
        } else {
            QCOMPARE(child<UrlText>(pane, "urlText")->text(), rig.session->publicURL()->toString());
            QCOMPARE(healthLine(pane, "publicHealthCard", "healthDetail"),
                QStringLiteral("four-random-words-here.trycloudflare.com"));
        }

        auto *failure = child<IconTextLabel>(pane, "failureLabel");
        QCOMPARE(failure->isVisible(), kind == Kind::failed);
        if (kind == Kind::failed)
            QCOMPARE(failure->text(), rig.session->status().message);
    }

    void healthDetailLines()
    {
        Rig rig;
        TunnelProfile p = rig.session->profile();
        p.host = QStringLiteral("localhost");
        p.portText = QStringLiteral("8080");
        rig.session->setProfile(p);
        TunnelDetailView pane(rig.session.get());
        auto local = [&pane](const char *line) { return healthLine(pane, "localHealthCard", line); };
        auto remote = [&pane](const char *line) { return healthLine(pane, "publicHealthCard", line); };
        QCOMPARE(local("healthDetail"), QStringLiteral("localhost:8080"));
        QCOMPARE(remote("healthDetail"), QStringLiteral("隧道未启动"));
        QCOMPARE(remote("healthState"), QStringLiteral("未启动"));

        // A refused port: the local tile shows the failure message in place of the address.
        p.host = QStringLiteral("127.0.0.1");
        p.portText = QString::number(LocalHttpServer::unusedPort());
        rig.session->setProfile(p);
        QTRY_VERIFY_WITH_TIMEOUT(rig.session->localHealth().is(HealthState::Kind::unhealthy), 20000);
        QTRY_COMPARE(local("healthDetail"), rig.session->localHealth().message);
        QCOMPARE(local("healthState"), QStringLiteral("异常"));
        QVERIFY(!local("healthDetail").isEmpty());
    }

    void disclosureFollowsProtocolAndKeepsItsState()
    {
        Rig rig({}, OriginScheme::automatic);
        TunnelDetailView pane(rig.session.get());
        pane.show();
        auto *disclosure = child<QAbstractButton>(pane, "disclosureButton");
        auto *toggle = child<QAbstractButton>(pane, "skipTLSSwitch");
        auto *picker = child<SegmentedPicker>(pane, "schemePicker");
        QVERIFY(disclosure->isVisible());
        QVERIFY(!toggle->isVisible()); // collapsed at first
        disclosure->click();
        QVERIFY(toggle->isVisible());
        toggle->click();
        QVERIFY(rig.session->profile().skipTLSVerification);

        picker->segment(int(OriginScheme::http))->click();
        QCOMPARE(rig.session->profile().scheme, OriginScheme::http);
        QVERIFY(!disclosure->isVisible());
        picker->segment(int(OriginScheme::https))->click();
        QCOMPARE(rig.session->profile().scheme, OriginScheme::https);
        QVERIFY(disclosure->isVisible());
        QVERIFY(toggle->isVisible()); // still expanded
        QVERIFY(pane.showAdvanced());
    }

    void deleteAsksFirst()
    {
        Rig rig;
        TunnelProfile p = rig.session->profile();
        p.name = QStringLiteral(" \n ");
        rig.session->setProfile(p);
        TunnelDetailView pane(rig.session.get());
        pane.show();
        QSignalSpy deleted(&pane, &TunnelDetailView::deleteConfirmed);

        child<QAbstractButton>(pane, "deleteButton")->click();
        QVERIFY(answerAlert(pane, QStringLiteral("删除“未命名服务”？"), QStringLiteral("取消")));
        QTRY_VERIFY(!pane.findChild<QMessageBox *>());
        QCoreApplication::processEvents();
        QCOMPARE(deleted.count(), 0);

        p.name = QStringLiteral(" <b>api</b> ");
        rig.session->setProfile(p);
        child<QAbstractButton>(pane, "deleteButton")->click();
        QVERIFY(answerAlert(pane, QStringLiteral("删除“<b>api</b>”？"), QStringLiteral("删除")));
        QVERIFY(deleted.wait());
        QCOMPARE(deleted.count(), 1);
        QCOMPARE(deleted.at(0).at(0).toUuid(), rig.session->id());
        QTRY_COMPARE(child<QLineEdit>(pane, "nameField")->text(), p.name); // untouched in the header
    }

    void copyAndOpen()
    {
        Timings timings;
        timings.copiedLabel = std::chrono::milliseconds(4000);
        Rig rig(timings);
        QVERIFY(rig.reach(Kind::online));
        TunnelDetailView pane(rig.session.get());
        pane.show();
        auto *copy = child<ActionButton>(pane, "copyButton");
        const QString url = rig.session->publicURL()->toString();

        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        QElapsedTimer clock;
        clock.start();
        copy->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), url);
        QCOMPARE(copy->text(), QStringLiteral("已复制"));

        // A second copy halfway does not push the first reset back.
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 2000, 10000);
        QVERIFY2(copy->text() == QStringLiteral("已复制"), "reset before its time");
        QElapsedTimer sinceSecond;
        sinceSecond.start();
        copy->click();
        QTRY_COMPARE_WITH_TIMEOUT(copy->text(), QStringLiteral("复制链接"), 15000);
        // The first reset is due 2 s after the second copy, the second one's 4 s after it.
        QVERIFY2(sinceSecond.elapsed() < 3700, "the label waited for the second copy's reset");

        // Open hands the same address to the desktop.
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        auto *open = child<QAbstractButton>(pane, "openButton");
        QCOMPARE(open->accessibleName(), QStringLiteral("在浏览器中打开")); // it shows only a symbol
        open->click();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(catcher.urls, QList<QUrl> { *rig.session->publicURL() });
    }

    void activityNewestFirstAndClear()
    {
        Rig rig(testTimings());
        QVERIFY(rig.reach(Kind::online));
        TunnelDetailView pane(rig.session.get());
        pane.show();
        QTRY_COMPARE(shownRows(pane).size(), rig.session->activity().size());
        auto *list = child<QScrollArea>(pane, "activityScroll")->widget();
        auto rowsTopDown = [&pane] {
            QList<ActivityRow *> rows = shownRows(pane);
            std::sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
            QStringList texts;
            for (auto *row : rows)
                texts << row->message();
            return texts;
        };
        QStringList expected;
        for (const ActivityEntry &entry : rig.session->activity())
            expected.prepend(entry.message);
        QTRY_COMPARE(rowsTopDown(), expected);
        QCOMPARE(rowsTopDown().first(), QStringLiteral("已连接 Cloudflare 边缘网络"));

        // A new entry goes on top; the rows already there are reused, not rebuilt.
        const QList<ActivityRow *> made = list->findChildren<ActivityRow *>();
        rig.session->stop();
        QTRY_COMPARE(rowsTopDown().first(), QStringLiteral("正在关闭公网隧道…"));
        for (ActivityRow *row : made)
            QVERIFY(list->findChildren<ActivityRow *>().contains(row));

        auto *clear = child<QAbstractButton>(pane, "clearButton");
        QVERIFY(clear->isVisible());
        QVERIFY(!child(pane, "emptyActivity")->isVisible());
        clear->click();
        QVERIFY(rig.session->activity().isEmpty());
        QVERIFY(shownRows(pane).isEmpty());
        QVERIFY(!clear->isVisible());
        QVERIFY(child(pane, "emptyActivity")->isVisible());
    }

    void readingOlderEntriesKeepsTheirPlace()
    {
        Rig rig;
        QList<ActivityEntry> log;
        for (int i = 0; i < 30; ++i)
            log << ActivityEntry { QUuid::createUuid(), QDateTime::currentDateTime(), ActivityLevel::warning,
                QStringLiteral("第 %1 条：连接中断，正在重试").arg(i) };
        rig.session->setActivity(log);
        TunnelDetailView pane(rig.session.get());
        pane.resize(709, 600);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        auto *scroll = child<QScrollArea>(pane, "activityScroll");
        QScrollBar *bar = scroll->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 200);
        bar->setValue(bar->maximum() / 2);
        const int before = bar->value();
        auto rowShowing = [&pane](const QUuid &id) {
            for (auto *row : shownRows(pane))
                if (row->entry().id == id)
                    return row;
            return static_cast<ActivityRow *>(nullptr);
        };
        ActivityRow *top = nullptr;
        for (auto *row : shownRows(pane))
            if (row->geometry().bottom() >= bar->value() && (!top || row->y() < top->y()))
                top = row;
        QVERIFY(top);
        const QUuid reading = top->entry().id;
        const int offsetInView = top->y() - before;

        log << ActivityEntry { QUuid::createUuid(), QDateTime::currentDateTime(), ActivityLevel::info,
            QStringLiteral("新的一条") };
        rig.session->setActivity(log);
        QTRY_COMPARE(shownRows(pane).size(), 31);
        QTRY_VERIFY(bar->value() > before);
        QVERIFY(rowShowing(reading));
        QCOMPARE(rowShowing(reading)->y() - bar->value(), offsetInView);

        // At the top, new entries simply appear above.
        bar->setValue(0);
        log << ActivityEntry { QUuid::createUuid(), QDateTime::currentDateTime(), ActivityLevel::info,
            QStringLiteral("又一条") };
        rig.session->setActivity(log);
        QTRY_COMPARE(shownRows(pane).size(), 32);
        QCOMPARE(bar->value(), 0);
    }

    void typingIsNeverOverwritten()
    {
        Rig rig;
        TunnelDetailView pane(rig.session.get());
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        auto *host = child<QLineEdit>(pane, "hostField");
        host->setFocus();
        host->setCursorPosition(3); // "127|.0.0.1"
        QTest::keyClicks(host, QStringLiteral("99"));
        QCOMPARE(rig.session->profile().host, QStringLiteral("12799.0.0.1"));
        host->setSelection(1, 2);
        const int refreshes = pane.refreshCount();
        for (int i = 0; i < 5; ++i) {
            rig.session->setActivity({});
            QTRY_VERIFY(pane.refreshCount() > refreshes + i);
        }
        QCOMPARE(host->text(), QStringLiteral("12799.0.0.1"));
        QCOMPARE(host->selectionStart(), 1);
        QCOMPARE(host->selectedText(), QStringLiteral("27"));

        // An edit made elsewhere reaches a field nobody is typing into.
        child(pane, "deleteButton")->setFocus();
        TunnelProfile p = rig.session->profile();
        p.portText = QStringLiteral("8443");
        rig.session->setProfile(p);
        QTRY_COMPARE(child<QLineEdit>(pane, "portField")->text(), QStringLiteral("8443"));
    }

    void floodCostsAtMostOneRefreshPerFrame()
    {
        Rig rig;
        QByteArray lines;
        for (int i = 0; i < 1000; ++i)
            lines += FakeCloudflared::warningLine();
        rig.cloudflared.install(
            FakeCloudflared::printToStandardError(FakeCloudflared::requestLine() + lines) + "exec sleep 30\n");
        TunnelDetailView pane(rig.session.get());
        pane.show();
        QWidget *startButton = child(pane, "startButton");
        QSignalSpy changes(rig.session.get(), &TunnelSession::changed);
        const int before = pane.refreshCount();
        QElapsedTimer clock;
        clock.start();
        rig.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(changes.count() >= 1000, 20000);
        QTRY_COMPARE(shownRows(pane).size(), 60);
        const qint64 elapsed = clock.elapsed();
        const int refreshes = pane.refreshCount() - before;
        QVERIFY2(refreshes <= elapsed / 16 + 2,
            qPrintable(QStringLiteral("%1 refreshes in %2 ms").arg(refreshes).arg(elapsed)));
        QVERIFY(refreshes < changes.count() / 10);
        QCOMPARE(child(pane, "startButton"), startButton); // updated in place
        QCOMPARE(child<ActionButton>(pane, "startButton")->text(), QStringLiteral("正在连接"));
    }

    void longTextsNeverWidenThePane()
    {
        Rig rig;
        TunnelProfile p = rig.session->profile();
        p.name = QString(400, u'名');
        p.portText = QString(300, u'9'); // fails validation, so no probe goes anywhere
        rig.session->setProfile(p);
        rig.session->setActivity({ ActivityEntry {
            QUuid::createUuid(), QDateTime::currentDateTime(), ActivityLevel::error, QString(500, u'x') } });
        TunnelDetailView pane(rig.session.get());
        pane.resize(709, 600);
        pane.show();
        QTRY_VERIFY(pane.refreshCount() > 0);
        QTRY_COMPARE(shownRows(pane).size(), 1);
        // The smallest window leaves the pane 709 wide; its content must fit beside a scroll bar.
        QVERIFY2(pane.widget()->minimumSizeHint().width() <= 709 - 20,
            qPrintable(QString::number(pane.widget()->minimumSizeHint().width())));
        QCOMPARE(pane.widget()->width(), pane.viewport()->width());
        QCOMPARE(healthLine(pane, "localHealthCard", "healthDetail").size(), 10 + 300);
    }

    void keyboardAndAccessibility()
    {
        Rig rig({}, OriginScheme::automatic);
        TunnelDetailView pane(rig.session.get());
        pane.resize(709, 900);
        pane.show();
        QCOMPARE(child(pane, "deleteButton")->toolTip(), QStringLiteral("删除此服务")); // it shows only a symbol

        // Tab walks the controls from top to bottom, and each one tells a screen reader what it is.
        QWidget *content = pane.widget();
        QWidget *w = child(pane, "nameField");
        int lastY = -1;
        QStringList visited;
        for (int i = 0; i < 500 && w; ++i, w = w->nextInFocusChain()) {
            if (i > 0 && w->objectName() == QStringLiteral("nameField"))
                break; // round the chain once
            if (!w->isVisible() || !(w->focusPolicy() & Qt::TabFocus) || !content->isAncestorOf(w))
                continue;
            const int y = w->mapTo(content, QPoint(0, 0)).y();
            QVERIFY2(y + 8 >= lastY, qPrintable(w->objectName() + QStringLiteral(" comes before a control above it")));
            lastY = y;
            visited << w->objectName();
            const auto *button = qobject_cast<QAbstractButton *>(w);
            QVERIFY2(!w->accessibleName().isEmpty() || (button && !button->text().isEmpty()),
                qPrintable(w->objectName() + QStringLiteral(" has no name")));
        }
        for (const char *name :
            { "nameField", "deleteButton", "hostField", "portField", "disclosureButton", "startButton" })
            QVERIFY2(visited.contains(QString::fromLatin1(name)), name);

        // Return presses a focused button; Escape answers the alert with its cancel button.
        QWidget *start = child(pane, "startButton");
        start->setFocus();
        QTest::keyClick(start, Qt::Key_Return);
        auto *box = pane.findChild<QMessageBox *>();
        QVERIFY(box);
        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_VERIFY(!pane.findChild<QMessageBox *>());
        QVERIFY(rig.session->status().is(TunnelStatus::Kind::idle));
    }
};

QTEST_MAIN(TestTunnelDetailView)
#include "TestTunnelDetailView.moc"
