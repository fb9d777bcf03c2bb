#pragma once

#include "GatewayStatusDetail.h"

#include <QString>

#include <optional>

namespace fernpoint {

// What a status JSON text says, before it is applied to the controller.
struct StatusParseOutcome {
    enum class Kind {
        Snapshot,      // a usable "data" object: `snapshot` holds the new snapshot
        Unparseable,   // not JSON at all (or a bare scalar / empty text)
        NotAnObject,   // valid JSON whose top level is an array
        ReportedError, // top-level "ok" is the boolean false
        NoData,        // an object without a "data" object
    };
    Kind kind = Kind::Unparseable;
    std::optional<GatewayStatusDetail> snapshot;
    // The console line to write on standard output, if any ("❌ status JSON parse error: ..." or
    // "status error: ...").
    std::optional<QString> consoleLine;
};

// Turns the helper's status JSON text into a snapshot. Pure: no I/O, no clock other than the
// local time zone used to format "last_policy_at".
StatusParseOutcome parseStatusJson(const QString& statusJSON);

// Formats whole seconds since 1970-01-01 UTC as "yyyy-MM-dd HH:mm:ss" in local time.
QString formatPolicyTime(std::int64_t secondsSinceEpoch);

} // namespace fernpoint
