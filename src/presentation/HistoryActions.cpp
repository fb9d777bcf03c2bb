#include "HistoryActions.h"

#include "GatewayManager.h"
#include "NetworkIdText.h"
#include "NetworkProfileStore.h"

namespace fernpoint {

HistoryActions::HistoryActions(NetworkProfileStore& store, GatewayManager& manager)
    : m_store(store)
    , m_manager(manager) {}

QString HistoryActions::rowTitle(const NetworkProfile& profile) {
    if (!profile.name.isEmpty() && !profile.desc.isEmpty())
        return profile.name + QStringLiteral(", ") + profile.desc;
    if (!profile.name.isEmpty())
        return profile.name;
    if (!profile.desc.isEmpty())
        return profile.desc;
    return profile.networkID;
}

QList<NetworkProfile> HistoryActions::rows() const {
    return m_store.sortedByMostRecent();
}

void HistoryActions::pick(const QString& networkID) {
    m_manager.setNetworkID(networkID);
}

bool HistoryActions::deleteHistory(const QString& networkID) {
    const QList<NetworkProfile>& profiles = m_store.profiles();
    qsizetype index = -1;
    for (qsizetype i = 0; i < profiles.size(); ++i) {
        if (profiles.at(i).networkID == networkID) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return false;
    // The field may hold the ID with blanks around it, as typed; it still names this network.
    if (trimmedSpacesAndTabs(m_manager.networkID()) == networkID)
        m_manager.setNetworkID(QString());
    m_store.removeAt(index);
    return true;
}

void HistoryActions::clearAll() {
    m_store.setProfiles({});
    // Whatever the field held, it came from or was bound for the history the user just emptied.
    m_manager.setNetworkID(QString());
}

} // namespace fernpoint
