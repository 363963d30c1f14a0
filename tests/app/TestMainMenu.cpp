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
    void menuTitles();
    void editCommandsReachTheFocusedField_data();
    void editCommandsReachTheFocusedField();
    void labelsOnlyCopyAndSelect();
    void windowShortcuts();
};

void TestMainMenu::menuTitles()
{
    QMainWindow window;
    MainMenu::install(&window, [] {});
    QStringList titles;
    for (QAction *top : window.menuBar()->actions())
        titles << top->text();
    QCOMPARE(titles, (QStringList{u"奥文塔"_qs, u"编辑"_qs, u"窗口"_qs}));
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

void TestMainMenu::windowShortcuts()
{
    QMainWindow window;
    int quits = 0;
    MainMenu::install(&window, [&quits] { ++quits; });
    window.setCentralWidget(new QLineEdit);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(window.centralWidget(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(quits, 1);
    QTest::keyClick(window.centralWidget(), Qt::Key_M, Qt::ControlModifier);
    QTRY_VERIFY(window.isMinimized());
    window.findChild<QAction *>(u"bringAllToFrontAction"_qs)->trigger();
    QTRY_VERIFY(!window.isMinimized());
}

QTEST_MAIN(TestMainMenu)
#include "TestMainMenu.moc"
