#pragma once

#include <QString>

namespace fernpoint {

// The helper accepts a Network ID only when it is exactly 16 ASCII hexadecimal digits. The
// application checks only the length; the helper is the last line before the gateway core, so it
// takes nothing else (no signs, no white space, no other scripts' digits).
bool isValidNetworkId(const QString& networkId);

// The refusal the caller reads.
QString invalidNetworkIdMessage();

} // namespace fernpoint
