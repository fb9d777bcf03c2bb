#include "ConsoleWriter.h"
#include "NetworkIdText.h"

#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

using namespace fernpoint;

class TestCommon : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void trimming_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("wideTrim");   // white space and line breaks
        QTest::addColumn<QString>("narrowTrim"); // spaces and tabs only
        const QString ab = QStringLiteral("ab");
        QTest::newRow("blanks and a trailing line break")
            << QStringLiteral(" \tab\n") << ab << QStringLiteral("ab\n");
        QTest::newRow("ideographic and no-break spaces")
            << QStringLiteral("\u3000ab\u00A0") << ab << ab;
        QTest::newRow("line and paragraph separators, next line")
            << QStringLiteral("\u2028\u0085ab\u2029") << ab
            << QStringLiteral("\u2028\u0085ab\u2029");
        QTest::newRow("only white space")
            << QStringLiteral(" \t\n ") << QString() << QStringLiteral("\n");
        QTest::newRow("emoji at both ends kept whole")
            << QStringLiteral(" \U0001F600x\U0001F600 ") << QStringLiteral("\U0001F600x\U0001F600")
            << QStringLiteral("\U0001F600x\U0001F600");
    }

    void trimming() {
        QFETCH(QString, input);
        QFETCH(QString, wideTrim);
        QFETCH(QString, narrowTrim);
        QCOMPARE(trimmedWhitespaceAndNewlines(input), wideTrim);
        QCOMPARE(trimmedSpacesAndTabs(input), narrowTrim);
    }

    // A Network ID has 16 user-perceived characters, however many UTF-16 units they take.
    void networkIdLength_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("graphemes");
        const QString accented = QStringLiteral("e\u0301").repeated(16);
        QTest::newRow("16 hex digits") << QStringLiteral("0123456789abcdef") << 16;
        QTest::newRow("16 accented letters, 32 units") << accented << 16;
        QTest::newRow("15 accented letters and a lone accent")
            << accented.left(30) + QStringLiteral("\u0301") << 15;
        QTest::newRow("8 flags, 32 units")
            << QStringLiteral("\U0001F1E8\U0001F1F3").repeated(8) << 8;
    }

    void networkIdLength() {
        QFETCH(QString, text);
        QFETCH(int, graphemes);
        QCOMPARE(graphemeCount(text), graphemes);
        QCOMPARE(hasNetworkIdLength(text), graphemes == 16);
    }

    // Each line is out at once, whole and in UTF-8, or goes to the sink while one is set.
    void consoleLines() {
        int pipe[2];
        QVERIFY(::pipe(pipe) == 0 && ::fcntl(pipe[0], F_SETFL, O_NONBLOCK) == 0);
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        ::dup2(pipe[1], STDOUT_FILENO);
        const auto pending = [&] { // without flushing anything ourselves
            char buffer[256];
            const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
            return n > 0 ? QByteArray(buffer, n) : QByteArray();
        };
        QStringList sunk;
        ConsoleWriter::writeLine(QStringLiteral("❌ status JSON parse error"));
        const QByteArray first = pending();
        const ConsoleWriter::Sink previous =
            ConsoleWriter::setSink([&](const QString& line) { sunk << line; });
        ConsoleWriter::writeLine(QStringLiteral("Helper installed"));
        ConsoleWriter::setSink(previous);
        ConsoleWriter::writeLine(QStringLiteral("back"));
        const QByteArray second = pending();
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        for (const int fd : {saved, pipe[0], pipe[1]})
            ::close(fd);
        QCOMPARE(first, QStringLiteral("❌ status JSON parse error\n").toUtf8());
        QCOMPARE(sunk, QStringList{QStringLiteral("Helper installed")});
        QCOMPARE(second, QByteArray("back\n"));
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
