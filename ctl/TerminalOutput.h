#pragma once

#include <QByteArray>
#include <QString>

namespace fernpoint {

// Standard output and standard error of fernpointctl, in UTF-8. Every call writes whole and
// flushes, so that a pipe sees each line at once and the two streams never split a line.
class TerminalOutput final {
public:
    TerminalOutput() = delete;

    static void write(const QString& text);
    // Bytes passed through untouched.
    static void writeBytes(const QByteArray& bytes);
    // One line on standard error; line breaks inside become spaces so that it stays one line.
    static void error(const QString& line);
};

} // namespace fernpoint
