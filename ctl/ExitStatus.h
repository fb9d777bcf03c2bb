#pragma once

namespace fernpoint {

// What fernpointctl's exit status tells a script. The usage text lists the same numbers.
enum class ExitStatus : int {
    Success = 0,
    Refused = 1,     // the helper refused, or the request was refused before anything was sent
    Unreachable = 2, // the helper could not be reached, or its answer never came back
    Usage = 64,      // bad usage (the conventional EX_USAGE)
};

inline constexpr int exitCode(ExitStatus status) {
    return static_cast<int>(status);
}

} // namespace fernpoint
