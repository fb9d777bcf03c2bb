#include "StatusPanelModel.h"

namespace fernpoint {

StatusPanelModel::StatusPanelModel(const GatewayStatusDetail& detail,
                                   const ProcessLookup& processText) {
    const auto row = [this](const char* key, const QString& value,
                            Emphasis emphasis = Emphasis::Normal) {
        m_rows.append(Row{QLatin1StringView(key), value, emphasis});
    };
    row("status_row_conn_state", detail.statusText,
        detail.isConnected ? Emphasis::Positive : Emphasis::Normal);
    row("status_row_network_name", optionalText(detail.networkName));
    row("status_row_network_desc", optionalText(detail.networkDesc));
    row("status_row_local_mgmt", optionalText(detail.localMgmtCIDR));
    row("status_row_listen_port", integerText(detail.listenPort));
    row("status_row_core_state", optionalText(detail.coreState));
    row("status_row_peer_count", integerText(detail.peerCount));
    row("status_row_last_policy", optionalText(detail.lastPolicyAt));
    // The NAT value is composed outside the window's language on purpose: it follows the process.
    row("status_row_nat",
        processText(detail.natEnabled ? QStringLiteral("nat_on") : QStringLiteral("nat_off")),
        detail.natEnabled ? Emphasis::Positive : Emphasis::Muted);

    m_endpoints.reserve(detail.endpoints.size());
    for (const EndpointStatus& endpoint : detail.endpoints)
        m_endpoints.append(Endpoint{endpoint.address, endpoint.ok});
    m_remoteManagement = detail.remoteMgmtCIDRs;
}

QString StatusPanelModel::integerText(const std::optional<std::int64_t>& value) {
    return value ? QString::number(*value) : QString(kAbsentValue);
}

QString StatusPanelModel::optionalText(const std::optional<QString>& value) {
    return value ? *value : QString(kAbsentValue);
}

} // namespace fernpoint
