// The history file decoder on arbitrary bytes: never crashes, and whatever it accepts is written
// back by the encoder as strict JSON that decodes to the same entries.
#include "FuzzCheck.h"
#include "NetworkProfileCodec.h"

#include <cstddef>
#include <cstdint>

using namespace fernpoint;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const DecodeResult decoded = decodeProfiles(bytes);
    if (!decoded.profiles) {
        FUZZ_CHECK(!decoded.errorDescription.isEmpty());
        return 0;
    }
    const QByteArray encoded = encodeProfiles(*decoded.profiles);
    // Checked apart from the decoder too, which lets raw control characters through: the compact
    // form has no whitespace, and JSON allows no raw control character inside a string.
    for (const char c : encoded)
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
    const DecodeResult again = decodeProfiles(encoded);
    FUZZ_CHECK(again.profiles.has_value());
    FUZZ_CHECK(*again.profiles == *decoded.profiles);
    // The store's own form is stable: encoding what it wrote gives the same bytes.
    FUZZ_CHECK(encodeProfiles(*again.profiles) == encoded);
    return 0;
}
