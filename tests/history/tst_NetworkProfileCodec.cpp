#include "NetworkProfileCodec.h"

#include <QTest>

#include <cstring>

using namespace fernpoint;

Q_DECLARE_METATYPE(fernpoint::NetworkProfile)

namespace {

NetworkProfile profile(const char* id, const char* name, const char* desc, double lastUsedAt) {
    return NetworkProfile{QString::fromUtf8(id), QString::fromUtf8(name), QString::fromUtf8(desc),
                          lastUsedAt};
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

class TestNetworkProfileCodec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decode_data();
    void decode();
    void encodesCompactArray();
    void textRoundTrip_data();
    void textRoundTrip();
    void timeRoundTrip_data();
    void timeRoundTrip();
};

void TestNetworkProfileCodec::decode_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QList<NetworkProfile>>("profiles");
    QTest::addColumn<QString>("error");

    const QList<NetworkProfile> none;
    QTest::newRow("empty array") << QByteArray("[]") << true << none << QString();
    QTest::newRow("pretty printed, extra members ignored, integer time")
        << QByteArray("[\n  {\"networkID\": \"0123456789abcdef\", \"name\": \"Lab\",\n"
                      "   \"desc\": \"\", \"lastUsedAt\": 700000000, \"colour\": \"red\"}\n]\n")
        << true << QList<NetworkProfile>{profile("0123456789abcdef", "Lab", "", 700000000.0)}
        << QString();
    QTest::newRow("escaped slash and unicode")
        << QByteArray(
               R"([{"networkID":"a\/b","name":"\u7f51\u7edc","desc":"x","lastUsedAt":-1.5}])")
        << true << QList<NetworkProfile>{profile("a/b", "网络", "x", -1.5)} << QString();
    QTest::newRow("loaded values are not checked: short ID, duplicates")
        << QByteArray(R"([{"networkID":"x","name":"","desc":"","lastUsedAt":1},)"
                      R"({"networkID":"x","name":"","desc":"","lastUsedAt":2}])")
        << true << QList<NetworkProfile>{profile("x", "", "", 1), profile("x", "", "", 2)}
        << QString();

    QTest::newRow("empty file") << QByteArray() << false << none
                                << QStringLiteral("not JSON: illegal value");
    QTest::newRow("cut off") << QByteArray("[{\"networkID\":") << false << none
                             << QStringLiteral("not JSON: unterminated object");
    QTest::newRow("an object") << QByteArray("{}") << false << none
                               << QStringLiteral("not a JSON array");
    QTest::newRow("element not an object")
        << QByteArray("[1]") << false << none << QStringLiteral("entry 0 is not an object");
    QTest::newRow("desc missing in the second entry")
        << QByteArray(R"([{"networkID":"a","name":"","desc":"","lastUsedAt":1},)"
                      R"({"networkID":"b","name":"","lastUsedAt":1}])")
        << false << none << QStringLiteral("entry 1: member \"desc\" is missing");
    QTest::newRow("name null") << QByteArray(
                                      R"([{"networkID":"a","name":null,"desc":"","lastUsedAt":1}])")
                               << false << none
                               << QStringLiteral("entry 0: member \"name\" is not a string");
    QTest::newRow("ID a number") << QByteArray(
                                        R"([{"networkID":1,"name":"","desc":"","lastUsedAt":1}])")
                                 << false << none
                                 << QStringLiteral("entry 0: member \"networkID\" is not a string");
    QTest::newRow("time a string")
        << QByteArray(R"([{"networkID":"a","name":"","desc":"","lastUsedAt":"1"}])") << false
        << none << QStringLiteral("entry 0: member \"lastUsedAt\" is not a number");
    QTest::newRow("time missing") << QByteArray(R"([{"networkID":"a","name":"","desc":""}])")
                                  << false << none
                                  << QStringLiteral("entry 0: member \"lastUsedAt\" is missing");
    QTest::newRow("member names are case-sensitive")
        << QByteArray(R"([{"networkId":"a","name":"","desc":"","lastUsedAt":1}])") << false << none
        << QStringLiteral("entry 0: member \"networkID\" is missing");
}

void TestNetworkProfileCodec::decode() {
    QFETCH(QByteArray, file);
    QFETCH(bool, readable);
    QFETCH(QList<NetworkProfile>, profiles);
    QFETCH(QString, error);

    const DecodeResult result = decodeProfiles(file);
    QCOMPARE(result.profiles.has_value(), readable);
    if (readable)
        QCOMPARE(*result.profiles, profiles);
    else
        QCOMPARE(result.errorDescription, error);
}

void TestNetworkProfileCodec::encodesCompactArray() {
    QCOMPARE(encodeProfiles({}), QByteArray("[]"));
    const QByteArray encoded =
        encodeProfiles({profile("0123456789abcdef", "", "", 0.5), profile("b\"/\n", "网", "d", 2)});
    // Compact: no blanks between tokens, no line break at the end; members in any order.
    QCOMPARE(encoded, QByteArray("[{\"desc\":\"\",\"lastUsedAt\":0.5,\"name\":\"\",\"networkID\":"
                                 "\"0123456789abcdef\"},{\"desc\":\"d\",\"lastUsedAt\":2,\"name\":"
                                 "\"\xe7\xbd\x91\",\"networkID\":\"b\\\"/\\n\"}]"));
}

void TestNetworkProfileCodec::textRoundTrip_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("quotes and backslashes") << QStringLiteral("a\"b\\c\\\"");
    QTest::newRow("every control character") << [] {
        QString all;
        for (char16_t c = 0; c < 0x20; ++c)
            all += QChar(c);
        return all + QStringLiteral("\u007f");
    }();
    QTest::newRow("chinese, emoji, line separator") << QStringLiteral("网络 \U0001F600 \u2028 /");
}

void TestNetworkProfileCodec::textRoundTrip() {
    QFETCH(QString, text);
    const QList<NetworkProfile> profiles{{text, text + text, QString(), 1.0}};
    const DecodeResult decoded = decodeProfiles(encodeProfiles(profiles));
    QVERIFY2(decoded.profiles, qPrintable(decoded.errorDescription));
    QCOMPARE(*decoded.profiles, profiles);
}

void TestNetworkProfileCodec::timeRoundTrip_data() {
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<bool>("textUnchanged");

    // Values as a writer of shortest round-trip numbers puts them in the file come back as they
    // were; any other spelling of the same double comes back as that same double.
    QTest::newRow("17 significant digits") << QByteArray("244855963.33333334") << true;
    QTest::newRow("sub-microsecond") << QByteArray("734567890.1234567") << true;
    QTest::newRow("needs all 17 digits") << QByteArray("0.30000000000000004") << true;
    QTest::newRow("whole seconds") << QByteArray("700000000") << true;
    QTest::newRow("negative, before 2001") << QByteArray("-31536000.25") << true;
    QTest::newRow("more digits than a double holds") << QByteArray("734567890.12345678") << false;
    QTest::newRow("exponent form") << QByteArray("7.345678901234567e8") << false;
}

void TestNetworkProfileCodec::timeRoundTrip() {
    QFETCH(QByteArray, number);
    QFETCH(bool, textUnchanged);

    const QByteArray file = "[{\"desc\":\"\",\"lastUsedAt\":" + number +
                            ",\"name\":\"\",\"networkID\":\"0123456789abcdef\"}]";
    const DecodeResult first = decodeProfiles(file);
    QVERIFY(first.profiles);
    QCOMPARE(first.profiles->first().lastUsedAt, std::strtod(number.constData(), nullptr));

    const QByteArray rewritten = encodeProfiles(*first.profiles);
    if (textUnchanged)
        QCOMPARE(rewritten, file);
    const DecodeResult second = decodeProfiles(rewritten);
    QVERIFY(second.profiles);
    QVERIFY(sameBits(second.profiles->first().lastUsedAt, first.profiles->first().lastUsedAt));
}

QTEST_GUILESS_MAIN(TestNetworkProfileCodec)
#include "tst_NetworkProfileCodec.moc"
