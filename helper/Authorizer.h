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

    struct Request {
        QString callerBusName;
        QString actionId;
        // The caller let a person be asked (its call carried ALLOW_INTERACTIVE_AUTHORIZATION).
        bool interactive = false;
        // Names this check in cancel(); unique among the checks in flight.
        QString checkId;
    };

    virtual ~Authorizer() = default;
    virtual void check(const Request& request, const Decision& decision) = 0;
    // Asks the authority to drop a check in flight; its decision may still come.
    virtual void cancel(const QString& checkId) = 0;
};

} // namespace fernpoint
