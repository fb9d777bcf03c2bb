// The status JSON parser on arbitrary text: never crashes, and its outcome is consistent.
#include "FuzzCheck.h"
#include "StatusJsonParser.h"

#include <cstddef>
#include <cstdint>

using namespace fernpoint;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const StatusParseOutcome outcome = parseStatusJson(text);

    using Kind = StatusParseOutcome::Kind;
    FUZZ_CHECK(outcome.snapshot.has_value() == (outcome.kind == Kind::Snapshot));
    if (outcome.kind == Kind::Unparseable) {
        FUZZ_CHECK(outcome.consoleLine.has_value());
        FUZZ_CHECK(outcome.consoleLine->startsWith(QStringLiteral("❌ status JSON parse error: ")));
    }
    if (outcome.consoleLine && outcome.kind != Kind::Unparseable)
        FUZZ_CHECK(outcome.kind == Kind::ReportedError &&
                   outcome.consoleLine->startsWith(QStringLiteral("status error: ")));
    if (outcome.snapshot) {
        const GatewayStatusDetail& s = *outcome.snapshot;
        FUZZ_CHECK(s.isConnected == (s.statusText == QStringLiteral("connected")));
        for (const EndpointStatus& endpoint : s.endpoints)
            (void)endpoint.address.size();
        if (s.lastPolicyAt)
            FUZZ_CHECK(s.lastPolicyAt->size() >= 19);
    }
    // Parsing is a pure function of its input.
    const StatusParseOutcome again = parseStatusJson(text);
    FUZZ_CHECK(again.kind == outcome.kind);
    FUZZ_CHECK(again.consoleLine == outcome.consoleLine);
    return 0;
}
