#pragma once

#include "PanelStyle.h"

#include <QGroupBox>
#include <QList>

class QLabel;
class QVBoxLayout;

namespace fernpoint {

class ElidedValueLabel;
class GatewayManager;
class Localizer;
class StatusDot;
class StatusRow;
class StatusPanelModel;

// The titled box that shows the latest status snapshot: nine labelled rows, then the endpoints
// with their reachability and the remote management addresses, or a single line while there is
// no snapshot. Snapshots arrive every few seconds, so the widgets are kept and only their texts
// change; lines are added or removed only when a list changes length. The parts carry object
// names: "emptyText", "snapshot" (the rows and both lists), "endpoints" and
// "remoteManagement" (each a heading, named "…Heading", and its lines).
class StatusGroupBox final : public QGroupBox {
    Q_OBJECT

public:
    StatusGroupBox(GatewayManager& manager, Localizer& localizer, QWidget* parent = nullptr);
    ~StatusGroupBox() override;

private:
    struct EndpointLine {
        QWidget* line = nullptr;
        StatusDot* dot = nullptr;
        ElidedValueLabel* address = nullptr;
    };

    void refresh();
    void showSnapshot(const StatusPanelModel& model);
    void showEndpoints(const StatusPanelModel& model);
    void showRemoteManagement(const StatusPanelModel& model);
    EndpointLine makeEndpointLine();
    ElidedValueLabel* makeRemoteManagementLine();
    QWidget* makeSection(const QString& name, QLabel*& heading, QVBoxLayout*& lines);

    GatewayManager& m_manager;
    Localizer& m_localizer;
    QLabel* m_empty = nullptr;
    QWidget* m_content = nullptr;
    QList<StatusRow*> m_rows;
    QWidget* m_endpointSection = nullptr;
    QLabel* m_endpointHeading = nullptr;
    QVBoxLayout* m_endpointLayout = nullptr;
    QList<EndpointLine> m_endpointLines;
    QWidget* m_remoteSection = nullptr;
    QLabel* m_remoteHeading = nullptr;
    QVBoxLayout* m_remoteLayout = nullptr;
    QList<ElidedValueLabel*> m_remoteLines;
};

} // namespace fernpoint
