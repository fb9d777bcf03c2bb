#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace fernpoint {

class GatewayManager;
class NetworkProfileStore;

// Records the running network in the history each time a status snapshot is published, with the
// name and description the gateway reports, so the history learns them without the user typing
// them. A snapshot carries no Network ID, so it is recorded only while the core runs and only
// under the ID of the network known to run: the last one this process started, or, before any
// start, the one the window filled in as it appeared, as long as the field still holds it.
// The field must name that network too (checked by the window's narrower trimming rule), so a
// network typed or picked while another runs never takes the other's name.
class HistoryRecorder final : public QObject {
    Q_OBJECT

public:
    // Records every snapshot published from now on.
    HistoryRecorder(GatewayManager& manager, NetworkProfileStore& store, QObject* parent = nullptr);

    // The window put this ID into the empty field as it appeared.
    void noteFilledIn(const QString& networkID);

private:
    void record();
    void fieldChanged(const QString& networkID);

    GatewayManager& m_manager;
    NetworkProfileStore& m_store;
    std::optional<QString> m_started;
    std::optional<QString> m_filledIn;
};

} // namespace fernpoint
