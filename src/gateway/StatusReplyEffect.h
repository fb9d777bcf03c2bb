#pragma once

#include "GatewayStatusDetail.h"
#include "HelperResult.h"

#include <QString>

#include <optional>

namespace fernpoint {

// What one answer to a status request means for the controller's fields, worked out without the
// controller, so that every program reading the gateway's state draws the same conclusions.
struct StatusReplyEffect {
    // The error line of a failed request; when set, the request failed and lastStatusJSON stays.
    std::optional<QString> errorLine;
    // The new lastStatusJSON of an answered request: the text, or empty text when none came.
    QString lastStatusJSON;
    // A diagnostic line about the JSON text ("❌ status JSON parse error: ...", "status error:
    // ..."), for standard output in the window's process.
    std::optional<QString> consoleLine;
    std::optional<GatewayStatusDetail> snapshot;
    // The connection is established ("conn_state"; the raw flag when no JSON text came).
    bool isRunning = false;
    // The core runs or is starting ("state"; the raw flag when no JSON text came). The window
    // refuses NAT changes while this holds.
    bool uiRunning = false;
    // The NAT setting the gateway reports; only a snapshot reports one.
    std::optional<bool> natEnabled;
};

// The core runs or is starting, by the snapshot's "state": what uiRunning follows.
bool coreRuns(const GatewayStatusDetail& snapshot);

// Pure apart from the local time zone used for "last_policy_at".
StatusReplyEffect statusReplyEffect(const HelperResult<GatewayStatus>& result);

} // namespace fernpoint
