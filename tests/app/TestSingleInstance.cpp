#include "app/SingleInstance.h"

#include <QtNetwork>
#include <QtTest>

#include <sys/file.h>

using Role = SingleInstance::Role;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void lockWithoutOwner_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("held"); // a live process keeps the file locked
        QTest::addColumn<Role>("role");
        QTest::newRow("empty, left by a power loss") << QByteArray() << 3600 << false << Role::primary;
        QTest::newRow("empty, just left by a crash") << QByteArray() << 0 << false << Role::primary;
        QTest::newRow("unreadable") << QByteArray("\xff\xfe\n\n") << 3600 << false << Role::primary;
        QTest::newRow("empty, its owner still writing it") << QByteArray() << 3600 << true << Role::unanswered;
    }

    void lockWithoutOwner()
    {
        QFETCH(QByteArray, contents);
        QFETCH(int, ageSeconds);
        QFETCH(bool, held);
        QFETCH(Role, role);
        QFile lock(m_dir->filePath(u"orvanta.lock"_qs));
        QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write(contents) == contents.size() && lock.flush());
        QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFile::FileModificationTime));
        if (held)
            QCOMPARE(::flock(lock.handle(), LOCK_EX | LOCK_NB), 0);
        else
            lock.close();

        SingleInstance instance(m_dir->path());
        QCOMPARE(instance.claim(), role);
        if (role != Role::primary)
            return;
        QSignalSpy activations(&instance, &SingleInstance::activationRequested);
        SingleInstance later(m_dir->path());
        QCOMPARE(later.claim(), Role::handedOver);
        QVERIFY(activations.wait(5000));
    }

    void socketThatCannotBeListenedOn()
    {
        // A directory in its place can be neither removed nor bound over.
        QVERIFY(QDir(m_dir->path()).mkdir(u"orvanta.socket"_qs));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Cannot listen on .*orvanta.socket .*once more$"_qs));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Cannot listen on .*a later start cannot"_qs));
        SingleInstance instance(m_dir->path());
        QCOMPARE(instance.claim(), Role::primary);
        // It still holds the lock: a later start is refused rather than run beside it.
        SingleInstance later(m_dir->path());
        QCOMPARE(later.claim(), Role::unanswered);
    }

    void unusableDirectoryIsReported()
    {
        QFile file(m_dir->filePath(u"file"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(u"^Cannot use the single-instance lock .*running without"_qs));
        SingleInstance instance(file.fileName() + u"/below"_qs);
        QCOMPARE(instance.claim(), Role::primary);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "TestSingleInstance.moc"
