<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja" sourcelanguage="en">
<context>
    <name></name>
    <message id="app_title">
        <source>FernPoint</source>
        <translation>FernPoint</translation>
    </message>
    <message id="跟随系统">
        <source>跟随系统</source>
        <translation>システム</translation>
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
        <translation>表示言語</translation>
    </message>
    <message id="error_banner_accessible_name">
        <source>Error</source>
        <translation>エラー</translation>
    </message>
    <message id="error_helper_install_failed_prefix">
        <source>Helper installation failed: </source>
        <translation>ヘルパーのインストールに失敗しました：</translation>
    </message>
    <message id="network_id_label">
        <source>Network ID</source>
        <translation>ネットワーク ID</translation>
    </message>
    <message id="network_id_placeholder">
        <source>16-character Network ID</source>
        <translation>16 文字のネットワーク ID</translation>
    </message>
    <message id="network_id_accessible_description">
        <source>The 16-character ID of the network to join</source>
        <translation>参加するネットワークの 16 文字の ID</translation>
    </message>
    <message id="history_button">
        <source>History</source>
        <translation>履歴</translation>
    </message>
    <message id="history_button_accessible_description">
        <source>Show the networks used before</source>
        <translation>以前に使用したネットワークを表示</translation>
    </message>
    <message id="button_connect">
        <source>Connect</source>
        <translation>接続</translation>
    </message>
    <message id="button_disconnect">
        <source>Disconnect</source>
        <translation>切断</translation>
    </message>
    <message id="nat_toggle_title">
        <source>Enable NAT</source>
        <translation>NAT を有効にする</translation>
    </message>
    <message id="nat_toggle_accessible_description">
        <source>Can be changed only while disconnected</source>
        <translation>切断中のみ変更できます</translation>
    </message>
    <message id="status_connected">
        <source>Connected</source>
        <translation>接続済み</translation>
    </message>
    <message id="status_disconnected">
        <source>Disconnected</source>
        <translation>未接続</translation>
    </message>
    <message id="network_status_title">
        <source>Network Status</source>
        <translation>ネットワークの状態</translation>
    </message>
    <message id="network_status_empty">
        <source>No status yet</source>
        <translation>状態情報はまだありません</translation>
    </message>
    <message id="status_row_conn_state">
        <source>Connection</source>
        <translation>接続状態</translation>
    </message>
    <message id="status_row_network_name">
        <source>Network Name</source>
        <translation>ネットワーク名</translation>
    </message>
    <message id="status_row_network_desc">
        <source>Description</source>
        <translation>説明</translation>
    </message>
    <message id="status_row_local_mgmt">
        <source>Local Management Address</source>
        <translation>ローカル管理アドレス</translation>
    </message>
    <message id="status_row_listen_port">
        <source>Listen Port</source>
        <translation>待ち受けポート</translation>
    </message>
    <message id="status_row_core_state">
        <source>Core State</source>
        <translation>コアの状態</translation>
    </message>
    <message id="status_row_peer_count">
        <source>Peers</source>
        <translation>ピア数</translation>
    </message>
    <message id="status_row_last_policy">
        <source>Last Policy</source>
        <translation>最終ポリシー受信</translation>
    </message>
    <message id="status_row_nat">
        <source>NAT</source>
        <translation>NAT</translation>
    </message>
    <message id="nat_on">
        <source>On</source>
        <translation>オン</translation>
    </message>
    <message id="nat_off">
        <source>Off</source>
        <translation>オフ</translation>
    </message>
    <message id="status_row_endpoints_title">
        <source>Endpoints</source>
        <translation>エンドポイント</translation>
    </message>
    <message id="status_row_remote_mgmt_title">
        <source>Remote Management Addresses</source>
        <translation>リモート管理アドレス</translation>
    </message>
    <message id="history_title">
        <source>Recent Networks</source>
        <translation>最近のネットワーク</translation>
    </message>
    <message id="history_empty">
        <source>No networks yet</source>
        <translation>履歴はありません</translation>
    </message>
    <message id="history_delete_one">
        <source>Remove from History</source>
        <translation>履歴から削除</translation>
    </message>
    <message id="history_clear_all">
        <source>Clear History</source>
        <translation>履歴をすべて消去</translation>
    </message>
    <message id="tray_show_hide">
        <source>Show/Hide Window</source>
        <translation>ウインドウの表示/非表示</translation>
    </message>
    <message id="tray_quit">
        <source>Quit FernPoint</source>
        <translation>FernPoint を終了</translation>
    </message>
    <message id="ctl_status_no_json">
        <source>The helper sent no status JSON text</source>
        <translation>ヘルパーから状態 JSON テキストが返されませんでした</translation>
    </message>
    <message id="ctl_nat_refused_running">
        <source>NAT cannot be changed while the gateway is running; disconnect first</source>
        <translation>ゲートウェイの実行中は NAT を変更できません。先に切断してください</translation>
    </message>
    <message id="ctl_history_unreadable">
        <source>Cannot read the history file %1: %2</source>
        <translation>履歴ファイル %1 を読み取れません：%2</translation>
    </message>
    <message id="ctl_history_heading_network">
        <source>Network</source>
        <translation>ネットワーク</translation>
    </message>
    <message id="ctl_history_heading_last_used">
        <source>Last Used</source>
        <translation>最終使用日時</translation>
    </message>
    <message id="tray_state_connecting">
        <source>Connecting…</source>
        <translation>接続中…</translation>
    </message>
    <message id="tray_state_disconnecting">
        <source>Disconnecting…</source>
        <translation>切断中…</translation>
    </message>
    <message id="tray_state_error">
        <source>Error</source>
        <translation>エラー</translation>
    </message>
    <message id="tray_connect_to">
        <source>Connect to %1</source>
        <translation>%1 に接続</translation>
    </message>
    <message id="notice_connection_lost">
        <source>Connection lost</source>
        <translation>接続が切れました</translation>
    </message>
    <message id="notice_connect_failed">
        <source>Could not connect</source>
        <translation>接続できませんでした</translation>
    </message>
    <message id="notice_disconnect_failed">
        <source>Could not disconnect</source>
        <translation>切断できませんでした</translation>
    </message>
</context>
</TS>
