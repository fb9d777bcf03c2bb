#pragma once

#include <QString>

#include <functional>

namespace fernpoint {

// Diagnostic lines meant for standard output ("❌ status JSON parse error: ...",
// "Helper installed", ...). Each line is written whole, followed by a newline, and flushed, so
// that lines from different places never interleave mid-line and show up at once in a pipe.
// Every writer runs on the main thread.
class ConsoleWriter final {
public:
    using Sink = std::function<void(const QString& line)>;

    ConsoleWriter() = delete;

    static void writeLine(const QString& line);

    // Sends every following line to the sink instead of standard output (tests). An empty sink
    // restores standard output. Returns the sink that was set before.
    static Sink setSink(Sink sink);
};

} // namespace fernpoint
