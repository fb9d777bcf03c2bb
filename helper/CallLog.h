#pragma once

#include <QString>

namespace fernpoint {

// One line per call that changes something (or tries to) on standard error, where journald keeps
// it when the helper runs as a service: which method, which caller, what came of it.
void logCall(const QString& method, const QString& caller, const QString& outcome);

// The same for calls that only read (Ping, GatewayStatus), which anyone may send as often as they
// like: at debug level only (QT_LOGGING_RULES="fernpoint.helper.reads.debug=true"), so that they
// cannot drown the lines above.
void logReadCall(const QString& method, const QString& caller, const QString& outcome);

// Any other line of the helper on standard error.
void logLine(const QString& text);

} // namespace fernpoint
