#include "DetailRig.h"
#include "ui/ActivityRow.h"
#include "ui/FactRow.h"
#include "ui/HealthCard.h"
#include "ui/style/ActionButton.h"
#include "ui/style/Symbols.h"
#include "ui/style/Theme.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/UrlText.h"
#include "ui/widgets/WrappingLabel.h"

#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QClipboard>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>

Q_DECLARE_METATYPE(TunnelStatus::Kind)

namespace {

/// The state or detail line ("healthState", "healthDetail") of a health tile.
QString healthLine(const Rig &rig, const char *tile, const char *line)
{
    return rig.get<HealthCard>(tile)->findChild<QLabel *>(QLatin1String(line))->text();
}

/// The activity rows on screen, top down; the list keeps spare rows hidden.
QList<ActivityRow *> shownRows(const Rig &rig)
{
    QList<ActivityRow *> rows = rig.pane->findChildren<ActivityRow *>();
    rows.removeIf([](const ActivityRow *row) { return row->isHidden(); });
    std::sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
    return rows;
}

ActivityEntry entry(const QString &message, ActivityLevel level = ActivityLevel::info)
{
    return { QUuid::createUuid(), QDateTime::currentDateTime(), level, message };
}

/// Replaces the text of a field the way a user does: select all, then type.
void type(const Rig &rig, const char *field, const QString &text)
{
    auto *edit = rig.get<QLineEdit>(field);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

} // namespace

class TestTunnelDetailView : public QObject
{
    Q_OBJECT

    QList<QUrl> m_opened;

public slots:
    // Stands in for the desktop's browser.
    void open(const QUrl &url) { m_opened << url; }

private slots:
    void initTestCase()
    {
        Theme::install(*qApp);
        QGuiApplication::setApplicationDisplayName(u"奥文塔"_qs);
        QDesktopServices::setUrlHandler(u"https"_qs, this, "open");
    }

    void cleanupTestCase() { QCOMPARE(Symbols::unknownNames(), QStringList()); }

    void statusDrivesTextsAndLocks_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("stopEnabled");
        QTest::addColumn<QString>("emptyTitle"); // empty: the link block shows instead
        const QString waiting = u"正在建立公网隧道…"_qs;
        const QString none = u"尚未生成公网地址"_qs;
        QTest::newRow("idle") << Kind::idle << u"启动此服务"_qs << false << false << none;
        QTest::newRow("preparing") << Kind::preparing << u"检查本地服务"_qs << true << true << waiting;
        QTest::newRow("connecting") << Kind::connecting << u"正在连接"_qs << true << true << waiting;
        QTest::newRow("online") << Kind::online << u"运行中"_qs << true << true << QString();
        // Stopping from online keeps its link.
        QTest::newRow("stopping") << Kind::stopping << u"停止中"_qs << true << false << QString();
        QTest::newRow("failed") << Kind::failed << u"启动此服务"_qs << false << false << none;
    }

    void statusDrivesTextsAndLocks()
    {
        QFETCH(Kind, kind);
        QFETCH(bool, busy);
        QFETCH(QString, emptyTitle);
        Timings timings;
        timings.killGrace = std::chrono::milliseconds(60000); // a stopping child stays until the rig ends it
        Rig rig(timings, OriginScheme::automatic);
        QVERIFY(rig.reach(kind));
        QTEST(rig.get<ActionButton>("startButton")->text(), "title");
        QTEST(rig.get("stopButton")->isEnabled(), "stopEnabled");
        for (const char *name : { "startButton", "schemePicker", "hostField", "portField", "skipTLSSwitch" })
            QVERIFY2(rig.get(name)->isEnabled() == !busy, name);
        QVERIFY(rig.get("nameField")->isEnabled());
        if (busy) { // a locked field refuses assistive tools too
            QAccessible::queryAccessibleInterface(rig.get("hostField"))->setText(QAccessible::Value, u"10.0.0.9"_qs);
            QCOMPARE(rig.session->profile().host, u"127.0.0.1"_qs);
        }

        QVERIFY(rig.get("linkBlock")->isVisible() == emptyTitle.isEmpty()
            && rig.get("emptyLink")->isVisible() != emptyTitle.isEmpty());
        if (!emptyTitle.isEmpty()) {
            QCOMPARE(rig.get<QLabel>("emptyLinkTitle")->text(), emptyTitle);
        } else {
            QCOMPARE(rig.get<UrlText>("urlText")->text(), rig.session->publicURL()->toString());
            QCOMPARE(healthLine(rig, "publicHealthCard", "healthDetail"), rig.session->publicURL()->host());
        }
        auto *failure = rig.get<IconTextLabel>("failureLabel");
        QCOMPARE(failure->isVisible(), kind == Kind::failed);
        if (kind == Kind::failed) {
            QCOMPARE(failure->text(), rig.session->status().message);
            // A refused port: the local tile shows why in place of the address.
            QTRY_COMPARE(healthLine(rig, "localHealthCard", "healthState"), u"异常"_qs);
            QCOMPARE(healthLine(rig, "localHealthCard", "healthDetail"), rig.session->localHealth().message);
        } else if (kind == Kind::idle) {
            QCOMPARE(healthLine(rig, "localHealthCard", "healthDetail"), u"127.0.0.1:%1"_qs.arg(rig.server.port()));
        }
    }

    // Online: the activity newest first, copying and opening the address; then a stop and a clear.
    void copyOpenAndActivity()
    {
        Timings timings;
        timings.copiedLabel = std::chrono::milliseconds(4000);
        timings.killGrace = std::chrono::milliseconds(60000);
        Rig rig(timings);
        QVERIFY(rig.reach(Kind::online));
        QTRY_COMPARE(shownRows(rig).size(), rig.session->activity().size());
        QCOMPARE(shownRows(rig).first()->message(), rig.session->activity().last().message); // newest on top

        auto *copy = rig.get<ActionButton>("copyButton");
        QElapsedTimer clock;
        clock.start();
        copy->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), rig.session->publicURL()->toString());
        // A second copy halfway does not push the first reset back.
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 2000, 10000);
        QVERIFY2(copy->text() == u"已复制"_qs, "reset before its time");
        clock.restart();
        copy->click();
        QTRY_COMPARE_WITH_TIMEOUT(copy->text(), u"复制链接"_qs, 15000);
        // The first reset is due 2 s after the second copy, the second one's 4 s after it.
        QVERIFY2(clock.elapsed() < 3700, "the label waited for the second copy's reset");
        auto *open = rig.get<QAbstractButton>("openButton");
        QCOMPARE(open->accessibleName(), u"在浏览器中打开"_qs); // it shows only a symbol
        open->click();
        QCOMPARE(m_opened, QList<QUrl> { *rig.session->publicURL() });

        // A new entry goes on top; the rows already there are reused, not rebuilt.
        const QList<ActivityRow *> made = rig.pane->findChildren<ActivityRow *>();
        rig.session->stop();
        QTRY_COMPARE(shownRows(rig).first()->message(), u"正在关闭公网隧道…"_qs);
        for (ActivityRow *row : made)
            QVERIFY(rig.pane->findChildren<ActivityRow *>().contains(row));
        auto *clear = rig.get<QAbstractButton>("clearButton");
        QVERIFY(clear->isVisible() && !rig.get("emptyActivity")->isVisible());
        clear->click();
        QVERIFY(rig.session->activity().isEmpty() && shownRows(rig).isEmpty());
        QVERIFY(!clear->isVisible() && rig.get("emptyActivity")->isVisible());
    }

    void readingOlderEntriesKeepsTheirPlace()
    {
        Rig rig;
        QList<ActivityEntry> log;
        for (int i = 0; i < 30; ++i)
            log << entry(u"第 %1 条：连接中断，正在重试"_qs.arg(i), ActivityLevel::warning);
        rig.session->setActivity(log);
        QVERIFY(QTest::qWaitForWindowExposed(rig.pane.get()));
        QScrollBar *bar = rig.get<QScrollArea>("activityScroll")->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 200);
        bar->setValue(bar->maximum() / 2);
        const int before = bar->value();
        auto topRow = [&rig](int from) {
            for (auto *row : shownRows(rig))
                if (row->geometry().bottom() >= from)
                    return row;
            return static_cast<ActivityRow *>(nullptr);
        };
        QVERIFY(topRow(before));
        const ActivityEntry reading = topRow(before)->entry();
        const int offsetInView = topRow(before)->y() - before;

        rig.session->setActivity(log << entry(u"新的一条"_qs));
        QTRY_COMPARE(shownRows(rig).size(), 31);
        QTRY_VERIFY(bar->value() > before);
        QCOMPARE(topRow(bar->value())->entry().id, reading.id);
        QCOMPARE(topRow(bar->value())->y() - bar->value(), offsetInView);
        // At the top, new entries simply appear above.
        bar->setValue(0);
        rig.session->setActivity(log << entry(u"又一条"_qs));
        QTRY_COMPARE(shownRows(rig).size(), 32);
        QCOMPARE(bar->value(), 0);
    }

    void editingIsNeverOverwritten()
    {
        Rig rig({}, OriginScheme::automatic);
        QVERIFY(QTest::qWaitForWindowExposed(rig.pane.get()));
        auto *host = rig.get<QLineEdit>("hostField");
        host->setFocus();
        host->setCursorPosition(3); // "127|.0.0.1"
        QTest::keyClicks(host, u"99"_qs);
        QCOMPARE(rig.session->profile().host, u"12799.0.0.1"_qs);
        host->setSelection(1, 2);
        const int refreshes = rig.pane->refreshCount();
        for (int i = 0; i < 5; ++i) {
            rig.session->setActivity({});
            QTRY_VERIFY(rig.pane->refreshCount() > refreshes + i);
        }
        QCOMPARE(host->text(), u"12799.0.0.1"_qs);
        QCOMPARE(host->selectionStart(), 1);
        QCOMPARE(host->selectedText(), u"27"_qs);
        // An edit made elsewhere reaches a field nobody is typing into.
        rig.get("deleteButton")->setFocus();
        rig.edit([](TunnelProfile &p) { p.portText = u"8443"_qs; });
        QTRY_COMPARE(rig.get<QLineEdit>("portField")->text(), u"8443"_qs);

        // The advanced disclosure shows only for a protocol that can use it, and stays open across a switch.
        auto *disclosure = rig.get<QAbstractButton>("disclosureButton");
        auto *toggle = rig.get<QAbstractButton>("skipTLSSwitch");
        auto *picker = rig.get<SegmentedPicker>("schemePicker");
        QVERIFY(disclosure->isVisible() && !toggle->isVisible());
        disclosure->click();
        toggle->click();
        QVERIFY(rig.session->profile().skipTLSVerification);
        picker->segment(int(OriginScheme::http))->click();
        QVERIFY(rig.session->profile().scheme == OriginScheme::http && !disclosure->isVisible());
        picker->segment(int(OriginScheme::https))->click();
        QCOMPARE(rig.session->profile().scheme, OriginScheme::https);
        QVERIFY(disclosure->isVisible() && toggle->isVisible() && rig.pane->showAdvanced());

        // Long texts never widen the pane: its content fits beside a scroll bar.
        rig.edit([](TunnelProfile &p) {
            p.name = QString(400, u'名');
            p.portText = QString(300, u'9'); // fails validation, so no probe goes anywhere
        });
        rig.session->setActivity({ entry(QString(500, u'x'), ActivityLevel::error) });
        QTRY_COMPARE(shownRows(rig).size(), 1);
        QWidget *content = rig.pane->widget();
        QVERIFY2(content->minimumSizeHint().width() <= 709 - 20,
            qPrintable(QString::number(content->minimumSizeHint().width())));
        QCOMPARE(content->width(), rig.pane->viewport()->width());
        QCOMPARE(healthLine(rig, "localHealthCard", "healthDetail").size(), 12 + 300);
    }

    void keyboardAlertsAndNames()
    {
        Rig rig({}, OriginScheme::automatic, 900);

        // Tab walks the controls from top to bottom, and each one tells a screen reader what it is.
        QWidget *content = rig.pane->widget();
        QWidget *w = rig.get("nameField");
        int lastY = -1;
        QStringList visited;
        for (int i = 0; i < 500 && w && !(i > 0 && w->objectName() == u"nameField"); ++i, w = w->nextInFocusChain()) {
            if (!w->isVisible() || !(w->focusPolicy() & Qt::TabFocus) || !content->isAncestorOf(w))
                continue;
            const int y = w->mapTo(content, QPoint(0, 0)).y();
            QVERIFY2(y + 8 >= lastY, qPrintable(w->objectName() + u" comes before a control above it"_qs));
            lastY = y;
            visited << w->objectName();
            const auto *button = qobject_cast<QAbstractButton *>(w);
            QVERIFY2(
                !w->accessibleName().isEmpty() || (button && !button->text().isEmpty()), qPrintable(w->objectName()));
        }
        for (const char *name :
            { "nameField", "deleteButton", "hostField", "portField", "disclosureButton", "startButton" })
            QVERIFY2(visited.contains(QString::fromLatin1(name)), name);

        // Return presses a focused button; Escape answers with cancel. The desktop draws an alert's title
        // bold, after it " — " and the program's name, beside its buttons: the alert must be that wide.
        rig.edit([](TunnelProfile &p) { p.name = u" <b>内部管理后台与接口文档</b> "_qs; });
        QSignalSpy deleted(rig.pane.get(), &TunnelDetailView::deleteConfirmed);
        QFont titleFont = QApplication::font();
        titleFont.setBold(true);
        for (const char *name : { "startButton", "deleteButton" }) {
            rig.get(name)->setFocus();
            QTest::keyClick(rig.get(name), Qt::Key_Return);
            auto *box = rig.pane->findChild<QMessageBox *>();
            QVERIFY(box && box->isVisible());
            const QString shown = box->windowTitle() + u" — 奥文塔"_qs;
            QVERIFY2(box->width() >= QFontMetrics(titleFont).horizontalAdvance(shown) + 3 * 24, qPrintable(shown));
            QTest::keyClick(box, Qt::Key_Escape);
            QTRY_VERIFY(!rig.pane->findChild<QMessageBox *>());
        }
        QCoreApplication::processEvents();
        QVERIFY(rig.session->status().is(Kind::idle) && deleted.isEmpty());

        // The name is quoted as typed, never as markup; a blank one reads as unnamed.
        rig.get<QAbstractButton>("deleteButton")->click();
        QVERIFY(answerAlert(*rig.pane, u"删除“<b>内部管理后台与接口文档</b>”？"_qs, u"删除"_qs));
        QVERIFY(deleted.wait());
        QCOMPARE(deleted.at(0).at(0).toUuid(), rig.session->id());
        QTRY_COMPARE(rig.get<QLineEdit>("nameField")->text(), rig.session->profile().name); // untouched in the header
        QCOMPARE(TunnelDetailView::deleteTitle(u" \n "_qs), u"删除“未命名服务”？"_qs);
    }

    // Pasting and assistive tools reach the profile as typing does, never with a line break.
    void everyRoadIntoAFieldEditsTheProfile()
    {
        Rig rig;
        auto paste = [&rig](const char *field, const QString &text) {
            QGuiApplication::clipboard()->setText(text);
            auto *edit = rig.get<QLineEdit>(field);
            edit->setFocus();
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        };
        // The field shows what the profile holds, now and after the pane's next redraw.
        auto holds = [&rig](const char *field, QString TunnelProfile::*value, const QString &expected) {
            const bool now = rig.get<QLineEdit>(field)->text() == expected && rig.session->profile().*value == expected;
            rig.pane->refresh();
            return now && rig.get<QLineEdit>(field)->text() == expected;
        };
        QAccessible::queryAccessibleInterface(rig.get("hostField"))->editableTextInterface()->insertText(0, u"1"_qs);
        QVERIFY(holds("hostField", &TunnelProfile::host, u"1127.0.0.1"_qs));
        paste("hostField", u"127.0.0.1\n"_qs);
        QVERIFY(holds("hostField", &TunnelProfile::host, u"127.0.0.1"_qs));
        paste("portField", u"\r\n8080\r\n"_qs);
        QVERIFY(holds("portField", &TunnelProfile::portText, u"8080"_qs));
        QAccessible::queryAccessibleInterface(rig.get("nameField"))
            ->setText(QAccessible::Value, u"前端\u2028服务\n"_qs);
        QVERIFY(holds("nameField", &TunnelProfile::name, u"前端 服务"_qs)); // an inner break becomes a space
    }

    // An input that cannot be used is told at once with its field focused, and nothing is asked; mended,
    // the message goes and the question comes.
    void invalidInputIsToldBeforeTheQuestion()
    {
        Rig rig({}, OriginScheme::http, 700);
        rig.session->requestImmediateHealthCheck();
        const QString port = QString::number(rig.server.port());
        const QString origin = u"http://127.0.0.1:"_qs + port;
        auto target = [&rig] { return rig.get<FactRow>("originFact")->value(); };
        QTRY_COMPARE_WITH_TIMEOUT(target(), origin, 10000);
        auto *problem = rig.get<IconTextLabel>("inputProblemLabel");
        auto *start = rig.get<QAbstractButton>("startButton");
        for (const auto &[host, portText, message, faulty] :
            { std::tuple(u"a/b"_qs, u"0"_qs, u"请输入有效的 IP 地址或主机名"_qs, "hostField"),
                { u"127.0.0.1"_qs, u"http"_qs, u"端口必须是数字，例如 3000"_qs, "portField" } }) {
            type(rig, "hostField", host);
            type(rig, "portField", portText);
            rig.pane->refresh();
            QCOMPARE(target(), u"—"_qs); // no target, whatever the last check reached
            start->click();
            QVERIFY2(!rig.pane->findChild<QMessageBox *>(), "asked to publish an unusable address");
            QVERIFY(rig.session->status().is(Kind::idle) && problem->isVisible());
            QCOMPARE(problem->text(), message);
            QCOMPARE(QApplication::focusWidget(), rig.get(faulty));
        }
        type(rig, "hostField", u"127.0.0.1"_qs);
        type(rig, "portField", u" "_qs + port + u" "_qs); // blanks around a port are no fault
        QTRY_VERIFY(!problem->isVisible());
        rig.pane->refresh();
        QCOMPARE(target(), origin);
        start->click();
        QVERIFY(answerAlert(*rig.pane, u"确认发布到公网？"_qs, u"确认启动"_qs));
        QVERIFY(rig.session->status().is(Kind::preparing));
    }

    void longWordsAreShortenedOnce_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("lines"); // at most, 300 wide
        // One host is one stretch of text, not line after line of it.
        const QString host = u"service-"_qs + QString(200, u'a') + u".example.internal"_qs;
        QTest::newRow("long host") << u"无法访问本地服务 "_qs + host + u":8080，请确认服务已启动"_qs
                                   << u"无法访问本地服务 service-aaaaaaaaaaa…xample.internal:8080，请确认服务已启动"_qs
                                   << 2;
        const QString shortWords = u"启动隧道失败：connection refused by 127.0.0.1:8080"_qs;
        QTest::newRow("short words") << shortWords << shortWords << 2;
        QTest::newRow("Chinese breaks anywhere") << QString(120, u'错') << QString(120, u'错') << 10;
    }

    void longWordsAreShortenedOnce()
    {
        QFETCH(QString, text);
        QFETCH(int, lines);
        WrappingLabel label;
        label.setFont(Theme::font(10));
        label.setWordLimit(40);
        label.setText(text);
        QVERIFY(label.text() == text && label.accessibleName() == text);
        QTEST(label.shownText(), "shown");
        QVERIFY(label.lineCount(300) <= lines);
    }

    // The line count is kept per width: a new text or font at the same width is measured again.
    void wrappingFollowsChanges()
    {
        WrappingLabel label;
        label.setFont(Theme::font(10));
        label.setText(QString(10, u'错'));
        QCOMPARE(label.lineCount(300), 1);
        label.setText(QString(120, u'错'));
        const int lines = label.lineCount(300);
        QVERIFY(lines > 1);
        label.setFont(Theme::font(20));
        QVERIFY(label.lineCount(300) > lines);
    }
};

QTEST_MAIN(TestTunnelDetailView)
#include "TestTunnelDetailView.moc"
