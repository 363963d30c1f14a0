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

/// The messages of the activity rows on screen, top down; the list keeps spare rows hidden.
QList<ActivityRow *> shownRows(const Rig &rig)
{
    QList<ActivityRow *> rows = rig.pane->findChildren<ActivityRow *>();
    rows.removeIf([](const ActivityRow *row) { return row->isHidden(); });
    std::sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
    return rows;
}

QStringList shownMessages(const Rig &rig)
{
    QStringList texts;
    for (const ActivityRow *row : shownRows(rig))
        texts << row->message();
    return texts;
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
    void initTestCase()
    {
        Theme::install(*qApp);
        QGuiApplication::setApplicationDisplayName(u"奥文塔"_qs);
    }

    void cleanupTestCase() { QCOMPARE(Symbols::unknownNames(), QStringList()); }

    void statusDrivesTextsAndLocks_data()
    {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("stopEnabled");
        QTest::addColumn<qreal>("stopOpacity");
        QTest::addColumn<QString>("emptyTitle"); // empty: the link block shows instead
        const QString waiting = u"正在建立公网隧道…"_qs;
        const QString none = u"尚未生成公网地址"_qs;
        QTest::newRow("idle") << Kind::idle << u"启动此服务"_qs << false << false << 0.45 << none;
        QTest::newRow("preparing") << Kind::preparing << u"检查本地服务"_qs << true << true << 1.0 << waiting;
        QTest::newRow("connecting") << Kind::connecting << u"正在连接"_qs << true << true << 1.0 << waiting;
        QTest::newRow("online") << Kind::online << u"运行中"_qs << true << true << 1.0 << QString();
        // Stopping from online keeps its link; the stop button is disabled yet fully opaque.
        QTest::newRow("stopping") << Kind::stopping << u"停止中"_qs << true << false << 1.0 << QString();
        QTest::newRow("failed") << Kind::failed << u"启动此服务"_qs << false << false << 0.45 << none;
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

        auto *start = rig.get<ActionButton>("startButton");
        auto *stop = rig.get<ActionButton>("stopButton");
        QTEST(start->text(), "title");
        QCOMPARE(start->isEnabled(), !busy);
        QTEST(stop->isEnabled(), "stopEnabled");
        QTEST(stop->opacity(), "stopOpacity");
        for (const char *name : { "schemePicker", "hostField", "portField", "skipTLSSwitch" })
            QVERIFY2(rig.get(name)->isEnabled() == start->isEnabled(), name);
        QVERIFY(rig.get("nameField")->isEnabled());

        QCOMPARE(rig.get("linkBlock")->isVisible(), emptyTitle.isEmpty());
        QCOMPARE(rig.get("emptyLink")->isVisible(), !emptyTitle.isEmpty());
        if (!emptyTitle.isEmpty()) {
            QCOMPARE(rig.get<QLabel>("emptyLinkTitle")->text(), emptyTitle);
        } else {
            QCOMPARE(rig.get<UrlText>("urlText")->text(), rig.session->publicURL()->toString());
            QCOMPARE(
                healthLine(rig, "publicHealthCard", "healthDetail"), u"four-random-words-here.trycloudflare.com"_qs);
        }
        if (kind == Kind::idle) {
            QCOMPARE(healthLine(rig, "localHealthCard", "healthDetail"), u"127.0.0.1:%1"_qs.arg(rig.server.port()));
            QCOMPARE(healthLine(rig, "publicHealthCard", "healthDetail"), u"隧道未启动"_qs);
            QCOMPARE(healthLine(rig, "publicHealthCard", "healthState"), u"未启动"_qs);
        }
        auto *failure = rig.get<IconTextLabel>("failureLabel");
        QCOMPARE(failure->isVisible(), kind == Kind::failed);
        if (kind == Kind::failed) {
            QCOMPARE(failure->text(), rig.session->status().message);
            // A refused port: the local tile shows why in place of the address.
            QTRY_COMPARE(healthLine(rig, "localHealthCard", "healthState"), u"异常"_qs);
            QVERIFY(!rig.session->localHealth().message.isEmpty());
            QCOMPARE(healthLine(rig, "localHealthCard", "healthDetail"), rig.session->localHealth().message);
        }
    }

    void disclosureFollowsProtocolAndKeepsItsState()
    {
        Rig rig({}, OriginScheme::automatic);
        auto *disclosure = rig.get<QAbstractButton>("disclosureButton");
        auto *toggle = rig.get<QAbstractButton>("skipTLSSwitch");
        auto *picker = rig.get<SegmentedPicker>("schemePicker");
        QVERIFY(disclosure->isVisible() && !toggle->isVisible()); // collapsed at first
        disclosure->click();
        toggle->click();
        QVERIFY(rig.session->profile().skipTLSVerification);
        picker->segment(int(OriginScheme::http))->click();
        QCOMPARE(rig.session->profile().scheme, OriginScheme::http);
        QVERIFY(!disclosure->isVisible());
        picker->segment(int(OriginScheme::https))->click();
        QCOMPARE(rig.session->profile().scheme, OriginScheme::https);
        QVERIFY(disclosure->isVisible() && toggle->isVisible() && rig.pane->showAdvanced()); // still expanded
    }

    void copyAndOpen()
    {
        Timings timings;
        timings.copiedLabel = std::chrono::milliseconds(4000);
        Rig rig(timings);
        QVERIFY(rig.reach(Kind::online));
        auto *copy = rig.get<ActionButton>("copyButton");
        QGuiApplication::clipboard()->setText(u"something else"_qs);
        QElapsedTimer clock;
        clock.start();
        copy->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), rig.session->publicURL()->toString());
        QCOMPARE(copy->text(), u"已复制"_qs);

        // A second copy halfway does not push the first reset back.
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 2000, 10000);
        QVERIFY2(copy->text() == u"已复制"_qs, "reset before its time");
        clock.restart();
        copy->click();
        QTRY_COMPARE_WITH_TIMEOUT(copy->text(), u"复制链接"_qs, 15000);
        // The first reset is due 2 s after the second copy, the second one's 4 s after it.
        QVERIFY2(clock.elapsed() < 3700, "the label waited for the second copy's reset");

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(u"https"_qs, &catcher, "open");
        auto *open = rig.get<QAbstractButton>("openButton");
        QCOMPARE(open->accessibleName(), u"在浏览器中打开"_qs); // it shows only a symbol
        open->click();
        QDesktopServices::unsetUrlHandler(u"https"_qs);
        QCOMPARE(catcher.urls, QList<QUrl> { *rig.session->publicURL() });
    }

    void activityNewestFirstAndClear()
    {
        Timings timings;
        timings.killGrace = std::chrono::milliseconds(60000);
        Rig rig(timings);
        QVERIFY(rig.reach(Kind::online));
        QStringList expected;
        for (const ActivityEntry &logged : rig.session->activity())
            expected.prepend(logged.message);
        QTRY_COMPARE(shownMessages(rig), expected);
        QCOMPARE(expected.first(), u"已连接 Cloudflare 边缘网络"_qs);

        // A new entry goes on top; the rows already there are reused, not rebuilt.
        const QList<ActivityRow *> made = rig.pane->findChildren<ActivityRow *>();
        rig.session->stop();
        QTRY_COMPARE(shownMessages(rig).first(), u"正在关闭公网隧道…"_qs);
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
        const auto rows = shownRows(rig);
        const auto top
            = std::find_if(rows.begin(), rows.end(), [&](auto *row) { return row->geometry().bottom() >= before; });
        QVERIFY(top != rows.end());
        const QUuid reading = (*top)->entry().id;
        const int offsetInView = (*top)->y() - before;
        auto yOf = [&rig](const QUuid &id) {
            for (auto *row : shownRows(rig))
                if (row->entry().id == id)
                    return row->y();
            return -1;
        };

        rig.session->setActivity(log << entry(u"新的一条"_qs));
        QTRY_COMPARE(shownRows(rig).size(), 31);
        QTRY_VERIFY(bar->value() > before);
        QCOMPARE(yOf(reading) - bar->value(), offsetInView);

        // At the top, new entries simply appear above.
        bar->setValue(0);
        rig.session->setActivity(log << entry(u"又一条"_qs));
        QTRY_COMPARE(shownRows(rig).size(), 32);
        QCOMPARE(bar->value(), 0);
    }

    void typingIsNeverOverwritten()
    {
        Rig rig;
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
    }

    void floodCostsAtMostOneRefreshPerFrame()
    {
        Rig rig;
        QByteArray lines;
        for (int i = 0; i < 1000; ++i)
            lines += FakeCloudflared::warningLine();
        rig.cloudflared.install(
            FakeCloudflared::printToStandardError(FakeCloudflared::requestLine() + lines) + "exec sleep 30\n");
        QWidget *startButton = rig.get("startButton");
        QSignalSpy changes(rig.session.get(), &TunnelSession::changed);
        const int before = rig.pane->refreshCount();
        QElapsedTimer clock;
        clock.start();
        rig.session->start();
        QTRY_VERIFY_WITH_TIMEOUT(changes.count() >= 1000, 20000);
        QTRY_COMPARE(shownRows(rig).size(), 60);
        const qint64 elapsed = clock.elapsed();
        const int refreshes = rig.pane->refreshCount() - before;
        QVERIFY2(refreshes <= elapsed / 16 + 2, qPrintable(u"%1 refreshes in %2 ms"_qs.arg(refreshes).arg(elapsed)));
        QVERIFY(refreshes < changes.count() / 10);
        QCOMPARE(rig.get("startButton"), startButton); // updated in place
        QCOMPARE(rig.get<ActionButton>("startButton")->text(), u"正在连接"_qs);
    }

    void longTextsNeverWidenThePane()
    {
        Rig rig;
        rig.edit([](TunnelProfile &p) {
            p.name = QString(400, u'名');
            p.portText = QString(300, u'9'); // fails validation, so no probe goes anywhere
        });
        rig.session->setActivity({ entry(QString(500, u'x'), ActivityLevel::error) });
        QTRY_COMPARE(shownRows(rig).size(), 1);
        // The content must fit beside a scroll bar.
        QWidget *content = rig.pane->widget();
        QVERIFY2(content->minimumSizeHint().width() <= 709 - 20,
            qPrintable(QString::number(content->minimumSizeHint().width())));
        QCOMPARE(content->width(), rig.pane->viewport()->width());
        QCOMPARE(healthLine(rig, "localHealthCard", "healthDetail").size(), 10 + 300);
    }

    void keyboardAlertsAndNames()
    {
        Rig rig({}, OriginScheme::automatic, 900);
        QCOMPARE(rig.get("deleteButton")->toolTip(), u"删除此服务"_qs); // it shows only a symbol

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
            QVERIFY2(!w->accessibleName().isEmpty() || (button && !button->text().isEmpty()),
                qPrintable(w->objectName() + u" has no name"_qs));
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
            QWidget *button = rig.get(name);
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Return);
            auto *box = rig.pane->findChild<QMessageBox *>();
            QVERIFY(box && box->isVisible());
            const QString shown = box->windowTitle() + u" — 奥文塔"_qs;
            const int needed = QFontMetrics(titleFont).horizontalAdvance(shown) + 3 * 24;
            QVERIFY2(box->width() >= needed,
                qPrintable(u"%1: %2 wide, needs %3"_qs.arg(shown).arg(box->width()).arg(needed)));
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

    void everyRoadIntoAFieldEditsTheProfile_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("stored"); // the field shows the same
        // Starting texts: name "demo", host "127.0.0.1", port the server's.
        QTest::newRow("host pasted with its line break")
            << u"hostField"_qs << u"paste"_qs << u"localhost\n"_qs << u"localhost"_qs;
        QTest::newRow("port pasted between CRLFs")
            << u"portField"_qs << u"paste"_qs << u"\r\n8080\r\n"_qs << u"8080"_qs;
        QTest::newRow("inner line break becomes a space")
            << u"nameField"_qs << u"set"_qs << u"前端\u2028服务\n"_qs << u"前端 服务"_qs;
        QTest::newRow("insert into host") << u"hostField"_qs << u"insert"_qs << u"1"_qs << u"1127.0.0.1"_qs;
        QTest::newRow("replace host") << u"hostField"_qs << u"replace"_qs << u"localhost"_qs << u"localhost"_qs;
        QTest::newRow("locked host refuses assistive edits")
            << u"hostField"_qs << u"locked"_qs << u"10.0.0.9"_qs << u"127.0.0.1"_qs;
    }

    void everyRoadIntoAFieldEditsTheProfile()
    {
        QFETCH(QString, field);
        QFETCH(QString, road);
        QFETCH(QString, argument);
        QFETCH(QString, stored);
        Rig rig;
        if (road == u"locked")
            QVERIFY(rig.reach(Kind::preparing));
        auto *edit = rig.get<QLineEdit>(qPrintable(field));
        QCOMPARE(edit->isEnabled(), road != u"locked");
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(edit);
        QVERIFY(accessible && accessible->editableTextInterface());
        if (road == u"paste") {
            QGuiApplication::clipboard()->setText(argument);
            edit->setFocus();
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        } else if (road == u"insert") {
            accessible->editableTextInterface()->insertText(0, argument);
        } else if (road == u"replace") {
            accessible->editableTextInterface()->replaceText(0, int(edit->text().size()), argument);
        } else {
            accessible->setText(QAccessible::Value, argument);
        }
        const TunnelProfile p = rig.session->profile();
        QCOMPARE(field == u"nameField" ? p.name : field == u"hostField" ? p.host : p.portText, stored);
        QCOMPARE(edit->text(), stored);
        rig.pane->refresh(); // the next redraw agrees
        QCOMPARE(edit->text(), stored);
    }

    void invalidInputIsToldBeforeTheQuestion_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port"); // "PORT" stands for the server's
        QTest::addColumn<QString>("message"); // empty: valid, the question follows
        QTest::addColumn<QByteArray>("faulty");
        QTest::newRow("host before port")
            << u"a/b"_qs << u"0"_qs << u"请输入有效的 IP 地址或主机名"_qs << QByteArray("hostField");
        QTest::newRow("word for a port") << u"127.0.0.1"_qs << u"http"_qs << u"端口必须是数字，例如 3000"_qs
                                         << QByteArray("portField");
        QTest::newRow("port with blanks around it") << u"127.0.0.1"_qs << u" PORT "_qs << QString() << QByteArray();
    }

    void invalidInputIsToldBeforeTheQuestion()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, message);
        QFETCH(QByteArray, faulty);
        Rig rig({}, OriginScheme::http, 700);
        rig.session->requestImmediateHealthCheck();
        const QString serverPort = QString::number(rig.server.port());
        const QString origin = u"http://127.0.0.1:"_qs + serverPort;
        auto target = [&rig] { return rig.get<FactRow>("originFact")->value(); };
        QTRY_COMPARE_WITH_TIMEOUT(target(), origin, 10000);

        type(rig, "hostField", host);
        type(rig, "portField", QString(port).replace(u"PORT"_qs, serverPort));
        rig.pane->refresh();
        // A target that cannot be used is no target, whatever the last check reached.
        QCOMPARE(target(), message.isEmpty() ? origin : u"—"_qs);

        auto *problem = rig.get<IconTextLabel>("inputProblemLabel");
        auto *start = rig.get<QAbstractButton>("startButton");
        start->click();
        if (!message.isEmpty()) {
            QVERIFY2(!rig.pane->findChild<QMessageBox *>(), "asked to publish an unusable address");
            QVERIFY(rig.session->status().is(Kind::idle) && problem->isVisible());
            QCOMPARE(problem->text(), message);
            QCOMPARE(QApplication::focusWidget(), rig.get(faulty.constData()));
            // Mending the input takes the message away; the question then comes.
            type(rig, "hostField", u"127.0.0.1"_qs);
            type(rig, "portField", serverPort);
            QTRY_VERIFY(!problem->isVisible());
            start->click();
        }
        QVERIFY(!problem->isVisible());
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
        QCOMPARE(label.text(), text);
        QCOMPARE(label.accessibleName(), text);
        QTEST(label.shownText(), "shown");
        QVERIFY(label.lineCount(300) <= lines);
    }
};

QTEST_MAIN(TestTunnelDetailView)
#include "TestTunnelDetailView.moc"
