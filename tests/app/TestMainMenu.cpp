#include "app/MainMenu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using MainMenu::EditCommand;

class TestMainMenu : public QObject
{
    Q_OBJECT

private slots:
    void entriesAndShortcuts_data();
    void entriesAndShortcuts();
    void editCommandsReachTheFocusedField_data();
    void editCommandsReachTheFocusedField();
    void labelsOnlyCopyAndSelect();
    void quitShortcutCallsQuit();
    void minimiseShortcut();
};

void TestMainMenu::entriesAndShortcuts_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("shortcut");
    const auto ctrl = [](Qt::Key key) { return QKeySequence(Qt::CTRL | key); };
    QTest::newRow("quit") << u"appMenu"_qs << u"quitAction"_qs << u"退出 奥文塔"_qs << ctrl(Qt::Key_Q);
    QTest::newRow("undo") << u"editMenu"_qs << u"undoAction"_qs << u"撤销"_qs << ctrl(Qt::Key_Z);
    QTest::newRow("cut") << u"editMenu"_qs << u"cutAction"_qs << u"剪切"_qs << ctrl(Qt::Key_X);
    QTest::newRow("copy") << u"editMenu"_qs << u"copyAction"_qs << u"复制"_qs << ctrl(Qt::Key_C);
    QTest::newRow("paste") << u"editMenu"_qs << u"pasteAction"_qs << u"粘贴"_qs << ctrl(Qt::Key_V);
    QTest::newRow("select all") << u"editMenu"_qs << u"selectAllAction"_qs << u"全选"_qs << ctrl(Qt::Key_A);
    QTest::newRow("minimise") << u"windowMenu"_qs << u"minimizeAction"_qs << u"最小化"_qs << ctrl(Qt::Key_M);
    QTest::newRow("zoom") << u"windowMenu"_qs << u"zoomAction"_qs << u"缩放"_qs << QKeySequence();
    QTest::newRow("front") << u"windowMenu"_qs << u"bringAllToFrontAction"_qs << u"全部置于前面"_qs
                           << QKeySequence();
}

void TestMainMenu::entriesAndShortcuts()
{
    QFETCH(QString, menu);
    QFETCH(QString, action);
    QFETCH(QString, text);
    QFETCH(QKeySequence, shortcut);
    QMainWindow window;
    MainMenu::install(&window, [] {});
    const QStringList titles = [&] {
        QStringList list;
        for (QAction *top : window.menuBar()->actions())
            list << top->text();
        return list;
    }();
    QCOMPARE(titles, (QStringList{u"奥文塔"_qs, u"编辑"_qs, u"窗口"_qs}));
    auto *owner = window.menuBar()->findChild<QMenu *>(menu);
    QVERIFY(owner);
    auto *entry = owner->findChild<QAction *>(action);
    QVERIFY(entry);
    QVERIFY(owner->actions().contains(entry));
    QCOMPARE(entry->text(), text);
    QCOMPARE(entry->shortcut(), shortcut);
}

void TestMainMenu::editCommandsReachTheFocusedField_data()
{
    QTest::addColumn<bool>("plainTextEdit");
    QTest::newRow("line edit") << false;
    QTest::newRow("text area") << true;
}

void TestMainMenu::editCommandsReachTheFocusedField()
{
    QFETCH(bool, plainTextEdit);
    QWidget *field = plainTextEdit ? static_cast<QWidget *>(new QPlainTextEdit) : new QLineEdit;
    std::unique_ptr<QWidget> owner(field);
    const auto text = [&] {
        return plainTextEdit ? static_cast<QPlainTextEdit *>(field)->toPlainText()
                             : static_cast<QLineEdit *>(field)->text();
    };
    QTest::keyClicks(field, u"8080"_qs);

    QVERIFY(MainMenu::performEditCommand(field, EditCommand::selectAll));
    QVERIFY(MainMenu::performEditCommand(field, EditCommand::cut));
    QCOMPARE(text(), QString());
    QCOMPARE(QGuiApplication::clipboard()->text(), u"8080"_qs);
    QVERIFY(MainMenu::performEditCommand(field, EditCommand::paste));
    QVERIFY(MainMenu::performEditCommand(field, EditCommand::paste));
    QCOMPARE(text(), u"80808080"_qs);
    QVERIFY(MainMenu::performEditCommand(field, EditCommand::undo));
    QCOMPARE(text(), u"8080"_qs);
    QVERIFY(!MainMenu::performEditCommand(new QPushButton(owner.get()), EditCommand::paste));
    QVERIFY(!MainMenu::performEditCommand(nullptr, EditCommand::copy));
}

void TestMainMenu::labelsOnlyCopyAndSelect()
{
    QLabel label(u"https://four-random-words-here.trycloudflare.com"_qs);
    QVERIFY(!MainMenu::performEditCommand(&label, EditCommand::selectAll)); // not selectable
    label.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QGuiApplication::clipboard()->clear();
    QVERIFY(MainMenu::performEditCommand(&label, EditCommand::selectAll));
    QVERIFY(MainMenu::performEditCommand(&label, EditCommand::copy));
    QCOMPARE(QGuiApplication::clipboard()->text(), label.text());
    QVERIFY(!MainMenu::performEditCommand(&label, EditCommand::paste));
    QCOMPARE(label.text(), u"https://four-random-words-here.trycloudflare.com"_qs);
}

void TestMainMenu::quitShortcutCallsQuit()
{
    QMainWindow window;
    int quits = 0;
    MainMenu::install(&window, [&quits] { ++quits; });
    window.setCentralWidget(new QLineEdit);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.centralWidget()->setFocus();
    QTest::keyClick(window.centralWidget(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(quits, 1);
}

void TestMainMenu::minimiseShortcut()
{
    QMainWindow window;
    MainMenu::install(&window, [] {});
    window.setCentralWidget(new QLineEdit);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(window.centralWidget(), Qt::Key_M, Qt::ControlModifier);
    QTRY_VERIFY(window.isMinimized());
    window.findChild<QAction *>(u"bringAllToFrontAction"_qs)->trigger();
    QTRY_VERIFY(!window.isMinimized());
}

QTEST_MAIN(TestMainMenu)
#include "TestMainMenu.moc"
