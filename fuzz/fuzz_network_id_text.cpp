// Properties of the Network ID text rules on arbitrary UTF-8 text.
#include "FuzzCheck.h"
#include "NetworkIdText.h"

#include <cstddef>
#include <cstdint>

using namespace fernpoint;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QString wide = trimmedWhitespaceAndNewlines(text);
    const QString narrow = trimmedSpacesAndTabs(text);

    // Trimming only removes from the ends, and doing it twice changes nothing.
    FUZZ_CHECK(text.contains(wide));
    FUZZ_CHECK(text.contains(narrow));
    FUZZ_CHECK(trimmedWhitespaceAndNewlines(wide) == wide);
    FUZZ_CHECK(trimmedSpacesAndTabs(narrow) == narrow);
    // The window's rule removes a subset of what the controller's removes.
    FUZZ_CHECK(narrow.contains(wide));
    FUZZ_CHECK(trimmedWhitespaceAndNewlines(narrow) == wide);

    // A grapheme takes at least one UTF-16 unit; non-empty text has at least one.
    const int graphemes = graphemeCount(text);
    FUZZ_CHECK(graphemes <= text.size());
    FUZZ_CHECK((graphemes == 0) == text.isEmpty());
    FUZZ_CHECK(hasNetworkIdLength(text) == (graphemes == kNetworkIdLength));
    return 0;
}
