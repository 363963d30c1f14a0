#include "model/TunnelProfile.h"

#include <QTest>

class TestTunnelProfile : public QObject
{
    Q_OBJECT

private slots:
    void portParsing_data();
    void portParsing();
};

void TestTunnelProfile::portParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << u"3000"_qs << qint64(3000) << true;
}

void TestTunnelProfile::portParsing()
{
    QFETCH(QString, text);
    QFETCH(qint64, expected);
    QFETCH(bool, valid);
    const auto port = parsePortText(text);
    QCOMPARE(port.has_value(), valid);
    if (valid)
        QCOMPARE(*port, expected);
}

QTEST_GUILESS_MAIN(TestTunnelProfile)
#include "TestTunnelProfile.moc"
