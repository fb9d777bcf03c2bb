#pragma once

#include <QString>

#include <functional>

namespace fernpoint {

// Decides whether the sender of a call may perform an action. The answer may come later (an
// authentication dialog can be involved), so it arrives through a callback on the event loop.
class Authorizer {
public:
    // allowed, and when not: why, in words the caller reads after "not authorized: ".
    using Decision = std::function<void(bool allowed, const QString& reason)>;

    virtual ~Authorizer() = default;
    virtual void check(const QString& callerBusName, const QString& actionId,
                       const Decision& decision) = 0;
};

} // namespace fernpoint
