#pragma once

#include "HistoryRecorder.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QSettings;

namespace fernpoint {

class GatewayManager;
class HelperInstaller;
class Localizer;
class NetworkProfileStore;

// Everything the main window decides, without a widget: what is shown and enabled, and which
// operation each control calls. The window's widgets only show these fields and call these
// operations, so the rules can be tested without a screen. It also records the running network in
// the history on every status snapshot, and follows "AppLanguage" whoever changes it.
class ContentController final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showHistoryPopover READ showHistoryPopover WRITE setShowHistoryPopover NOTIFY
                   showHistoryPopoverChanged)

public:
    static constexpr QLatin1StringView kDefaultLanguage{"system"};
    static constexpr double kPollingIntervalSeconds = 5.0;

    // One segment of the language picker: the text ID it shows and the value it stores.
    struct LanguageSegment {
        const char* textId;
        QString value;
    };
    static const QList<LanguageSegment>& languageSegments();

    // Reads "AppLanguage" from the settings and hands it to the localizer, then watches the
    // settings file for changes by other programs.
    ContentController(GatewayManager& manager, NetworkProfileStore& store,
                      HelperInstaller& installer, Localizer& localizer, QSettings& settings,
                      QObject* parent = nullptr);

    GatewayManager& manager() const { return m_manager; }
    NetworkProfileStore& store() const { return m_store; }
    Localizer& localizer() const { return m_localizer; }

    // What the window shows. stateChanged() announces any change of these.
    bool mainButtonEnabled() const;
    bool mainButtonDisconnects() const;
    bool showsBusyIndicator() const;
    bool natSwitchEnabled() const;
    bool natSwitchChecked() const;
    const QString& networkID() const;
    const std::optional<QString>& bannerText() const;
    QString appLanguage() const;
    // -1 when the stored value matches no segment.
    int selectedLanguageIndex() const;
    bool showHistoryPopover() const { return m_showHistoryPopover; }

    // What the user does.
    void editNetworkID(const QString& text);
    void pressMainButton();
    // A change of the NAT switch by the user; dropped while the gateway runs.
    void changeNat(bool enabled);
    void pressHistoryButton();
    void setShowHistoryPopover(bool show);
    void chooseLanguage(int segmentIndex);

    // Runs each time the window content comes into view: fills a blank Network ID from the
    // history and checks the helper. The check's outcome is applied on a later turn of the event
    // loop, never inside this call.
    void appear();

Q_SIGNALS:
    void stateChanged();
    void showHistoryPopoverChanged(bool show);
    // The helper check's outcome has been applied (after the queued hop).
    void helperCheckApplied(bool succeeded);

private:
    void settingsFileChanged();
    void watchSettingsFile();

    GatewayManager& m_manager;
    NetworkProfileStore& m_store;
    HelperInstaller& m_installer;
    Localizer& m_localizer;
    QSettings& m_settings;
    HistoryRecorder m_recorder;
    QFileSystemWatcher m_settingsWatcher;
    bool m_showHistoryPopover = false;
};

} // namespace fernpoint
