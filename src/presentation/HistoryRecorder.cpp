#include "HistoryRecorder.h"

#include "GatewayManager.h"
#include "NetworkIdText.h"
#include "NetworkProfileStore.h"
#include "StatusReplyEffect.h"

namespace fernpoint {

HistoryRecorder::HistoryRecorder(GatewayManager& manager, NetworkProfileStore& store,
                                 QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_store(store) {
    connect(&m_manager, &GatewayManager::gatewayStarted, this,
            [this](const QString& networkID) { m_started = networkID; });
    connect(&m_manager, &GatewayManager::networkIDChanged, this, &HistoryRecorder::fieldChanged);
    // A snapshot published before this exists cannot be recorded: no network is known to run.
    connect(&m_manager, &GatewayManager::currentStatusChanged, this, &HistoryRecorder::record);
}

void HistoryRecorder::noteFilledIn(const QString& networkID) {
    m_filledIn = networkID;
}

void HistoryRecorder::fieldChanged(const QString& networkID) {
    // Once edited, the field no longer stands for whatever was running when the window appeared.
    if (m_filledIn && networkID != *m_filledIn)
        m_filledIn.reset();
}

void HistoryRecorder::record() {
    const std::optional<GatewayStatusDetail>& status = m_manager.currentStatus();
    // The snapshot itself says whether the core runs: uiRunning is assigned after it.
    if (!status || !coreRuns(*status))
        return;
    const std::optional<QString>& running = m_started ? m_started : m_filledIn;
    // The window's rule, so that what is recorded is what the connect button accepts.
    const QString id = trimmedSpacesAndTabs(m_manager.networkID());
    if (!running || !hasNetworkIdLength(id) || id != trimmedSpacesAndTabs(*running))
        return;
    m_store.upsertProfile(id, status->networkName, status->networkDesc);
}

} // namespace fernpoint
