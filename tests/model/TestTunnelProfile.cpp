#include "model/SessionState.h"
#include "model/TunnelProfile.h"

#include <QTest>
#include <QUrl>

using Kind = TunnelError::Kind;

class TestTunnelProfile : public QObject
{
    Q_OBJECT

private slots:
    void validation_data();
    void validation();
    void decoding_data();
    void decoding();
    void encodingRoundTrip();
};

void TestTunnelProfile::validation_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<OriginScheme>("scheme");
    QTest::addColumn<QString>("origin"); // empty when an error is expected
    QTest::addColumn<QString>("hostHeader");
    QTest::addColumn<int>("error");
    const int none = -1;
    const auto err = [](Kind k) { return int(k); };

    QTest::newRow("https trimmed") << u" 192.168.1.20\t\n"_qs << u"8443"_qs << OriginScheme::https
                                   << u"https://192.168.1.20:8443"_qs << u"192.168.1.20:8443"_qs << none;
    QTest::newRow("sign and zeros normalised") << u"localhost"_qs << u"+08080"_qs << OriginScheme::http
                                               << u"http://localhost:8080"_qs << u"localhost:8080"_qs << none;
    QTest::newRow("highest port") << u"a"_qs << u"65535"_qs << OriginScheme::http << u"http://a:65535"_qs
                                  << u"a:65535"_qs << none;
    QTest::newRow("automatic undecided") << u"127.0.0.1"_qs << u"3000"_qs << OriginScheme::automatic << QString()
                                         << u"127.0.0.1:3000"_qs << err(Kind::protocolDetectionFailed);
    QTest::newRow("host before port") << u"a/b"_qs << u"0"_qs << OriginScheme::automatic << QString() << QString()
                                      << err(Kind::invalidHost);
    QTest::newRow("port with blanks around it") << u"127.0.0.1"_qs << u" 60147\t\n"_qs << OriginScheme::http
                                                << u"http://127.0.0.1:60147"_qs << u"127.0.0.1:60147"_qs << none;
    // A number out of range and text that is no number are told apart.
    const QList<std::pair<QString, Kind>> badPorts { { u"0"_qs, Kind::invalidPort }, { u"65536"_qs, Kind::invalidPort },
        { u"-1"_qs, Kind::invalidPort }, { u" 99999999999999999999 "_qs, Kind::invalidPort },
        { QString(), Kind::portNotNumber }, { u" "_qs, Kind::portNotNumber }, { u"+"_qs, Kind::portNotNumber },
        { u"80a"_qs, Kind::portNotNumber }, { u"8 0"_qs, Kind::portNotNumber }, { u"http"_qs, Kind::portNotNumber },
        { u"８０"_qs, Kind::portNotNumber }, { u"٨٠"_qs, Kind::portNotNumber }, { u"0x50"_qs, Kind::portNotNumber },
        { u"+-1"_qs, Kind::portNotNumber },
        // 2^64 + 80: a parse that wraps around would take it for port 80.
        { u"18446744073709551696"_qs, Kind::invalidPort } };
    for (const auto &[bad, kind] : badPorts) {
        QTest::addRow("port '%s'", qPrintable(bad))
            << u"127.0.0.1"_qs << bad << OriginScheme::automatic << QString() << QString() << err(kind);
    }

    // Host forms on plain HTTP to port 80; an empty form is refused.
    const auto row = [&](const char *name, const QString &host, const QString &form = {}) {
        QTest::newRow(name) << host << u"80"_qs << OriginScheme::http
                            << (form.isEmpty() ? QString() : u"http://"_qs + form + u":80"_qs)
                            << (form.isEmpty() ? QString() : form + u":80"_qs)
                            << (form.isEmpty() ? err(Kind::invalidHost) : none);
    };
    row("name", u"my-host.lan"_qs, u"my-host.lan"_qs);
    row("Unicode blanks trimmed", u"\u3000host\u2028"_qs, u"host"_qs);
    row("name case folded", u"LocalHost"_qs, u"localhost"_qs);
    row("IDN in ACE form", u"Bücher.de"_qs, u"xn--bcher-kva.de"_qs);
    row("ideographic full stop", u"例子。测试"_qs, u"xn--fsqu00a.xn--0zwm56d"_qs);
    row("dotted decimal", u"0.0.0.0"_qs, u"0.0.0.0"_qs);
    row("IPv6 bracketed", u"fe80::1"_qs, u"[fe80::1]"_qs);
    row("IPv6 already bracketed", u"[::1]"_qs, u"[::1]"_qs);
    row("IPv6 canonical", u"[0:0:0:0:0:0:0:1]"_qs, u"[::1]"_qs);
    row("IPv6 with IPv4 tail", u"::FFFF:1.2.3.4"_qs, u"[::ffff:1.2.3.4]"_qs);
    // Forms that URL parsing reads as another host than the text cloudflared receives, and others refused.
    const std::pair<const char *, QString> refused[] = { { "IPv4 shorthand", u"127.1"_qs },
        { "IPv4 as one number", u"2130706433"_qs }, { "IPv4 octal", u"0177.0.0.1"_qs },
        { "IPv4 hex", u"0x7f.0.0.1"_qs }, { "IPv4 out of range", u"1.2.3.256"_qs },
        { "IPv4 five parts", u"1.2.3.4.5"_qs }, { "name ending in a number", u"host.123"_qs },
        { "user info", u"user@127.0.0.1"_qs }, { "port in host", u"127.0.0.1:8080"_qs },
        { "full-width digits", u"１２７.0.0.1"_qs }, { "full-width letters", u"ｅｘａｍｐｌｅ"_qs },
        { "superscript digit", u"127.0.0.¹"_qs }, { "arabic-indic digits", u"١٢٧.0.0.1"_qs },
        { "zero-width space", u"loc\u200Balhost"_qs }, { "zero-width joiner", u"a\u200Db"_qs },
        { "soft hyphen", u"loc\u00ADalhost"_qs }, { "byte order mark", u"x\uFEFFy"_qs },
        { "record separator", u"local\u001Ehost"_qs }, { "inner tab", u"a\tb"_qs },
        { "replacement character", u"a\uFFFDb"_qs }, { "underscore", u"my_host"_qs },
        { "label starting with hyphen", u"-a.b"_qs }, { "empty label", u"a..b"_qs },
        { "trailing dot", u"localhost."_qs }, { "label too long", QString(64, u'a') },
        { "percent escape", u"%31.0.0.1"_qs }, { "half bracket", u"[fe80::1"_qs },
        { "text after bracket", u"[::1]x"_qs }, { "IPv4 in brackets", u"[127.0.0.1]"_qs },
        { "IPv6 zone", u"fe80::1%eth0"_qs }, { "IPv6 with shorthand IPv4 tail", u"::ffff:127.1"_qs },
        { "colon in a name", u"a:b"_qs }, { "empty", QString() }, { "blanks only", u" \t "_qs }, { "a b", u"a b"_qs },
        { "a/b", u"a/b"_qs }, { "a\\b", u"a\\b"_qs }, { "a?b", u"a?b"_qs }, { "a#b", u"a#b"_qs } };
    for (const auto &[name, host] : refused)
        row(name, host);
}

void TestTunnelProfile::validation()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(OriginScheme, scheme);
    QFETCH(QString, origin);
    QFETCH(QString, hostHeader);
    QFETCH(int, error);

    const TunnelConfiguration configuration { scheme, host, port, false };
    // A value, or the number of the error's kind.
    const auto outcome
        = [](const auto &result) { return result.ok() ? result.value() : QString::number(int(result.error().kind)); };
    QCOMPARE(outcome(configuration.validatedOriginURL()), error < 0 ? origin : QString::number(error));
    QCOMPARE(outcome(configuration.validatedHostHeader()), hostHeader.isEmpty() ? QString::number(error) : hostHeader);
}

void TestTunnelProfile::decoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("valid");
    const QByteArray good = R"({"id":"6f1c2a7e-0b5d-4c1e-9a3f-2d4b6c8e0a1f","name":"Web","provider":"Cloudflare",)"
                            R"("scheme":"HTTP","host":"127.0.0.1","portText":"3000","skipTLSVerification":false})";
    QTest::newRow("good") << '[' + good + ']' << true;
    QTest::newRow("empty array") << QByteArray("[]") << true;
    QTest::newRow("lower-case uuid, keys reordered, unknown key")
        << QByteArray(R"([{"skipTLSVerification":true,"portText":"x","host":"h","scheme":"自动","name":"",)"
                      R"("id":"6f1c2a7e-0b5d-4c1e-9a3f-2d4b6c8e0a1f","extra":1}])")
        << true;
    QTest::newRow("one bad record fails all")
        << '[' + good + ',' + QByteArray(good).replace("HTTP", "http") + ']' << false;
    QTest::newRow("not an array") << good << false;
    QTest::newRow("truncated") << '[' + good.left(40) << false;
    QTest::newRow("record not object") << QByteArray("[1]") << false;
    // One field changed at a time.
    const struct
    {
        const char *name, *from, *to;
        bool valid;
    } edits[] = { { "provider number", "\"Cloudflare\"", "42", true },
        { "provider null", "\"Cloudflare\"", "null", true },
        { "provider missing", "\"provider\":\"Cloudflare\",", "", true },
        { "scheme lower case", "\"HTTP\"", "\"http\"", false }, { "scheme unknown", "\"HTTP\"", "\"FTP\"", false },
        { "portText number", "\"3000\"", "3000", false }, { "skip as string", "false}", "\"false\"}", false },
        { "name null", "\"Web\"", "null", false }, { "host missing", "\"host\":\"127.0.0.1\",", "", false },
        { "uuid with braces", "\"6f1c2a7e-0b5d-4c1e-9a3f-2d4b6c8e0a1f\"", "\"{6f1c2a7e-0b5d-4c1e-9a3f-2d4b6c8e0a1f}\"",
            false },
        { "uuid without hyphens", "6f1c2a7e-0b5d-4c1e-9a3f-2d4b6c8e0a1f", "6f1c2a7e0b5d4c1e9a3f2d4b6c8e0a1f", false },
        { "invalid utf-8", "Web", "W\xff\xfe", false } };
    for (const auto &edit : edits)
        QTest::newRow(edit.name) << '[' + QByteArray(good).replace(edit.from, edit.to) + ']' << edit.valid;
}

void TestTunnelProfile::decoding()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, valid);
    QCOMPARE(decodeProfiles(json).has_value(), valid);
}

// The stored form, byte for byte: lists saved by earlier versions must stay readable and the other way round.
void TestTunnelProfile::encodingRoundTrip()
{
    const TunnelProfile profile { QUuid::fromString(u"6f1c2a7e-0b5d-4c1e-9a3f-2d4b6c8e0a1f"_qs), u"演示 \"站点\"/1"_qs,
        TunnelProvider::cloudflare, OriginScheme::automatic, u" 127.0.0.1 "_qs, u"+08080"_qs, true };
    const QByteArray json = encodeProfiles({ profile, profile });
    QCOMPARE(json.left(json.size() / 2),
        QByteArray("[{\"id\":\"6F1C2A7E-0B5D-4C1E-9A3F-2D4B6C8E0A1F\",\"name\":\"演示 \\\"站点\\\"/1\",\"provider\":"
                   "\"Cloudflare\",\"scheme\":\"自动\",\"host\":\" 127.0.0.1 \",\"portText\":\"+08080\","
                   "\"skipTLSVerification\":true}"));
    const auto decoded = decodeProfiles(json);
    QVERIFY(decoded && decoded->size() == 2 && decoded->first() == profile);
    QCOMPARE(encodeProfiles({}), QByteArray("[]"));
}

QTEST_GUILESS_MAIN(TestTunnelProfile)
#include "TestTunnelProfile.moc"
