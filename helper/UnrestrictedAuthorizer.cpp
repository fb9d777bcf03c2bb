#include "UnrestrictedAuthorizer.h"

namespace fernpoint {

void UnrestrictedAuthorizer::check(const QString& /*callerBusName*/, const QString& /*actionId*/,
                                   const Decision& decision) {
    decision(true, QString());
}

} // namespace fernpoint
