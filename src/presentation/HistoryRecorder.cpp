#include "HistoryRecorder.h"

#include "GatewayManager.h"
#include "NetworkIdText.h"
#include "NetworkProfileStore.h"

namespace fernpoint {

HistoryRecorder::HistoryRecorder(GatewayManager& manager, NetworkProfileStore& store,
                                 QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_store(store) {
    connect(&m_manager, &GatewayManager::currentStatusChanged, this, &HistoryRecorder::record);
    record();
}

void HistoryRecorder::record() {
    const std::optional<GatewayStatusDetail>& status = m_manager.currentStatus();
    if (!status)
        return;
    // The window's rule, so that what is recorded is what the connect button accepts.
    const QString id = trimmedSpacesAndTabs(m_manager.networkID());
    if (!hasNetworkIdLength(id))
        return;
    m_store.upsertProfile(id, status->networkName, status->networkDesc);
}

} // namespace fernpoint
