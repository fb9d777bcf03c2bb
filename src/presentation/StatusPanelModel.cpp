#include "StatusPanelModel.h"
#include "TextIds.h"

namespace fernpoint {

StatusPanelModel::StatusPanelModel(const GatewayStatusDetail& detail,
                                   const ProcessLookup& processText) {
    const auto row = [this](const char* id, const QString& value,
                            Emphasis emphasis = Emphasis::Normal) {
        m_rows.append(Row{id, value, emphasis});
    };
    row(textid::kStatusRowConnState, detail.statusText,
        detail.isConnected ? Emphasis::Positive : Emphasis::Normal);
    row(textid::kStatusRowNetworkName, optionalText(detail.networkName));
    row(textid::kStatusRowNetworkDesc, optionalText(detail.networkDesc));
    row(textid::kStatusRowLocalMgmt, optionalText(detail.localMgmtCIDR));
    row(textid::kStatusRowListenPort, integerText(detail.listenPort));
    row(textid::kStatusRowCoreState, optionalText(detail.coreState));
    row(textid::kStatusRowPeerCount, integerText(detail.peerCount));
    row(textid::kStatusRowLastPolicy, optionalText(detail.lastPolicyAt));
    // The NAT value is composed outside the window's language on purpose: it follows the process.
    row(textid::kStatusRowNat, processText(detail.natEnabled ? textid::kNatOn : textid::kNatOff),
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
