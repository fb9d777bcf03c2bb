#include "NetworkProfileCodec.h"

#include <QTest>
#include <cstring>

using namespace fernpoint;

Q_DECLARE_METATYPE(fernpoint::NetworkProfile)

class TestNetworkProfileCodec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decode_data();
    void decode();
    void textRoundTrip_data();
    void textRoundTrip();
    void timeRoundTrip_data();
    void timeRoundTrip();
};

void TestNetworkProfileCodec::decode_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<NetworkProfile>>("profiles");
    QTest::addColumn<QString>("error"); // null when the file is readable

    const QList<NetworkProfile> none;
    QTest::newRow("empty array") << QByteArray("[]") << none << QString();
    QTest::newRow("loaded values are not checked: short ID, duplicates")
        << QByteArray(R"([{"networkID":"x","name":"","desc":"","lastUsedAt":1},)"
                      R"({"networkID":"x","name":"","desc":"","lastUsedAt":2}])")
        << QList<NetworkProfile>{{QStringLiteral("x"), QString(), QString(), 1},
                                 {QStringLiteral("x"), QString(), QString(), 2}}
        << QString();

    const auto refused = [&none](const char* name, const char* file, const char* error) {
        QTest::newRow(name) << QByteArray(file) << none << QString::fromUtf8(error);
    };
    refused("an object", "{}", "not a JSON array");
    refused("element not an object", "[1]", "entry 0 is not an object");
    refused("desc missing in the second entry",
            R"([{"networkID":"a","name":"","desc":"","lastUsedAt":1},)"
            R"({"networkID":"b","name":"","lastUsedAt":1}])",
            "entry 1: member \"desc\" is missing");
    refused("name null", R"([{"networkID":"a","name":null,"desc":"","lastUsedAt":1}])",
            "entry 0: member \"name\" is not a string");
    refused("time a string", R"([{"networkID":"a","name":"","desc":"","lastUsedAt":"1"}])",
            "entry 0: member \"lastUsedAt\" is not a number");
}

void TestNetworkProfileCodec::decode() {
    QFETCH(QByteArray, file);
    QFETCH(QList<NetworkProfile>, profiles);
    QFETCH(QString, error);

    const DecodeResult result = decodeProfiles(file);
    QCOMPARE(result.profiles.has_value(), error.isNull());
    if (result.profiles)
        QCOMPARE(*result.profiles, profiles);
    else
        QCOMPARE(result.errorDescription, error);
}

void TestNetworkProfileCodec::textRoundTrip_data() {
    QTest::addColumn<QString>("text");

    QTest::newRow("quotes and backslashes") << QStringLiteral("a\"b\\c\\\"");
    QString controls;
    for (char16_t c = 0; c < 0x20; ++c)
        controls += QChar(c);
    QTest::newRow("every control character") << controls + QStringLiteral("\u007f");
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
    QTest::newRow("needs all 17 digits") << QByteArray("0.30000000000000004") << true;
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
    const double time = first.profiles->first().lastUsedAt;
    QCOMPARE(time, std::strtod(number.constData(), nullptr));

    const QByteArray rewritten = encodeProfiles(*first.profiles);
    if (textUnchanged)
        QCOMPARE(rewritten, file);
    const DecodeResult second = decodeProfiles(rewritten);
    QVERIFY(second.profiles);
    const double again = second.profiles->first().lastUsedAt;
    QVERIFY(std::memcmp(&again, &time, sizeof time) == 0); // bit for bit
}

QTEST_GUILESS_MAIN(TestNetworkProfileCodec)
#include "tst_NetworkProfileCodec.moc"
