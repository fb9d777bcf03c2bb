#pragma once

#include <QtGlobal>

// The IDs of the interface texts, each declared once, with its English source text in the
// comment above it. lupdate reads these into translations/*.ts; the Localizer looks them up in
// the window's or the process's language. A text ID is passed as it is, never built.
namespace fernpoint::textid {

// The window.
//% "FernPoint"
inline constexpr char kAppTitle[] = QT_TRID_NOOP("app_title");

// The language picker: each language names itself.
//% "跟随系统"
inline constexpr char kLanguageSystem[] = QT_TRID_NOOP("跟随系统");
//% "简体中文"
inline constexpr char kLanguageSimplifiedChinese[] = QT_TRID_NOOP("简体中文");
//% "English"
inline constexpr char kLanguageEnglish[] = QT_TRID_NOOP("English");
//% "日本語"
inline constexpr char kLanguageJapanese[] = QT_TRID_NOOP("日本語");
//% "Interface language"
inline constexpr char kLanguagePickerAccessibleName[] =
    QT_TRID_NOOP("language_picker_accessible_name");

// The error banner.
//% "Error"
inline constexpr char kErrorBannerAccessibleName[] = QT_TRID_NOOP("error_banner_accessible_name");
//% "Helper installation failed: "
inline constexpr char kErrorHelperInstallFailedPrefix[] =
    QT_TRID_NOOP("error_helper_install_failed_prefix");

// The connection form.
//% "Network ID"
inline constexpr char kNetworkIdLabel[] = QT_TRID_NOOP("network_id_label");
//% "16-character Network ID"
inline constexpr char kNetworkIdPlaceholder[] = QT_TRID_NOOP("network_id_placeholder");
//% "The 16-character ID of the network to join"
inline constexpr char kNetworkIdAccessibleDescription[] =
    QT_TRID_NOOP("network_id_accessible_description");
//% "History"
inline constexpr char kHistoryButton[] = QT_TRID_NOOP("history_button");
//% "Show the networks used before"
inline constexpr char kHistoryButtonAccessibleDescription[] =
    QT_TRID_NOOP("history_button_accessible_description");
//% "Connect"
inline constexpr char kButtonConnect[] = QT_TRID_NOOP("button_connect");
//% "Disconnect"
inline constexpr char kButtonDisconnect[] = QT_TRID_NOOP("button_disconnect");
//% "Enable NAT"
inline constexpr char kNatToggleTitle[] = QT_TRID_NOOP("nat_toggle_title");
//% "Can be changed only while disconnected"
inline constexpr char kNatToggleAccessibleDescription[] =
    QT_TRID_NOOP("nat_toggle_accessible_description");

// The connection indicator and the status panel.
//% "Connected"
inline constexpr char kStatusConnected[] = QT_TRID_NOOP("status_connected");
//% "Disconnected"
inline constexpr char kStatusDisconnected[] = QT_TRID_NOOP("status_disconnected");
//% "Network Status"
inline constexpr char kNetworkStatusTitle[] = QT_TRID_NOOP("network_status_title");
//% "No status yet"
inline constexpr char kNetworkStatusEmpty[] = QT_TRID_NOOP("network_status_empty");
//% "Connection"
inline constexpr char kStatusRowConnState[] = QT_TRID_NOOP("status_row_conn_state");
//% "Network Name"
inline constexpr char kStatusRowNetworkName[] = QT_TRID_NOOP("status_row_network_name");
//% "Description"
inline constexpr char kStatusRowNetworkDesc[] = QT_TRID_NOOP("status_row_network_desc");
//% "Local Management Address"
inline constexpr char kStatusRowLocalMgmt[] = QT_TRID_NOOP("status_row_local_mgmt");
//% "Listen Port"
inline constexpr char kStatusRowListenPort[] = QT_TRID_NOOP("status_row_listen_port");
//% "Core State"
inline constexpr char kStatusRowCoreState[] = QT_TRID_NOOP("status_row_core_state");
//% "Peers"
inline constexpr char kStatusRowPeerCount[] = QT_TRID_NOOP("status_row_peer_count");
//% "Last Policy"
inline constexpr char kStatusRowLastPolicy[] = QT_TRID_NOOP("status_row_last_policy");
//% "NAT"
inline constexpr char kStatusRowNat[] = QT_TRID_NOOP("status_row_nat");
//% "On"
inline constexpr char kNatOn[] = QT_TRID_NOOP("nat_on");
//% "Off"
inline constexpr char kNatOff[] = QT_TRID_NOOP("nat_off");
//% "Endpoints"
inline constexpr char kStatusRowEndpointsTitle[] = QT_TRID_NOOP("status_row_endpoints_title");
//% "Remote Management Addresses"
inline constexpr char kStatusRowRemoteMgmtTitle[] = QT_TRID_NOOP("status_row_remote_mgmt_title");

// The history popover.
//% "Recent Networks"
inline constexpr char kHistoryTitle[] = QT_TRID_NOOP("history_title");
//% "No networks yet"
inline constexpr char kHistoryEmpty[] = QT_TRID_NOOP("history_empty");
//% "Remove from History"
inline constexpr char kHistoryDeleteOne[] = QT_TRID_NOOP("history_delete_one");
//% "Clear History"
inline constexpr char kHistoryClearAll[] = QT_TRID_NOOP("history_clear_all");

// The tray menu.
//% "Show/Hide Window"
inline constexpr char kTrayShowHide[] = QT_TRID_NOOP("tray_show_hide");
//% "Quit FernPoint"
inline constexpr char kTrayQuit[] = QT_TRID_NOOP("tray_quit");
//% "Connecting…"
inline constexpr char kTrayStateConnecting[] = QT_TRID_NOOP("tray_state_connecting");
//% "Disconnecting…"
inline constexpr char kTrayStateDisconnecting[] = QT_TRID_NOOP("tray_state_disconnecting");
//% "Error"
inline constexpr char kTrayStateError[] = QT_TRID_NOOP("tray_state_error");
//% "Connect to %1"
inline constexpr char kTrayConnectTo[] = QT_TRID_NOOP("tray_connect_to");

// Desktop notices.
//% "Connection lost"
inline constexpr char kNoticeConnectionLost[] = QT_TRID_NOOP("notice_connection_lost");
//% "Could not connect"
inline constexpr char kNoticeConnectFailed[] = QT_TRID_NOOP("notice_connect_failed");
//% "Could not disconnect"
inline constexpr char kNoticeDisconnectFailed[] = QT_TRID_NOOP("notice_disconnect_failed");

// fernpointctl.
//% "The helper sent no status JSON text"
inline constexpr char kCtlStatusNoJson[] = QT_TRID_NOOP("ctl_status_no_json");
//% "NAT cannot be changed while the gateway is running; disconnect first"
inline constexpr char kCtlNatRefusedRunning[] = QT_TRID_NOOP("ctl_nat_refused_running");
//% "Cannot read the history file %1: %2"
inline constexpr char kCtlHistoryUnreadable[] = QT_TRID_NOOP("ctl_history_unreadable");
//% "Network"
inline constexpr char kCtlHistoryHeadingNetwork[] = QT_TRID_NOOP("ctl_history_heading_network");
//% "Last Used"
inline constexpr char kCtlHistoryHeadingLastUsed[] = QT_TRID_NOOP("ctl_history_heading_last_used");

} // namespace fernpoint::textid
