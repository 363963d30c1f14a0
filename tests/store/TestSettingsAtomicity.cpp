#include "SettingsFile.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int serviceCount = 200;

/// Every list the writer can leave: the seeded services in order, the first k named after one generation
/// and the rest after the one before.
bool isAWrittenList(const QList<TunnelProfile> &list, const QList<TunnelProfile> &seeded, QString *why)
{
    if (list.size() != seeded.size()) {
        *why = QStringLiteral("%1 services").arg(list.size());
        return false;
    }
    static const QRegularExpression generation(QStringLiteral("^第 (\\d+) 代$"));
    int previous = -1;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].id != seeded[i].id) {
            *why = QStringLiteral("service %1 has another id").arg(i);
            return false;
        }
        const auto match = generation.match(list[i].name);
        const int gen = match.hasMatch() ? match.captured(1).toInt() : -1;
        if (gen < 0 || (previous >= 0 && gen != previous && gen != previous - 1)) {
            *why = QStringLiteral("service %1 is named %2").arg(i).arg(list[i].name);
            return false;
        }
        previous = gen;
    }
    return true;
}

} // namespace

class TestSettingsAtomicity : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesAWholeList();
};

// The writer spends nearly all its time inside saves (each ends in an fsync), so a kill at an arbitrary
// moment lands in one.
void TestSettingsAtomicity::killedWriterLeavesAWholeList()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("orvanta/orvanta.conf"));
    QList<TunnelProfile> seeded;
    for (int i = 0; i < serviceCount; ++i)
        seeded.append(makeProfile(QStringLiteral("第 0 代")));
    writeSettingsFile(path, {{QStringLiteral("tunnelProfilesV2"), encodeProfiles(seeded)}});

    for (int round = 0; round < 12; ++round) {
        QProcess writer;
        writer.setProgram(QStringLiteral(STORE_WRITER));
        writer.setArguments({path});
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const int savesBeforeKill = int(QRandomGenerator::global()->bounded(1, 40));
        int saves = 0;
        connect(&writer, &QProcess::readyReadStandardOutput, this, [&] {
            while (writer.canReadLine()) {
                QCOMPARE(writer.readLine(), QByteArray("saved\n"));
                if (++saves == savesBeforeKill)
                    writer.kill();
            }
        });
        QSignalSpy finished(&writer, &QProcess::finished);
        writer.start();
        QVERIFY2(finished.wait(60000), "the writer did not stop");
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        QVERIFY(saves >= savesBeforeKill);

        const auto list = profilesOnDisk(path);
        QVERIFY2(list, qPrintable(QStringLiteral("round %1: the stored list does not decode").arg(round)));
        QString why;
        QVERIFY2(isAWrittenList(*list, seeded, &why), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(why)));
    }
}

QTEST_GUILESS_MAIN(TestSettingsAtomicity)
#include "TestSettingsAtomicity.moc"
