// The helper's Network ID rule against a second, independent reading of it: exactly 16
// characters, each an ASCII hexadecimal digit. Anything the rule lets through reaches the core.
#include "FuzzCheck.h"
#include "NetworkIdRule.h"

#include <QRegularExpression>

#include <cstddef>
#include <cstdint>

using namespace fernpoint;

namespace {

bool isSixteenAsciiHexDigits(const QString& text) {
    static const QRegularExpression rule(QStringLiteral("\\A[0-9A-Fa-f]{16}\\z"));
    return rule.match(text).hasMatch();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const bool accepted = isValidNetworkId(text);
    FUZZ_CHECK(accepted == isSixteenAsciiHexDigits(text));
    if (!accepted)
        FUZZ_CHECK(!invalidNetworkIdMessage().isEmpty());
    return 0;
}
