#include "NetworkProfileCodec.h"

#include <QTest>

using namespace fernpoint;
using namespace Qt::StringLiterals;
using Profiles = QList<NetworkProfile>;

class TestNetworkProfileCodec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decode_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Profiles>("profiles");
        QTest::addColumn<QString>("error"); // empty when the file is readable

        const auto entry = [](const char* id, const char* time) {
            return "{\"networkID\":\"" + QByteArray(id) +
                   "\",\"name\":\"\",\"desc\":\"\",\"lastUsedAt\":" + time + "}";
        };
        QTest::newRow("loaded values are not checked: short ID, duplicates")
            << "[" + entry("x", "1") + "," + entry("x", "2") + "]"
            << Profiles{{u"x"_s, QString(), QString(), 1}, {u"x"_s, QString(), QString(), 2}}
            << QString();
        const auto refused = [](const char* name, const QByteArray& file, const char* error) {
            QTest::newRow(name) << file << Profiles() << QString::fromUtf8(error);
        };
        refused("an object", "{}", "not a JSON array");
        refused("an element not an object", "[1]", "entry 0 is not an object");
        refused("desc missing in the second entry",
                "[" + entry("a", "1") + R"(,{"networkID":"b","name":"","lastUsedAt":1}])",
                "entry 1: member \"desc\" is missing");
    }
    void decode() {
        QFETCH(QByteArray, file);
        QFETCH(Profiles, profiles);
        QFETCH(QString, error);
        const DecodeResult result = decodeProfiles(file);
        QCOMPARE(result.errorDescription, error);
        QCOMPARE(result.profiles.value_or(Profiles()), profiles);
    }

    // The bytes written, checked as JSON text rather than through the reader, which is lenient.
    void encodedText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("json");

        QTest::newRow("quotes and backslashes") // "a\"b\\c\\\""
            << u"a\"b\\c\\\""_s << QByteArray("\"a\\\"b\\\\c\\\\\\\"\"");
        QTest::newRow("named escapes") << u"\b\f\n\r\t"_s << QByteArray(R"("\b\f\n\r\t")");
        QTest::newRow("other control characters")
            << QString::fromUtf8("\x00\x01\x1b\x1f\x7f", 5)
            << QByteArray("\"\\u0000\\u0001\\u001b\\u001f\x7f\"");
        QTest::newRow("chinese, emoji, line separator, slash")
            << u"网络 \U0001F600 \u2028 /"_s
            << QByteArray("\"网络 \xF0\x9F\x98\x80 \xE2\x80\xA8 /\"");
    }
    void encodedText() {
        QFETCH(QString, text);
        QFETCH(QByteArray, json);
        // A time needing all 17 digits of a double, written as the shortest text that reads back.
        const Profiles profiles{{text, text, text, 244855963.33333334}};
        const QByteArray file = encodeProfiles(profiles);
        QCOMPARE(file, "[{\"desc\":" + json + ",\"lastUsedAt\":244855963.33333334,\"name\":" +
                           json + ",\"networkID\":" + json + "}]");
        QCOMPARE(decodeProfiles(file).profiles, profiles);
    }
};

QTEST_GUILESS_MAIN(TestNetworkProfileCodec)
#include "tst_NetworkProfileCodec.moc"
