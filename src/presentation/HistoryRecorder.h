#pragma once

#include <QObject>

namespace fernpoint {

class GatewayManager;
class NetworkProfileStore;

// Records the network in the history each time a status snapshot is published, with the name
// and description the gateway reports, so the history learns them without the user typing them.
// The ID is the one in the window's field, checked by the window's narrower trimming rule.
class HistoryRecorder final : public QObject {
    Q_OBJECT

public:
    // Records the snapshot already published, if any, and then every later one.
    HistoryRecorder(GatewayManager& manager, NetworkProfileStore& store, QObject* parent = nullptr);

private:
    void record();

    GatewayManager& m_manager;
    NetworkProfileStore& m_store;
};

} // namespace fernpoint
