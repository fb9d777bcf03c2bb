#pragma once

#include <QString>

namespace fernpoint {

// The one description of fernpointctl's command line. The help text and the manual page are both
// rendered from it, so that they never tell different stories.
class UsageText final {
public:
    UsageText() = delete;

    // What --help prints: plain text, lines of at most 80 columns.
    static QString help();
    // The manual page fernpointctl.1 in roff, for the given version.
    static QString manPage(const QString& version);
    // The one line that follows every usage error.
    static QString seeHelpHint();
};

} // namespace fernpoint
