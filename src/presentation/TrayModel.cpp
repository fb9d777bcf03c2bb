#include "TrayModel.h"

#include "ContentController.h"
#include "GatewayManager.h"
#include "Localizer.h"
#include "NetworkIdText.h"
#include "NetworkProfileStore.h"
#include "TextIds.h"

#include <QMetaObject>

namespace fernpoint {

TrayModel::TrayModel(ContentController& controller, QObject* parent)
    : QObject(parent)
    , m_controller(controller) {
    GatewayManager& manager = controller.manager();
    // stateChanged covers the field, NAT, busy, uiRunning, the error line and the language.
    connect(&controller, &ContentController::stateChanged, this, &TrayModel::scheduleUpdate);
    connect(&manager, &GatewayManager::isRunningChanged, this, &TrayModel::scheduleUpdate);
    connect(&manager, &GatewayManager::currentStatusChanged, this, &TrayModel::scheduleUpdate);
    connect(&controller.store(), &NetworkProfileStore::profilesChanged, this,
            &TrayModel::scheduleUpdate);
    m_summary = currentSummary();
    m_view = viewOf(m_summary);
}

void TrayModel::triggerPrimary() {
    m_controller.pressMainButton();
}

void TrayModel::connectTo(const QString& networkID) {
    const GatewayManager& manager = m_controller.manager();
    if (manager.isBusy() || manager.uiRunning())
        return;
    m_controller.editNetworkID(networkID);
    m_controller.pressMainButton();
}

QString TrayModel::iconName(State state) {
    switch (state) {
    case State::Busy:
        return QStringLiteral("fernpoint-busy-symbolic");
    case State::Connected:
        return QStringLiteral("fernpoint-connected-symbolic");
    case State::Error:
        return QStringLiteral("fernpoint-error-symbolic");
    case State::Disconnected:
        break;
    }
    return QStringLiteral("fernpoint-disconnected-symbolic");
}

QString TrayModel::shortNetworkId(const QString& networkID) {
    if (networkID.size() <= 9)
        return networkID;
    return networkID.left(4) + QChar(0x2026) + networkID.right(4);
}

QString TrayModel::networkLabel(const QString& networkID, const QString& name) {
    if (name.isEmpty() || networkID.isEmpty())
        return name.isEmpty() ? networkID : name;
    return QStringLiteral("%1 (%2)").arg(name, shortNetworkId(networkID));
}

void TrayModel::scheduleUpdate() {
    // A command or a poll assigns several fields in a row; the tray looks once they settled.
    if (m_updatePending)
        return;
    m_updatePending = true;
    QMetaObject::invokeMethod(this, &TrayModel::update, Qt::QueuedConnection);
}

void TrayModel::update() {
    m_updatePending = false;
    const ConnectionSummary previous = m_summary;
    m_summary = currentSummary();
    if (m_summary != previous)
        Q_EMIT summaryChanged(previous, m_summary);
    View view = viewOf(m_summary);
    if (view == m_view)
        return;
    m_view = std::move(view);
    Q_EMIT viewChanged();
}

ConnectionSummary TrayModel::currentSummary() {
    const GatewayManager& manager = m_controller.manager();
    const QString fieldID = trimmedSpacesAndTabs(manager.networkID());
    if (manager.isBusy() && !manager.uiRunning() && !m_summary.busy)
        m_startedNetworkID = fieldID;

    ConnectionSummary summary;
    summary.busy = manager.isBusy();
    summary.coreRunning = manager.uiRunning();
    summary.connected = manager.isRunning();
    summary.errorLine = manager.lastErrorMessage();
    if (summary.busy || summary.coreRunning || summary.connected) {
        const QString id = m_startedNetworkID.isEmpty() ? fieldID : m_startedNetworkID;
        QString name = manager.currentStatus()
                           ? manager.currentStatus()->networkName.value_or(QString())
                           : QString();
        if (name.isEmpty())
            name = nameOf(id);
        summary.networkLabel = networkLabel(id, name);
    }
    return summary;
}

TrayModel::View TrayModel::viewOf(const ConnectionSummary& summary) const {
    const Localizer& localizer = m_controller.localizer();
    const auto withDetail = [](QString text, const QString& detail) {
        return detail.isEmpty() ? text : text + QStringLiteral(" · ") + detail;
    };

    View view;
    if (summary.busy || (summary.coreRunning && !summary.connected && !summary.errorLine)) {
        view.state = State::Busy;
        const char* id = summary.busy && summary.coreRunning ? textid::kTrayStateDisconnecting
                                                             : textid::kTrayStateConnecting;
        view.stateText = withDetail(localizer.text(id), summary.networkLabel);
    } else if (summary.errorLine) {
        view.state = State::Error;
        view.stateText = withDetail(localizer.text(textid::kTrayStateError),
                                    summary.errorLine->section(QLatin1Char('\n'), 0, 0));
    } else if (summary.connected) {
        view.state = State::Connected;
        view.stateText = withDetail(localizer.text(textid::kStatusConnected), summary.networkLabel);
    } else {
        view.stateText = localizer.text(textid::kStatusDisconnected);
    }

    const QString fieldID = trimmedSpacesAndTabs(m_controller.networkID());
    if (m_controller.mainButtonDisconnects())
        view.primaryText = localizer.text(textid::kButtonDisconnect);
    else if (hasNetworkIdLength(fieldID))
        view.primaryText =
            localizer.text(textid::kTrayConnectTo).arg(networkLabel(fieldID, nameOf(fieldID)));
    else
        view.primaryText = localizer.text(textid::kButtonConnect);
    view.primaryEnabled = m_controller.mainButtonEnabled();

    const QList<NetworkProfile> profiles = m_controller.store().sortedByMostRecent();
    for (const NetworkProfile& profile : profiles.first(qMin(profiles.size(), kRecentNetworkCount)))
        view.recentNetworks.append(
            {profile.networkID, networkLabel(profile.networkID, profile.name)});
    view.recentNetworksEnabled = !summary.busy && !summary.coreRunning;
    return view;
}

QString TrayModel::nameOf(const QString& networkID) const {
    for (const NetworkProfile& profile : m_controller.store().profiles()) {
        if (profile.networkID == networkID)
            return profile.name;
    }
    return QString();
}

} // namespace fernpoint
