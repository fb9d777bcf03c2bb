#include "ConsoleWriter.h"

#include <QByteArray>

#include <cstdio>
#include <utility>

namespace fernpoint {
namespace {

ConsoleWriter::Sink& currentSink() {
    static ConsoleWriter::Sink sink;
    return sink;
}

} // namespace

void ConsoleWriter::writeLine(const QString& line) {
    if (const Sink& sink = currentSink()) {
        sink(line);
        return;
    }
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

ConsoleWriter::Sink ConsoleWriter::setSink(Sink sink) {
    return std::exchange(currentSink(), std::move(sink));
}

} // namespace fernpoint
