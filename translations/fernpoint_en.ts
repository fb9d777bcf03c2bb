<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name></name>
    <message id="app_title">
        <source>FernPoint</source>
        <translation>FernPoint</translation>
    </message>
    <message id="跟随系统">
        <source>跟随系统</source>
        <translation>System</translation>
    </message>
    <message id="简体中文">
        <source>简体中文</source>
        <translation>简体中文</translation>
    </message>
    <message id="English">
        <source>English</source>
        <translation>English</translation>
    </message>
    <message id="日本語">
        <source>日本語</source>
        <translation>日本語</translation>
    </message>
    <message id="language_picker_accessible_name">
        <source>Interface language</source>
        <translation>Interface language</translation>
    </message>
    <message id="error_banner_accessible_name">
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message id="error_helper_install_failed_prefix">
        <source>Helper installation failed: </source>
        <translation>Helper installation failed: </translation>
    </message>
    <message id="network_id_label">
        <source>Network ID</source>
        <translation>Network ID</translation>
    </message>
    <message id="network_id_placeholder">
        <source>16-character Network ID</source>
        <translation>16-character Network ID</translation>
    </message>
    <message id="network_id_accessible_description">
        <source>The 16-character ID of the network to join</source>
        <translation>The 16-character ID of the network to join</translation>
    </message>
    <message id="history_button">
        <source>History</source>
        <translation>History</translation>
    </message>
    <message id="history_button_accessible_description">
        <source>Show the networks used before</source>
        <translation>Show the networks used before</translation>
    </message>
    <message id="button_connect">
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message id="button_disconnect">
        <source>Disconnect</source>
        <translation>Disconnect</translation>
    </message>
    <message id="nat_toggle_title">
        <source>Enable NAT</source>
        <translation>Enable NAT</translation>
    </message>
    <message id="nat_toggle_accessible_description">
        <source>Can be changed only while disconnected</source>
        <translation>Can be changed only while disconnected</translation>
    </message>
    <message id="status_connected">
        <source>Connected</source>
        <translation>Connected</translation>
    </message>
    <message id="status_disconnected">
        <source>Disconnected</source>
        <translation>Disconnected</translation>
    </message>
    <message id="network_status_title">
        <source>Network Status</source>
        <translation>Network Status</translation>
    </message>
    <message id="network_status_empty">
        <source>No status yet</source>
        <translation>No status yet</translation>
    </message>
    <message id="status_row_conn_state">
        <source>Connection</source>
        <translation>Connection</translation>
    </message>
    <message id="status_row_network_name">
        <source>Network Name</source>
        <translation>Network Name</translation>
    </message>
    <message id="status_row_network_desc">
        <source>Description</source>
        <translation>Description</translation>
    </message>
    <message id="status_row_local_mgmt">
        <source>Local Management Address</source>
        <translation>Local Management Address</translation>
    </message>
    <message id="status_row_listen_port">
        <source>Listen Port</source>
        <translation>Listen Port</translation>
    </message>
    <message id="status_row_core_state">
        <source>Core State</source>
        <translation>Core State</translation>
    </message>
    <message id="status_row_peer_count">
        <source>Peers</source>
        <translation>Peers</translation>
    </message>
    <message id="status_row_last_policy">
        <source>Last Policy</source>
        <translation>Last Policy</translation>
    </message>
    <message id="status_row_nat">
        <source>NAT</source>
        <translation>NAT</translation>
    </message>
    <message id="nat_on">
        <source>On</source>
        <translation>On</translation>
    </message>
    <message id="nat_off">
        <source>Off</source>
        <translation>Off</translation>
    </message>
    <message id="status_row_endpoints_title">
        <source>Endpoints</source>
        <translation>Endpoints</translation>
    </message>
    <message id="status_row_remote_mgmt_title">
        <source>Remote Management Addresses</source>
        <translation>Remote Management Addresses</translation>
    </message>
    <message id="history_title">
        <source>Recent Networks</source>
        <translation>Recent Networks</translation>
    </message>
    <message id="history_empty">
        <source>No networks yet</source>
        <translation>No networks yet</translation>
    </message>
    <message id="history_delete_one">
        <source>Remove from History</source>
        <translation>Remove from History</translation>
    </message>
    <message id="history_clear_all">
        <source>Clear History</source>
        <translation>Clear History</translation>
    </message>
    <message id="tray_show_hide">
        <source>Show/Hide Window</source>
        <translation>Show/Hide Window</translation>
    </message>
    <message id="tray_quit">
        <source>Quit FernPoint</source>
        <translation>Quit FernPoint</translation>
    </message>
    <message id="ctl_status_no_json">
        <source>The helper sent no status JSON text</source>
        <translation>The helper sent no status JSON text</translation>
    </message>
    <message id="ctl_nat_refused_running">
        <source>NAT cannot be changed while the gateway is running; disconnect first</source>
        <translation>NAT cannot be changed while the gateway is running; disconnect first</translation>
    </message>
    <message id="ctl_history_unreadable">
        <source>Cannot read the history file %1: %2</source>
        <translation>Cannot read the history file %1: %2</translation>
    </message>
    <message id="ctl_history_heading_network">
        <source>Network</source>
        <translation>Network</translation>
    </message>
    <message id="ctl_history_heading_last_used">
        <source>Last Used</source>
        <translation>Last Used</translation>
    </message>
    <message id="tray_state_connecting">
        <source>Connecting…</source>
        <translation>Connecting…</translation>
    </message>
    <message id="tray_state_disconnecting">
        <source>Disconnecting…</source>
        <translation>Disconnecting…</translation>
    </message>
    <message id="tray_state_error">
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message id="tray_connect_to">
        <source>Connect to %1</source>
        <translation>Connect to %1</translation>
    </message>
    <message id="notice_connection_lost">
        <source>Connection lost</source>
        <translation>Connection lost</translation>
    </message>
    <message id="notice_connect_failed">
        <source>Could not connect</source>
        <translation>Could not connect</translation>
    </message>
    <message id="notice_disconnect_failed">
        <source>Could not disconnect</source>
        <translation>Could not disconnect</translation>
    </message>
</context>
</TS>
