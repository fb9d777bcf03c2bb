#pragma once

#include "GatewayStatusDetail.h"
#include "PanelStyle.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace fernpoint {

// What the status group box shows for one snapshot, worked out without any widget.
class StatusRows final {
public:
    // One labelled row: the title is a text key, looked up in the window's language when drawn;
    // the value is shown verbatim.
    struct Row {
        QString titleKey;
        QString value;
        PanelColor valueColor = PanelColor::Primary;
    };

    struct Endpoint {
        QString address;
        PanelColor dotColor = PanelColor::Red;
    };

    // Looks a key up in the language of the process (not the window's).
    using ProcessLookup = std::function<QString(const QString& key)>;

    static constexpr int kRowCount = 9;
    // What an absent value shows.
    static constexpr QLatin1StringView kAbsentValue{"-"};

    StatusRows(const GatewayStatusDetail& detail, const ProcessLookup& processText);

    const QList<Row>& rows() const { return m_rows; }
    const QList<Endpoint>& endpoints() const { return m_endpoints; }
    const QList<QString>& remoteManagement() const { return m_remoteManagement; }

    // Plain decimal digits with a leading minus, no grouping, whatever the locale.
    static QString integerText(const std::optional<std::int64_t>& value);
    static QString optionalText(const std::optional<QString>& value);

private:
    QList<Row> m_rows;
    QList<Endpoint> m_endpoints;
    QList<QString> m_remoteManagement;
};

} // namespace fernpoint
