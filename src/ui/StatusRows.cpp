#include "StatusRows.h"

namespace fernpoint {

StatusRows::StatusRows(const GatewayStatusDetail& detail, const ProcessLookup& processText) {
    const auto row = [this](const char* key, const QString& value, PanelColor colour) {
        m_rows.append(Row{QLatin1StringView(key), value, colour});
    };
    row("status_row_conn_state", detail.statusText,
        detail.isConnected ? PanelColor::Green : PanelColor::Primary);
    row("status_row_network_name", optionalText(detail.networkName), PanelColor::Primary);
    row("status_row_network_desc", optionalText(detail.networkDesc), PanelColor::Primary);
    row("status_row_local_mgmt", optionalText(detail.localMgmtCIDR), PanelColor::Primary);
    row("status_row_listen_port", integerText(detail.listenPort), PanelColor::Primary);
    row("status_row_core_state", optionalText(detail.coreState), PanelColor::Primary);
    row("status_row_peer_count", integerText(detail.peerCount), PanelColor::Primary);
    row("status_row_last_policy", optionalText(detail.lastPolicyAt), PanelColor::Primary);
    // The NAT value is composed outside the window's language on purpose: it follows the process.
    row("status_row_nat",
        processText(detail.natEnabled ? QStringLiteral("nat_on") : QStringLiteral("nat_off")),
        detail.natEnabled ? PanelColor::Green : PanelColor::Secondary);

    m_endpoints.reserve(detail.endpoints.size());
    for (const EndpointStatus& endpoint : detail.endpoints)
        m_endpoints.append(
            Endpoint{endpoint.address, endpoint.ok ? PanelColor::Green : PanelColor::Red});
    m_remoteManagement = detail.remoteMgmtCIDRs;
}

QString StatusRows::integerText(const std::optional<std::int64_t>& value) {
    return value ? QString::number(*value) : QString(kAbsentValue);
}

QString StatusRows::optionalText(const std::optional<QString>& value) {
    return value ? *value : QString(kAbsentValue);
}

} // namespace fernpoint
