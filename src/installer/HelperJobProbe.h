#pragma once

namespace fernpoint {

// Tells whether the helper is installed as a system service.
class HelperJobProbe {
public:
    virtual ~HelperJobProbe() = default;
    // True when the helper's bus name is activatable on the system bus or has an owner.
    virtual bool isHelperJobPresent() = 0;
    // True when the helper on the bus is the one the system's package installed, at the version
    // this application requires: the package manager keeps it current.
    virtual bool isPackagedHelperCurrent() { return false; }
};

} // namespace fernpoint
