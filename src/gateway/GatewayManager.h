#pragma once

#include "GatewayStatusDetail.h"
#include "HelperClient.h"

#include <QObject>
#include <QString>

#include <optional>

class QTimer;

namespace fernpoint {

// The observable controller behind the main window. Every assignment of an observable field
// emits its change signal, also when the value is equal, in the order the commands and the
// status reply handler make them. All fields live on the main thread.
class GatewayManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool uiRunning READ uiRunning NOTIFY uiRunningChanged)
    Q_PROPERTY(QString networkID READ networkID WRITE setNetworkID NOTIFY networkIDChanged)
    Q_PROPERTY(bool natEnabled READ natEnabled WRITE setNatEnabled NOTIFY natEnabledChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(QString lastStatusJSON READ lastStatusJSON NOTIFY lastStatusJSONChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(std::optional<fernpoint::GatewayStatusDetail> currentStatus READ currentStatus NOTIFY
                   currentStatusChanged)
    Q_PROPERTY(std::optional<QString> lastErrorMessage READ lastErrorMessage WRITE
                   setLastErrorMessage NOTIFY lastErrorMessageChanged)

public:
    static constexpr double kPollingIntervalSeconds = 5.0;

    // Starts the status polling (first query one period after construction).
    explicit GatewayManager(HelperClient& client = HelperClient::shared(),
                            QObject* parent = nullptr);
    ~GatewayManager() override;

    bool uiRunning() const { return m_uiRunning; }
    const QString& networkID() const { return m_networkID; }
    bool natEnabled() const { return m_natEnabled; }
    bool isRunning() const { return m_isRunning; }
    const QString& lastStatusJSON() const { return m_lastStatusJSON; }
    const std::optional<GatewayStatusDetail>& currentStatus() const { return m_currentStatus; }
    const std::optional<QString>& lastErrorMessage() const { return m_lastErrorMessage; }
    bool isBusy() const { return m_isBusy; }

    void setNetworkID(const QString& networkID);
    void setNatEnabled(bool enabled);
    void setLastErrorMessage(const std::optional<QString>& message);

    void startGateway();
    void stopGateway();
    void applyNatSetting();
    // Replaces any running polling timer (the child named "statusPollTimer"); the first query
    // comes one period after the call.
    void startStatusPolling(double intervalSeconds);

Q_SIGNALS:
    void uiRunningChanged(bool uiRunning);
    void networkIDChanged(const QString& networkID);
    void natEnabledChanged(bool natEnabled);
    void isRunningChanged(bool isRunning);
    void lastStatusJSONChanged(const QString& lastStatusJSON);
    void currentStatusChanged();
    void lastErrorMessageChanged();
    void isBusyChanged(bool isBusy);
    // The helper accepted a start of this network (the ID as sent, trimmed).
    void gatewayStarted(const QString& networkID);

private:
    void queryStatus();
    void applyStatusResult(const HelperResult<GatewayStatus>& result);

    void setUiRunning(bool value);
    void setIsRunning(bool value);
    void setLastStatusJSON(const QString& value);
    void setCurrentStatus(const std::optional<GatewayStatusDetail>& value);
    void setIsBusy(bool value);

    HelperClient& m_client;
    bool m_uiRunning = false;
    QString m_networkID;
    bool m_natEnabled = false;
    bool m_isRunning = false;
    QString m_lastStatusJSON;
    std::optional<GatewayStatusDetail> m_currentStatus;
    std::optional<QString> m_lastErrorMessage;
    bool m_isBusy = false;
    QTimer* m_statusTimer = nullptr;
};

} // namespace fernpoint
