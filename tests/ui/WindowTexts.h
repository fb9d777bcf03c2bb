#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

namespace fernpoint::test {

// Every key the window and its panels may show; none of them may reach the screen raw.
inline const QStringList kWindowKeys = {
    QStringLiteral("app_title"), QStringLiteral("network_id_label"),
    QStringLiteral("network_id_placeholder"), QStringLiteral("history_button"),
    QStringLiteral("button_connect"), QStringLiteral("button_disconnect"),
    QStringLiteral("nat_toggle_title"), QStringLiteral("status_connected"),
    QStringLiteral("status_disconnected"), QStringLiteral("network_status_title"),
    QStringLiteral("network_status_empty"), QStringLiteral("status_row_conn_state"),
    QStringLiteral("status_row_network_name"), QStringLiteral("status_row_network_desc"),
    QStringLiteral("status_row_local_mgmt"), QStringLiteral("status_row_listen_port"),
    QStringLiteral("status_row_core_state"), QStringLiteral("status_row_peer_count"),
    QStringLiteral("status_row_last_policy"), QStringLiteral("status_row_nat"),
    QStringLiteral("nat_on"), QStringLiteral("nat_off"),
    QStringLiteral("status_row_endpoints_title"), QStringLiteral("status_row_remote_mgmt_title"),
    QStringLiteral("history_title"), QStringLiteral("history_empty"),
    QStringLiteral("history_delete_one"), QStringLiteral("history_clear_all"),
    QStringLiteral("language_picker_accessible_name"),
    QStringLiteral("network_id_accessible_description"),
    QStringLiteral("history_button_accessible_description"),
    QStringLiteral("nat_toggle_accessible_description"),
    QStringLiteral("error_banner_accessible_name"), QStringLiteral("tray_show_hide"),
    QStringLiteral("tray_quit")};

// The texts a user (or a screen reader) can read in the widget tree below root.
inline QStringList visibleTexts(const QWidget& root) {
    QStringList texts;
    QList<QWidget*> widgets = root.findChildren<QWidget*>();
    widgets.prepend(const_cast<QWidget*>(&root));
    for (const QWidget* widget : widgets) {
        if (widget != &root && !widget->isVisibleTo(&root))
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts << button->text();
        if (const auto* field = qobject_cast<const QLineEdit*>(widget))
            texts << field->placeholderText();
        if (const auto* box = qobject_cast<const QGroupBox*>(widget))
            texts << box->title();
        texts << widget->accessibleName() << widget->accessibleDescription() << widget->toolTip();
    }
    texts.removeAll(QString());
    return texts;
}

} // namespace fernpoint::test
