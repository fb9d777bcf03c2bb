#pragma once

#include "HelperResult.h"

namespace fernpoint {

// The gateway to the privileged helper. Every operation completes exactly once, on the thread
// that runs the Qt event loop of the caller, with a value or a HelperClientError; none of them
// retries, queues or times out on its own (the bus has its own reply timeout).
class HelperClient {
public:
    HelperClient() = default;
    HelperClient(const HelperClient&) = delete;
    HelperClient& operator=(const HelperClient&) = delete;
    virtual ~HelperClient() = default;

    // The process-wide client on the system bus (or the bus DBUS_SYSTEM_BUS_ADDRESS names).
    static HelperClient& shared();

    virtual void ping(HelperCompletion<QString> completion) = 0;
    virtual void startGateway(const QString& networkID, bool natEnabled,
                              HelperCompletion<Nothing> completion) = 0;
    virtual void stopGateway(HelperCompletion<Nothing> completion) = 0;
    virtual void setNat(bool enabled, HelperCompletion<Nothing> completion) = 0;
    virtual void gatewayStatus(HelperCompletion<GatewayStatus> completion) = 0;
    virtual void uninstall(HelperCompletion<Nothing> completion) = 0;
};

} // namespace fernpoint
