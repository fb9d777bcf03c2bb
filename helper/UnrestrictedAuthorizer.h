#pragma once

#include "Authorizer.h"

namespace fernpoint {

// Allows everyone. Only selected by --no-authorization, for private test buses without polkit.
class UnrestrictedAuthorizer final : public Authorizer {
public:
    void check(const QString& callerBusName, const QString& actionId,
               const Decision& decision) override;
};

} // namespace fernpoint
