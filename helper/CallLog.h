#pragma once

#include <QString>

namespace fernpoint {

// One line per call on standard error (journald keeps it when the helper runs as a service):
// which method, which caller, what came of it.
void logCall(const QString& method, const QString& caller, const QString& outcome);

// Any other line of the helper on standard error.
void logLine(const QString& text);

} // namespace fernpoint
