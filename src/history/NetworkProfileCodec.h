#pragma once

#include "NetworkProfile.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace fernpoint {

// The history file format: one compact JSON array of objects with the members "networkID",
// "name", "desc" (strings) and "lastUsedAt" (number).
QByteArray encodeProfiles(const QList<NetworkProfile>& profiles);

struct DecodeResult {
    std::optional<QList<NetworkProfile>> profiles; // absent when the file is unreadable as a whole
    QString errorDescription;                      // why, when absent
};

// All four members are required with their types; any fault rejects the whole file.
DecodeResult decodeProfiles(const QByteArray& fileContent);

} // namespace fernpoint
