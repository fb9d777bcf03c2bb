#include "StatusReplyEffect.h"

#include "StatusJsonParser.h"

namespace fernpoint {

bool coreRuns(const GatewayStatusDetail& snapshot) {
    return snapshot.coreState && (*snapshot.coreState == QLatin1StringView("running") ||
                                  *snapshot.coreState == QLatin1StringView("starting"));
}

StatusReplyEffect statusReplyEffect(const HelperResult<GatewayStatus>& result) {
    StatusReplyEffect effect;
    if (!result.isSuccess()) {
        effect.errorLine = result.error().errorLine();
        return effect;
    }

    // The reply's own "ok" flag is not consulted: the JSON text decides.
    const GatewayStatus& status = result.value();
    effect.lastStatusJSON = status.statusJSON.value_or(QString());
    if (!status.statusJSON) {
        effect.isRunning = status.isRunning;
        effect.uiRunning = status.isRunning;
        return effect;
    }

    StatusParseOutcome parsed = parseStatusJson(*status.statusJSON);
    effect.consoleLine = std::move(parsed.consoleLine);
    if (parsed.kind != StatusParseOutcome::Kind::Snapshot || !parsed.snapshot)
        return effect;

    const GatewayStatusDetail& snapshot = *parsed.snapshot;
    effect.isRunning = snapshot.isConnected;
    effect.uiRunning = coreRuns(snapshot);
    effect.natEnabled = snapshot.natEnabled;
    effect.snapshot = std::move(parsed.snapshot);
    return effect;
}

} // namespace fernpoint
