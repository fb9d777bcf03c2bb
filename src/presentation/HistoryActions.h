#pragma once

#include "NetworkProfile.h"

#include <QList>
#include <QString>

namespace fernpoint {

class GatewayManager;
class NetworkProfileStore;

// What the history popover does, without the popover: the rows it lists and the three things a
// user can do with them. It writes only the history and the Network ID of the form.
class HistoryActions final {
public:
    HistoryActions(NetworkProfileStore& store, GatewayManager& manager);

    // "name, desc", or whichever of the two is not empty, or the Network ID when both are.
    static QString rowTitle(const NetworkProfile& profile);

    // Newest first; entries used at the same time keep their stored order.
    QList<NetworkProfile> rows() const;

    // Puts the ID into the form. Neither connects nor touches the history.
    void pick(const QString& networkID);
    // Removes the first entry with exactly this ID, and empties the form if it holds that ID.
    // Returns false when the history has no such entry (it changed meanwhile): nothing changes.
    bool deleteHistory(const QString& networkID);
    // Empties the history and the form.
    void clearAll();

private:
    NetworkProfileStore& m_store;
    GatewayManager& m_manager;
};

} // namespace fernpoint
