<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en">
<context>
    <name></name>
    <message id="app_title">
        <source>FernPoint</source>
        <translation>FernPoint</translation>
    </message>
    <message id="跟随系统">
        <source>跟随系统</source>
        <translation>跟随系统</translation>
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
        <translation>界面语言</translation>
    </message>
    <message id="error_banner_accessible_name">
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message id="error_helper_install_failed_prefix">
        <source>Helper installation failed: </source>
        <translation>辅助程序安装失败：</translation>
    </message>
    <message id="network_id_label">
        <source>Network ID</source>
        <translation>网络 ID</translation>
    </message>
    <message id="network_id_placeholder">
        <source>16-character Network ID</source>
        <translation>输入 16 位网络 ID</translation>
    </message>
    <message id="network_id_accessible_description">
        <source>The 16-character ID of the network to join</source>
        <translation>要加入的网络的 16 位 ID</translation>
    </message>
    <message id="history_button">
        <source>History</source>
        <translation>历史记录</translation>
    </message>
    <message id="history_button_accessible_description">
        <source>Show the networks used before</source>
        <translation>显示最近使用的网络</translation>
    </message>
    <message id="button_connect">
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message id="button_disconnect">
        <source>Disconnect</source>
        <translation>断开连接</translation>
    </message>
    <message id="nat_toggle_title">
        <source>Enable NAT</source>
        <translation>启用 NAT</translation>
    </message>
    <message id="nat_toggle_accessible_description">
        <source>Can be changed only while disconnected</source>
        <translation>仅在未连接时可以更改</translation>
    </message>
    <message id="status_connected">
        <source>Connected</source>
        <translation>已连接</translation>
    </message>
    <message id="status_disconnected">
        <source>Disconnected</source>
        <translation>未连接</translation>
    </message>
    <message id="network_status_title">
        <source>Network Status</source>
        <translation>网络状态</translation>
    </message>
    <message id="network_status_empty">
        <source>No status yet</source>
        <translation>暂无状态信息</translation>
    </message>
    <message id="status_row_conn_state">
        <source>Connection</source>
        <translation>连接状态</translation>
    </message>
    <message id="status_row_network_name">
        <source>Network Name</source>
        <translation>网络名称</translation>
    </message>
    <message id="status_row_network_desc">
        <source>Description</source>
        <translation>网络描述</translation>
    </message>
    <message id="status_row_local_mgmt">
        <source>Local Management Address</source>
        <translation>本地管理地址</translation>
    </message>
    <message id="status_row_listen_port">
        <source>Listen Port</source>
        <translation>监听端口</translation>
    </message>
    <message id="status_row_core_state">
        <source>Core State</source>
        <translation>核心状态</translation>
    </message>
    <message id="status_row_peer_count">
        <source>Peers</source>
        <translation>对等节点数</translation>
    </message>
    <message id="status_row_last_policy">
        <source>Last Policy</source>
        <translation>最近策略时间</translation>
    </message>
    <message id="status_row_nat">
        <source>NAT</source>
        <translation>NAT</translation>
    </message>
    <message id="nat_on">
        <source>On</source>
        <translation>开启</translation>
    </message>
    <message id="nat_off">
        <source>Off</source>
        <translation>关闭</translation>
    </message>
    <message id="status_row_endpoints_title">
        <source>Endpoints</source>
        <translation>端点</translation>
    </message>
    <message id="status_row_remote_mgmt_title">
        <source>Remote Management Addresses</source>
        <translation>远程管理地址</translation>
    </message>
    <message id="history_title">
        <source>Recent Networks</source>
        <translation>历史网络</translation>
    </message>
    <message id="history_empty">
        <source>No networks yet</source>
        <translation>暂无历史记录</translation>
    </message>
    <message id="history_delete_one">
        <source>Remove from History</source>
        <translation>从历史记录中删除</translation>
    </message>
    <message id="history_clear_all">
        <source>Clear History</source>
        <translation>清空历史记录</translation>
    </message>
    <message id="tray_show_hide">
        <source>Show/Hide Window</source>
        <translation>显示/隐藏窗口</translation>
    </message>
    <message id="tray_quit">
        <source>Quit FernPoint</source>
        <translation>退出 FernPoint</translation>
    </message>
    <message id="ctl_status_no_json">
        <source>The helper sent no status JSON text</source>
        <translation>辅助程序没有返回状态 JSON 文本</translation>
    </message>
    <message id="ctl_nat_refused_running">
        <source>NAT cannot be changed while the gateway is running; disconnect first</source>
        <translation>网关运行期间不能更改 NAT，请先断开连接</translation>
    </message>
    <message id="ctl_history_unreadable">
        <source>Cannot read the history file %1: %2</source>
        <translation>无法读取历史记录文件 %1：%2</translation>
    </message>
    <message id="ctl_history_heading_network">
        <source>Network</source>
        <translation>网络</translation>
    </message>
    <message id="ctl_history_heading_last_used">
        <source>Last Used</source>
        <translation>上次使用</translation>
    </message>
    <message id="tray_state_connecting">
        <source>Connecting…</source>
        <translation>正在连接…</translation>
    </message>
    <message id="tray_state_disconnecting">
        <source>Disconnecting…</source>
        <translation>正在断开连接…</translation>
    </message>
    <message id="tray_state_error">
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message id="tray_connect_to">
        <source>Connect to %1</source>
        <translation>连接到 %1</translation>
    </message>
    <message id="notice_connection_lost">
        <source>Connection lost</source>
        <translation>连接已断开</translation>
    </message>
    <message id="notice_connect_failed">
        <source>Could not connect</source>
        <translation>无法连接</translation>
    </message>
    <message id="notice_disconnect_failed">
        <source>Could not disconnect</source>
        <translation>无法断开连接</translation>
    </message>
</context>
</TS>
