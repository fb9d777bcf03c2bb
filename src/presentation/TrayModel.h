#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace fernpoint {

class ContentController;

// The connection as the desktop outside the window sees it, once the controller's fields have
// settled after a command, a poll or an edit.
struct ConnectionSummary {
    bool busy = false;
    bool coreRunning = false; // the window's uiRunning: the core runs or is starting
    bool connected = false;   // the manager's isRunning: the connection is established
    std::optional<QString> errorLine;
    // The network that is connected or being connected to, as the tray names it; empty otherwise.
    QString networkLabel;

    friend bool operator==(const ConnectionSummary&, const ConnectionSummary&) = default;
};

// What the tray icon shows and offers, without a widget: the state with its themed icon name and
// tooltip, and the menu's entries with the window's rules (nothing connects while busy, an ID must
// have 16 characters). It re-evaluates once per turn of the event loop after the controller's
// fields changed, and announces only real changes, so a poll that changes nothing is silent.
class TrayModel final : public QObject {
    Q_OBJECT

public:
    enum class State { Disconnected, Busy, Connected, Error };
    static constexpr int kRecentNetworkCount = 5;

    struct RecentNetwork {
        QString networkID;
        QString label;
        friend bool operator==(const RecentNetwork&, const RecentNetwork&) = default;
    };

    struct View {
        State state = State::Disconnected;
        // The tooltip, and the menu's first line.
        QString stateText;
        QString primaryText; // Connect to the network in the field, or Disconnect
        bool primaryEnabled = false;
        QList<RecentNetwork> recentNetworks; // newest first
        bool recentNetworksEnabled = false;
        friend bool operator==(const View&, const View&) = default;
    };

    explicit TrayModel(ContentController& controller, QObject* parent = nullptr);

    const View& view() const { return m_view; }
    const ConnectionSummary& summary() const { return m_summary; }

    // The menu's Connect or Disconnect: the window's main button.
    void triggerPrimary();
    // A Recent networks entry: puts the ID into the field and connects, recorded in the history
    // as the main button records it. Ignored while busy or while the gateway runs.
    void connectTo(const QString& networkID);

    // The themed symbolic icon of a state; the desktop recolours it to suit its panel.
    static QString iconName(State state);
    // "8a1c…4f21" for "8a1c93e0aa0b4f21".
    static QString shortNetworkId(const QString& networkID);
    // "Harbor Mesh (8a1c…4f21)", or the whole ID when the network has no name.
    static QString networkLabel(const QString& networkID, const QString& name);

Q_SIGNALS:
    void viewChanged();
    void summaryChanged(const fernpoint::ConnectionSummary& previous,
                        const fernpoint::ConnectionSummary& current);

private:
    void scheduleUpdate();
    void update();
    ConnectionSummary currentSummary();
    View viewOf(const ConnectionSummary& summary) const;
    QString nameOf(const QString& networkID) const;

    ContentController& m_controller;
    bool m_updatePending = false;
    // The ID this process last asked to connect; the window's field may be edited meanwhile.
    QString m_startedNetworkID;
    ConnectionSummary m_summary;
    View m_view;
};

} // namespace fernpoint
