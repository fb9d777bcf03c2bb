#include "UnrestrictedAuthorizer.h"

namespace fernpoint {

void UnrestrictedAuthorizer::check(const Request& /*request*/, const Decision& decision) {
    decision(true, QString());
}

} // namespace fernpoint
