#include "HelperClient.h"

#include "DBusHelperClient.h"

namespace fernpoint {

HelperClient& HelperClient::shared() {
    // Deliberately never destroyed: it lives until the process ends, and closing a bus
    // connection during static destruction would race QtDBus's own teardown.
    static DBusHelperClient* const instance = new DBusHelperClient(QDBusConnection::SystemBus);
    return *instance;
}

} // namespace fernpoint
