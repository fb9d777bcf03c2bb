#include "TerminalOutput.h"

#include <cstdio>

namespace fernpoint {
namespace {

void writeAll(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void TerminalOutput::write(const QString& text) {
    writeAll(stdout, text.toUtf8());
}

void TerminalOutput::writeBytes(const QByteArray& bytes) {
    writeAll(stdout, bytes);
}

void TerminalOutput::error(const QString& line) {
    QString single = line;
    single.replace(QLatin1Char('\r'), QLatin1Char(' '));
    single.replace(QLatin1Char('\n'), QLatin1Char(' '));
    writeAll(stderr, single.toUtf8() + '\n');
}

} // namespace fernpoint
