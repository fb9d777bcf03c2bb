#pragma once

#include "GatewayStatusDetail.h"

#include <QAnyStringView>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace fernpoint {

// What the status panel shows for one snapshot, worked out without any widget: nine labelled
// rows, the endpoints and the remote management addresses.
class StatusPanelModel final {
public:
    // How a row's value stands out; the view picks the colour.
    enum class Emphasis { Normal, Positive, Muted };

    // One labelled row: the title is a text ID, looked up in the window's language when drawn;
    // the value is shown verbatim.
    struct Row {
        const char* titleId = nullptr;
        QString value;
        Emphasis emphasis = Emphasis::Normal;
    };

    struct Endpoint {
        QString address;
        bool reachable = false;
    };

    // Looks a text ID up in the language of the process (not the window's).
    using ProcessLookup = std::function<QString(QAnyStringView id)>;

    static constexpr int kRowCount = 9;
    // What an absent value shows.
    static constexpr QLatin1StringView kAbsentValue{"-"};

    StatusPanelModel(const GatewayStatusDetail& detail, const ProcessLookup& processText);

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
