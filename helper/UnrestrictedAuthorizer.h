#pragma once

#include "Authorizer.h"

namespace fernpoint {

// Allows everyone. Only selected by --no-authorization, for private test buses without polkit.
class UnrestrictedAuthorizer final : public Authorizer {
public:
    void check(const Request& request, const Decision& decision) override;
    void cancel(const QString& /*checkId*/) override {}
};

} // namespace fernpoint
