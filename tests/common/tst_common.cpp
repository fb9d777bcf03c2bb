#include "ConsoleWriter.h"
#include "NetworkIdText.h"

#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace fernpoint;

class TestCommon : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The Network ID field and fernpointctl trim white space and every line break; a Network ID
    // has 16 user-perceived characters, however many UTF-16 units they take.
    void networkIdText_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("trimmed");
        QTest::addColumn<QString>("narrowTrimmed"); // spaces and tabs only
        QTest::addColumn<bool>("hasLength");
        const QString accented = u"e\u0301"_s.repeated(16);
        QTest::newRow("blanks, next line, separators")
            << u" \t\u3000\u00A0\u2028\u0085"_s + accented + u"\n\u2029"_s << accented
            << u"\u2028\u0085"_s + accented + u"\n\u2029"_s << true;
        QTest::newRow("15 accented letters and a lone accent")
            << accented.left(30) + u"\u0301"_s << accented.left(30) + u'\u0301'
            << accented.left(30) + u'\u0301' << false;
    }

    void networkIdText() {
        QFETCH(QString, typed);
        QFETCH(QString, trimmed);
        QFETCH(QString, narrowTrimmed);
        QFETCH(bool, hasLength);
        QCOMPARE(trimmedWhitespaceAndNewlines(typed), trimmed);
        QCOMPARE(trimmedSpacesAndTabs(typed), narrowTrimmed);
        QCOMPARE(hasNetworkIdLength(trimmed), hasLength);
    }

    // A console line is out at once, whole and in UTF-8, without anyone flushing stdout.
    void consoleLineIsOutAtOnce() {
        int pipe[2];
        QVERIFY(::pipe(pipe) == 0 && ::fcntl(pipe[0], F_SETFL, O_NONBLOCK) == 0);
        std::fflush(stdout); // the test's own lines stay out of the pipe
        const int saved = ::dup(STDOUT_FILENO);
        ::dup2(pipe[1], STDOUT_FILENO);
        ConsoleWriter::writeLine(u"❌ status JSON parse error"_s);
        char buffer[64] = {};
        const ssize_t size = ::read(pipe[0], buffer, sizeof buffer);
        ::dup2(saved, STDOUT_FILENO);
        for (const int fd : {saved, pipe[0], pipe[1]})
            ::close(fd);
        QCOMPARE(QByteArray(buffer, std::max<ssize_t>(size, 0)),
                 u"❌ status JSON parse error\n"_s.toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
