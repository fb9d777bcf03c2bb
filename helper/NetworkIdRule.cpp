#include "NetworkIdRule.h"

namespace fernpoint {

bool isValidNetworkId(const QString& networkId) {
    if (networkId.size() != 16)
        return false;
    for (const QChar c : networkId) {
        const char16_t u = c.unicode();
        const bool hex =
            (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        if (!hex)
            return false;
    }
    return true;
}

QString invalidNetworkIdMessage() {
    return QStringLiteral(
        "invalid Network ID: it must be exactly 16 hexadecimal digits (0-9, a-f)");
}

} // namespace fernpoint
