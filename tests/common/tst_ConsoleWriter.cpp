#include "ConsoleWriter.h"

#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

using namespace fernpoint;

// Standard output redirected into a pipe until restore().
class CapturedStdout {
public:
    CapturedStdout() {
        std::fflush(stdout);
        if (::pipe(m_pipe) == 0 && ::fcntl(m_pipe[0], F_SETFL, O_NONBLOCK) == 0) {
            m_saved = ::dup(STDOUT_FILENO);
            ::dup2(m_pipe[1], STDOUT_FILENO);
        }
    }
    ~CapturedStdout() { restore(); }
    // What has reached the file descriptor so far, without flushing anything ourselves.
    QByteArray pending() const {
        QByteArray bytes;
        char buffer[512];
        for (ssize_t n; (n = ::read(m_pipe[0], buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, n);
        return bytes;
    }
    void restore() {
        if (m_saved >= 0) {
            std::fflush(stdout);
            ::dup2(m_saved, STDOUT_FILENO);
            for (int fd : {m_saved, m_pipe[0], m_pipe[1]})
                ::close(fd);
            m_saved = -1;
        }
    }

private:
    int m_pipe[2] = {-1, -1};
    int m_saved = -1;
};

class TestConsoleWriter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesWholeFlushedUtf8LinesOrToTheSink();
};

void TestConsoleWriter::writesWholeFlushedUtf8LinesOrToTheSink() {
    QStringList lines;
    CapturedStdout captured;
    ConsoleWriter::writeLine(QStringLiteral("❌ status JSON parse error: illegal value"));
    // Read before anyone flushes again: the line must already be out.
    const QByteArray first = captured.pending();
    const ConsoleWriter::Sink previous =
        ConsoleWriter::setSink([&lines](const QString& line) { lines.append(line); });
    ConsoleWriter::writeLine(QStringLiteral("Helper installed"));
    ConsoleWriter::setSink(previous);
    ConsoleWriter::writeLine(QStringLiteral("back on stdout"));
    const QByteArray second = captured.pending();
    captured.restore(); // before any failure is reported on stdout

    QCOMPARE(first, QStringLiteral("❌ status JSON parse error: illegal value\n").toUtf8());
    QCOMPARE(lines, QStringList{QStringLiteral("Helper installed")});
    QCOMPARE(second, QByteArray("back on stdout\n"));
}

QTEST_GUILESS_MAIN(TestConsoleWriter)
#include "tst_ConsoleWriter.moc"
