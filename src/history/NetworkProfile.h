#pragma once

#include <QString>

namespace fernpoint {

// One history entry. lastUsedAt is seconds since 2001-01-01 00:00:00 UTC, the unit of the
// history file, kept as a double so that a file value round-trips exactly.
struct NetworkProfile {
    QString networkID;
    QString name;
    QString desc;
    double lastUsedAt = 0.0;

    const QString& id() const { return networkID; }
    friend bool operator==(const NetworkProfile&, const NetworkProfile&) = default;
};

// Seconds between 1970-01-01 and 2001-01-01, both UTC.
inline constexpr double kSecondsFrom1970To2001 = 978307200.0;

} // namespace fernpoint
