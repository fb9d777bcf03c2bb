#include "ConsoleWriter.h"

#include <QByteArray>

#include <cstdio>
#include <mutex>
#include <utility>

namespace fernpoint {
namespace {

// The installer may report from a worker thread while the controller reports from the main one.
std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

ConsoleWriter::Sink& currentSink() {
    static ConsoleWriter::Sink sink;
    return sink;
}

} // namespace

void ConsoleWriter::writeLine(const QString& line) {
    const std::lock_guard lock(sinkMutex());
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
    const std::lock_guard lock(sinkMutex());
    return std::exchange(currentSink(), std::move(sink));
}

} // namespace fernpoint
