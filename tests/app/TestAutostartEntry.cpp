#include "app/AutostartEntry.h"
#include "app/MainMenu.h"

#include <QtTest>
#include <QtWidgets>

class TestAutostartEntry : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path()));
    }

    void execLine_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("exec"); // as written in the file
        QTest::newRow("plain") << u"/usr/bin/orvanta"_qs << u"/usr/bin/orvanta --hidden"_qs;
        QTest::newRow("space") << u"/home/a b/orvanta"_qs << u"\"/home/a b/orvanta\" --hidden"_qs;
        QTest::newRow("field code sign") << u"/opt/100%/orvanta"_qs << u"/opt/100%%/orvanta --hidden"_qs;
        QTest::newRow("dollar and quotes") << u"/tmp/$x \"q\"/o"_qs << u"\"/tmp/\\\\$x \\\\\"q\\\\\"/o\" --hidden"_qs;
        QTest::newRow("backslash") << u"/a\\b"_qs << u"\"/a\\\\\\\\b\" --hidden"_qs;
    }

    void execLine()
    {
        QFETCH(QString, executable);
        QFETCH(QString, exec);
        QCOMPARE(AutostartEntry::execLine(executable), exec);
    }

    void menuItem_data()
    {
        QTest::addColumn<bool>("present"); // an entry written earlier
        QTest::addColumn<bool>("writable"); // the autostart folder can be made
        QTest::newRow("off, turned on and off") << false << true;
        QTest::newRow("on from an earlier run, turned off and on") << true << true;
        QTest::newRow("cannot be written") << false << false;
    }

    void menuItem()
    {
        QFETCH(bool, present);
        QFETCH(bool, writable);
        const QString entry = m_dir->filePath(u"autostart/orvanta.desktop"_qs);
        if (present)
            QVERIFY(AutostartEntry::setEnabled(true, u"/old/orvanta"_qs));
        if (!writable) {
            QFile blocker(m_dir->filePath(u"autostart"_qs));
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Cannot write the autostart entry"_qs));
        }
        QMainWindow window;
        MainMenu::install(
            &window, [] {}, m_dir->path());
        auto *action = window.findChild<QAction *>(u"launchAtLoginAction"_qs);
        QVERIFY(action && action->isCheckable());
        QCOMPARE(action->isChecked(), present);

        action->trigger();
        QCOMPARE(action->isChecked(), !present && writable);
        QCOMPARE(QFileInfo::exists(entry), !present && writable);
        if (action->isChecked()) {
            QFile file(entry);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray text = file.readAll();
            QVERIFY2(text.startsWith("[Desktop Entry]\nType=Application\n")
                    && text.contains(
                        "\nExec=" + AutostartEntry::execLine(QCoreApplication::applicationFilePath()).toUtf8() + '\n'),
                text.constData());
        }
        if (!writable)
            return;
        action->trigger();
        QCOMPARE(action->isChecked(), present);
        QCOMPARE(QFileInfo::exists(entry), present);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestAutostartEntry)
#include "TestAutostartEntry.moc"
