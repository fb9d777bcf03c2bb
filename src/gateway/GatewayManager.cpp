#include "GatewayManager.h"

#include "ConsoleWriter.h"
#include "NetworkIdText.h"
#include "StatusReplyEffect.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace fernpoint {
namespace {

// Runs `work` on the main thread as one unit of work, later, never inside the caller: the helper
// client may complete on any thread, or synchronously inside the call that sent the message.
// The work itself checks that the controller still exists (its QPointer), so the context here is
// the application object, which outlives every controller.
void postToMainThread(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    Q_ASSERT(application);
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

int timerMilliseconds(double intervalSeconds) {
    // A non-positive, NaN or enormous period must not busy-loop or overflow the conversion.
    if (!(intervalSeconds > 0.0))
        return 1;
    const double milliseconds = std::round(intervalSeconds * 1000.0);
    return static_cast<int>(std::clamp(milliseconds, 1.0, static_cast<double>(INT_MAX)));
}

} // namespace

GatewayManager::GatewayManager(HelperClient& client, QObject* parent)
    : QObject(parent)
    , m_client(client) {
    startStatusPolling(kPollingIntervalSeconds);
}

// The status timer is a child and goes with the controller; pending answers hold QPointers.
GatewayManager::~GatewayManager() = default;

void GatewayManager::setNetworkID(const QString& networkID) {
    m_networkID = networkID;
    Q_EMIT networkIDChanged(m_networkID);
}

void GatewayManager::setNatEnabled(bool enabled) {
    m_natEnabled = enabled;
    Q_EMIT natEnabledChanged(m_natEnabled);
}

void GatewayManager::setLastErrorMessage(const std::optional<QString>& message) {
    m_lastErrorMessage = message;
    Q_EMIT lastErrorMessageChanged();
}

void GatewayManager::setUiRunning(bool value) {
    m_uiRunning = value;
    Q_EMIT uiRunningChanged(m_uiRunning);
}

void GatewayManager::setIsRunning(bool value) {
    m_isRunning = value;
    Q_EMIT isRunningChanged(m_isRunning);
}

void GatewayManager::setLastStatusJSON(const QString& value) {
    m_lastStatusJSON = value;
    Q_EMIT lastStatusJSONChanged(m_lastStatusJSON);
}

void GatewayManager::setCurrentStatus(const std::optional<GatewayStatusDetail>& value) {
    m_currentStatus = value;
    Q_EMIT currentStatusChanged();
}

void GatewayManager::setIsBusy(bool value) {
    m_isBusy = value;
    Q_EMIT isBusyChanged(m_isBusy);
}

void GatewayManager::startGateway() {
    const QString networkID = trimmedWhitespaceAndNewlines(m_networkID);
    if (!hasNetworkIdLength(networkID)) {
        setLastErrorMessage(kNetworkIdLengthMessage.toString());
        return;
    }
    setIsBusy(true);
    setLastErrorMessage(std::nullopt);

    QPointer<GatewayManager> self(this);
    m_client.startGateway(networkID, m_natEnabled, [self, networkID](HelperResult<Nothing> result) {
        postToMainThread([self, networkID, result = std::move(result)] {
            if (!self)
                return;
            self->setIsBusy(false);
            if (result.isSuccess()) {
                Q_EMIT self->gatewayStarted(networkID);
                self->queryStatus();
                return;
            }
            self->setIsRunning(false);
            self->setUiRunning(false);
            self->setCurrentStatus(std::nullopt);
            self->setLastErrorMessage(result.error().errorLine());
        });
    });
}

void GatewayManager::stopGateway() {
    setIsBusy(true);
    setLastErrorMessage(std::nullopt);

    QPointer<GatewayManager> self(this);
    m_client.stopGateway([self](HelperResult<Nothing> result) {
        postToMainThread([self, result = std::move(result)] {
            if (!self)
                return;
            self->setIsBusy(false);
            if (!result.isSuccess()) {
                self->setLastErrorMessage(result.error().errorLine());
                return;
            }
            self->setIsRunning(false);
            self->setUiRunning(false);
            self->queryStatus();
        });
    });
}

void GatewayManager::applyNatSetting() {
    QPointer<GatewayManager> self(this);
    m_client.setNat(m_natEnabled, [self](HelperResult<Nothing> result) {
        postToMainThread([self, result = std::move(result)] {
            if (!self)
                return;
            if (!result.isSuccess()) {
                self->setLastErrorMessage(result.error().errorLine());
                return;
            }
            self->queryStatus();
        });
    });
}

void GatewayManager::startStatusPolling(double intervalSeconds) {
    // The old timer is stopped at once and never fires again; it is deleted later because this
    // may run inside one of its own signals.
    if (m_statusTimer) {
        m_statusTimer->stop();
        m_statusTimer->disconnect(this);
        m_statusTimer->setParent(nullptr);
        m_statusTimer->deleteLater();
    }
    // A child timer cannot outlive the controller, so its connection to `this` is a weak hold.
    // A precise timer never fires before the full period has passed.
    m_statusTimer = new QTimer(this);
    m_statusTimer->setObjectName(QStringLiteral("statusPollTimer"));
    m_statusTimer->setTimerType(Qt::PreciseTimer);
    m_statusTimer->setInterval(timerMilliseconds(intervalSeconds));
    connect(m_statusTimer, &QTimer::timeout, this, &GatewayManager::queryStatus);
    m_statusTimer->start();
}

void GatewayManager::queryStatus() {
    QPointer<GatewayManager> self(this);
    m_client.gatewayStatus([self](HelperResult<GatewayStatus> result) {
        postToMainThread([self, result = std::move(result)] {
            if (self)
                self->applyStatusResult(result);
        });
    });
}

void GatewayManager::applyStatusResult(const HelperResult<GatewayStatus>& result) {
    StatusReplyEffect effect = statusReplyEffect(result);
    // The fields are set in this order for every outcome; a failed request keeps the last text.
    if (effect.errorLine)
        setLastErrorMessage(*effect.errorLine);
    else
        setLastStatusJSON(effect.lastStatusJSON);
    if (effect.consoleLine)
        ConsoleWriter::writeLine(*effect.consoleLine);
    setCurrentStatus(std::move(effect.snapshot));
    setIsRunning(effect.isRunning);
    setUiRunning(effect.uiRunning);
    if (effect.natEnabled)
        setNatEnabled(*effect.natEnabled);
}

} // namespace fernpoint
