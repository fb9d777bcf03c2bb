#include "CallLog.h"

#include <QLoggingCategory>

#include <cstdio>

namespace fernpoint {
namespace {

Q_LOGGING_CATEGORY(lcReadCalls, "fernpoint.helper.reads", QtInfoMsg)

QString callLine(const QString& method, const QString& caller, const QString& outcome) {
    return QStringLiteral("%1 from %2: %3")
        .arg(method, caller.isEmpty() ? QStringLiteral("?") : caller, outcome);
}

} // namespace

void logLine(const QString& text) {
    // Keep every entry on one line, whatever a message contains.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QByteArray bytes = QStringLiteral("fernpoint-helper: %1\n").arg(line).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void logCall(const QString& method, const QString& caller, const QString& outcome) {
    logLine(callLine(method, caller, outcome));
}

void logReadCall(const QString& method, const QString& caller, const QString& outcome) {
    if (lcReadCalls().isDebugEnabled())
        logLine(callLine(method, caller, outcome));
}

} // namespace fernpoint
