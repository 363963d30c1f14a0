#include "app/SingleInstance.h"

#include <QThread>
#include <QtNetwork>
#include <QtTest>

#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

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

    void peerCredentials()
    {
        int pair[2];
        int pipe[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0 && ::pipe(pipe) == 0);
        QVERIFY(SingleInstance::isPeerUser(pair[0], ::getuid()));
        QVERIFY(!SingleInstance::isPeerUser(pair[0], ::getuid() + 1));
        QVERIFY(!SingleInstance::isPeerUser(pipe[0], ::getuid()));
        for (const int fd : { pair[0], pair[1], pipe[0], pipe[1] })
            ::close(fd);
    }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("activations");
        QTest::newRow("a question") << QByteArray("{\"q\":1}\n") << QByteArray("seen {\"q\":1}\n") << 0;
        QTest::newRow("activation") << QByteArray("activate\n") << QByteArray() << 1;
        QTest::newRow("a question while quitting") << QByteArray("{\"q\":1}\n") << QByteArray() << 0;
        QTest::newRow("activation while quitting") << QByteArray("activate\n") << QByteArray("quitting\n") << 0;
        QTest::newRow("neither") << QByteArray("hello\nactivate\n") << QByteArray() << 0;
        QTest::newRow("too long") << "{" + QByteArray(SingleInstance::maxRequestBytes, ' ') + "}\n"
                                  << QByteArray() << 0;
        QTest::newRow("silence") << QByteArray() << QByteArray() << 0;
        QTest::newRow("no line end") << QByteArray("{\"q\":1}") << QByteArray() << 0;
    }

    void requests()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answer);
        QFETCH(int, activations);
        const bool quitting = QByteArray(QTest::currentDataTag()).endsWith("while quitting");
        SingleInstance instance(m_dir->path());
        QCOMPARE(instance.claim(), Role::primary);
        if (quitting)
            instance.stopAcceptingHandovers();
        instance.setRequestTimeout(std::chrono::milliseconds(300));
        instance.setRequestHandler([](const QByteArray &request) { return "seen " + request; });
        QSignalSpy activated(&instance, &SingleInstance::activationRequested);
        QLocalSocket client;
        client.connectToServer(instance.socketPath());
        QVERIFY(client.waitForConnected(2000));
        client.write(sent);
        // Every connection ends, whatever it sent, within the bound.
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QLocalSocket::UnconnectedState, 5000);
        QCOMPARE(client.readAll(), answer);
        QCOMPARE(activated.size(), activations);
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
