#include "NetworkIdText.h"

#include <QTest>

using namespace fernpoint;

class TestNetworkIdText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void trimming_data();
    void trimming();
    void graphemes_data();
    void graphemes();
    void networkIdLength_data();
    void networkIdLength();
};

void TestNetworkIdText::trimming_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("wideTrim");   // white space and line breaks
    QTest::addColumn<QString>("narrowTrim"); // spaces and tabs only

    QTest::newRow("blanks and a trailing line break")
        << QStringLiteral("  0123456789abcdef\n") << QStringLiteral("0123456789abcdef")
        << QStringLiteral("0123456789abcdef\n");
    QTest::newRow("line break before a space")
        << QStringLiteral("\n ab \n") << QStringLiteral("ab") << QStringLiteral("\n ab \n");
    QTest::newRow("ideographic and no-break spaces")
        << QStringLiteral("\u3000ab\u00A0") << QStringLiteral("ab") << QStringLiteral("ab");
    QTest::newRow("line and paragraph separators, next line")
        << QStringLiteral("\u2028\u0085ab\u2029") << QStringLiteral("ab")
        << QStringLiteral("\u2028\u0085ab\u2029");
    QTest::newRow("zero-width space is not white space")
        << QStringLiteral("\u200Bab\u200B") << QStringLiteral("\u200Bab\u200B")
        << QStringLiteral("\u200Bab\u200B");
    QTest::newRow("only white space")
        << QStringLiteral(" \t\n ") << QString() << QStringLiteral("\n");
    QTest::newRow("emoji at both ends kept whole")
        << QStringLiteral(" \U0001F600x\U0001F600 ") << QStringLiteral("\U0001F600x\U0001F600")
        << QStringLiteral("\U0001F600x\U0001F600");
}

void TestNetworkIdText::trimming() {
    QFETCH(QString, input);
    QFETCH(QString, wideTrim);
    QFETCH(QString, narrowTrim);
    QCOMPARE(trimmedWhitespaceAndNewlines(input), wideTrim);
    QCOMPARE(trimmedSpacesAndTabs(input), narrowTrim);
}

void TestNetworkIdText::graphemes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");

    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("combining acute accent") << QStringLiteral("e\u0301") << 1;
    QTest::newRow("family emoji joined by ZWJ")
        << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467") << 1;
    QTest::newRow("two flags") << QStringLiteral("\U0001F1E8\U0001F1F3\U0001F1EF\U0001F1F5") << 2;
    QTest::newRow("decomposed hangul syllable") << QStringLiteral("\u1112\u1161\u11AB") << 1;
}

void TestNetworkIdText::graphemes() {
    QFETCH(QString, text);
    QFETCH(int, count);
    QCOMPARE(graphemeCount(text), count);
}

void TestNetworkIdText::networkIdLength_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("16 hex digits") << QStringLiteral("0123456789abcdef") << true;
    QTest::newRow("15") << QStringLiteral("0123456789abcde") << false;
    const QString accented = QStringLiteral("e\u0301").repeated(16);
    QTest::newRow("16 accented letters, 32 code units") << accented << true;
    QTest::newRow("15 accented letters and a lone accent")
        << accented.left(30) + QStringLiteral("\u0301") << false;
    QTest::newRow("8 flags, 32 code units")
        << QStringLiteral("\U0001F1E8\U0001F1F3").repeated(8) << false;
    QTest::newRow("blanks are characters too") << QStringLiteral(" 0123456789abcde") << true;
}

void TestNetworkIdText::networkIdLength() {
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QCOMPARE(hasNetworkIdLength(text), accepted);
}

QTEST_GUILESS_MAIN(TestNetworkIdText)
#include "tst_NetworkIdText.moc"
