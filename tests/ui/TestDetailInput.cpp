#include "DetailRig.h"
#include "ui/FactRow.h"
#include "ui/TunnelDetailView.h"
#include "ui/style/Theme.h"
#include "ui/widgets/IconTextLabel.h"
#include "ui/widgets/WrappingLabel.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

namespace {

/// A stopped service whose local server answers, shown in a pane.
struct Service : Rig
{
    explicit Service(Timings timings = {})
        : Rig(timings)
        , pane(session.get())
    {
        session->requestImmediateHealthCheck();
        pane.resize(709, 700);
        pane.show();
        QApplication::setActiveWindow(&pane);
    }

    /// Replaces the text of a field the way a user does: select all, then type.
    void type(const char *field, const QString &text) const
    {
        auto *edit = child<QLineEdit>(pane, field);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }

    QString localTarget() const { return child<FactRow>(pane, "originFact")->value(); }

    TunnelDetailView pane;
};

enum class Road {
    paste,
    accessibleSetText,
    accessibleInsert,
    accessibleReplace,
};

QString profileField(const TunnelProfile &profile, const QString &field)
{
    if (field == u"nameField")
        return profile.name;
    return field == u"hostField" ? profile.host : profile.portText;
}

} // namespace

Q_DECLARE_METATYPE(Road)

class TestDetailInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Theme::install(*qApp);
        QGuiApplication::setApplicationDisplayName(QStringLiteral("奥文塔"));
    }

    void everyRoadIntoAFieldEditsTheProfile_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<Road>("road");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("stored"); // the field shows the same
        QTest::addColumn<bool>("locked");
        const QString host = QStringLiteral("hostField");
        const QString port = QStringLiteral("portField");
        const QString name = QStringLiteral("nameField");
        // Starting texts: name "demo", host "127.0.0.1", port the server's.
        QTest::newRow("host pasted with its line break")
            << host << Road::paste << QStringLiteral("localhost\n") << QStringLiteral("localhost") << false;
        QTest::newRow("port pasted between CRLFs")
            << port << Road::paste << QStringLiteral("\r\n8080\r\n") << QStringLiteral("8080") << false;
        QTest::newRow("inner line break becomes a space")
            << name << Road::accessibleSetText << QStringLiteral("前端\u2028服务\n") << QStringLiteral("前端 服务")
            << false;
        QTest::newRow("insert into host")
            << host << Road::accessibleInsert << QStringLiteral("1") << QStringLiteral("1127.0.0.1") << false;
        QTest::newRow("replace host") << host << Road::accessibleReplace << QStringLiteral("localhost")
                                      << QStringLiteral("localhost") << false;
        QTest::newRow("locked host refuses assistive edits")
            << host << Road::accessibleSetText << QStringLiteral("10.0.0.9") << QStringLiteral("127.0.0.1") << true;
    }

    void everyRoadIntoAFieldEditsTheProfile()
    {
        QFETCH(QString, field);
        QFETCH(Road, road);
        QFETCH(QString, argument);
        QFETCH(QString, stored);
        QFETCH(bool, locked);
        Service service;
        if (locked) {
            QVERIFY(service.reach(Kind::preparing));
            service.pane.refresh();
        }
        auto *edit = child<QLineEdit>(service.pane, field.toLatin1());
        QCOMPARE(edit->isEnabled(), !locked);
        const QString before = edit->text();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(edit);
        QVERIFY(accessible && accessible->editableTextInterface());
        switch (road) {
        case Road::paste:
            QGuiApplication::clipboard()->setText(argument);
            edit->setFocus();
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            break;
        case Road::accessibleSetText:
            accessible->setText(QAccessible::Value, argument);
            break;
        case Road::accessibleInsert:
            accessible->editableTextInterface()->insertText(0, argument);
            break;
        case Road::accessibleReplace:
            accessible->editableTextInterface()->replaceText(0, int(before.size()), argument);
            break;
        }
        QCOMPARE(profileField(service.session->profile(), field), stored);
        QCOMPARE(edit->text(), stored);
        // The pane's next redraw agrees.
        service.pane.refresh();
        QCOMPARE(edit->text(), stored);
    }

    void invalidInputIsToldBeforeTheQuestion_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port"); // "PORT" stands for the server's
        QTest::addColumn<QString>("message"); // empty: valid, the question follows
        QTest::addColumn<QString>("faulty");
        QTest::newRow("host before port")
            << QStringLiteral("a/b") << QStringLiteral("0") << QStringLiteral("请输入有效的 IP 地址或主机名")
            << QStringLiteral("hostField");
        QTest::newRow("word for a port") << QStringLiteral("127.0.0.1") << QStringLiteral("http")
                                         << QStringLiteral("端口必须是数字，例如 3000") << QStringLiteral("portField");
        QTest::newRow("port with blanks around it")
            << QStringLiteral("127.0.0.1") << QStringLiteral(" PORT ") << QString() << QString();
    }

    void invalidInputIsToldBeforeTheQuestion()
    {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, message);
        QFETCH(QString, faulty);
        Service service;
        const QString serverPort = QString::number(service.server.port());
        const QString origin = QStringLiteral("http://127.0.0.1:") + serverPort;
        QTRY_COMPARE_WITH_TIMEOUT(service.localTarget(), origin, 10000);

        service.type("hostField", host);
        service.type("portField", QString(port).replace(QStringLiteral("PORT"), serverPort));
        service.pane.refresh();
        // A target that cannot be used is no target, whatever the last check reached.
        QCOMPARE(service.localTarget(), message.isEmpty() ? origin : QStringLiteral("—"));

        auto *problem = child<IconTextLabel>(service.pane, "inputProblemLabel");
        auto *start = child<QAbstractButton>(service.pane, "startButton");
        start->click();
        if (!message.isEmpty()) {
            QVERIFY2(!service.pane.findChild<QMessageBox *>(), "asked to publish an unusable address");
            QVERIFY(service.session->status().is(TunnelStatus::Kind::idle));
            QVERIFY(problem->isVisible());
            QCOMPARE(problem->text(), message);
            QCOMPARE(QApplication::focusWidget(), child(service.pane, faulty.toLatin1()));
            // Mending the input takes the message away; the question then comes.
            service.type("hostField", QStringLiteral("127.0.0.1"));
            service.type("portField", serverPort);
            QTRY_VERIFY(!problem->isVisible());
            start->click();
        }
        QVERIFY(!problem->isVisible());
        QVERIFY(answerAlert(service.pane, QStringLiteral("确认发布到公网？"), QStringLiteral("确认启动")));
        QVERIFY(service.session->status().is(TunnelStatus::Kind::preparing));
    }

    void alertsAreWideEnoughForTheirTitles()
    {
        Service service;
        TunnelProfile profile = service.session->profile();
        profile.name = QStringLiteral("内部管理后台与接口文档");
        service.session->setProfile(profile);
        service.pane.refresh();
        // The desktop draws the title bold, after it " — " and the program's name, beside its buttons.
        QFont titleFont = QApplication::font();
        titleFont.setBold(true);
        const QFontMetrics metrics(titleFont);
        for (const char *button : { "startButton", "deleteButton" }) {
            child<QAbstractButton>(service.pane, button)->click();
            auto *box = service.pane.findChild<QMessageBox *>();
            QVERIFY(box && box->isVisible());
            const QString shown = box->windowTitle() + QStringLiteral(" — 奥文塔");
            const int needed = metrics.horizontalAdvance(shown) + 3 * 24;
            QVERIFY2(box->width() >= needed,
                qPrintable(QStringLiteral("%1: %2 wide, the title needs %3").arg(shown).arg(box->width()).arg(needed)));
            box->reject();
            QTRY_VERIFY(!service.pane.findChild<QMessageBox *>());
        }
    }

    void longWordsAreShortenedOnce_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("lines"); // at most, 300 wide
        const QString host = QStringLiteral("service-") + QString(200, u'a') + QStringLiteral(".example.internal");
        // One host is one stretch of text, not line after line of it.
        QTest::newRow("long host") << QStringLiteral("无法访问本地服务 ") + host
                + QStringLiteral(":8080，请确认服务已启动")
                                   << QStringLiteral(
                                          "无法访问本地服务 service-aaaaaaaaaaa…xample.internal:8080，请确认服务已启动")
                                   << 2;
        const QString shortWords = QStringLiteral("启动隧道失败：connection refused by 127.0.0.1:8080");
        QTest::newRow("short words") << shortWords << shortWords << 2;
        QTest::newRow("Chinese breaks anywhere") << QString(120, u'错') << QString(120, u'错') << 10;
    }

    void longWordsAreShortenedOnce()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(int, lines);
        WrappingLabel label;
        label.setFont(Theme::font(10));
        label.setWordLimit(40);
        label.setText(text);
        QCOMPARE(label.text(), text);
        QCOMPARE(label.accessibleName(), text);
        QCOMPARE(label.shownText(), shown);
        QVERIFY(label.lineCount(300) <= lines);
    }
};

QTEST_MAIN(TestDetailInput)
#include "TestDetailInput.moc"
