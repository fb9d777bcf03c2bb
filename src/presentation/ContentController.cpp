#include "ContentController.h"

#include "GatewayManager.h"
#include "HelperInstaller.h"
#include "Localizer.h"
#include "NetworkIdText.h"
#include "NetworkProfileStore.h"
#include "TextIds.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QSettings>

namespace fernpoint {

const QList<ContentController::LanguageSegment>& ContentController::languageSegments() {
    static const QList<LanguageSegment> segments = {
        {textid::kLanguageSystem, QStringLiteral("system")},
        {textid::kLanguageSimplifiedChinese, QStringLiteral("zhHans")},
        {textid::kLanguageEnglish, QStringLiteral("en")},
        {textid::kLanguageJapanese, QStringLiteral("ja")},
    };
    return segments;
}

ContentController::ContentController(GatewayManager& manager, NetworkProfileStore& store,
                                     HelperInstaller& installer, Localizer& localizer,
                                     QSettings& settings, QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_store(store)
    , m_installer(installer)
    , m_localizer(localizer)
    , m_settings(settings)
    , m_recorder(manager, store) {
    m_localizer.setAppLanguage(appLanguage());
    watchSettingsFile();
    connect(&m_settingsWatcher, &QFileSystemWatcher::fileChanged, this,
            &ContentController::settingsFileChanged);
    connect(&m_settingsWatcher, &QFileSystemWatcher::directoryChanged, this,
            &ContentController::settingsFileChanged);

    // The window is a function of these fields; any change redraws what depends on it.
    connect(&m_manager, &GatewayManager::networkIDChanged, this, &ContentController::stateChanged);
    connect(&m_manager, &GatewayManager::natEnabledChanged, this, &ContentController::stateChanged);
    connect(&m_manager, &GatewayManager::uiRunningChanged, this, &ContentController::stateChanged);
    connect(&m_manager, &GatewayManager::isBusyChanged, this, &ContentController::stateChanged);
    connect(&m_manager, &GatewayManager::lastErrorMessageChanged, this,
            &ContentController::stateChanged);
    connect(&m_localizer, &Localizer::languageChanged, this, &ContentController::stateChanged);
}

bool ContentController::mainButtonEnabled() const {
    if (m_manager.isBusy())
        return false;
    // Disconnect needs no ID: a field emptied by the history popover must not lock the user out.
    if (m_manager.uiRunning())
        return true;
    // The window's own rule is deliberately narrower than the controller's: it trims spaces and
    // tabs only, so an ID with a line break may pass here and be refused by the controller.
    return hasNetworkIdLength(trimmedSpacesAndTabs(m_manager.networkID()));
}

bool ContentController::mainButtonDisconnects() const {
    return m_manager.uiRunning();
}

bool ContentController::showsBusyIndicator() const {
    return m_manager.isBusy();
}

bool ContentController::natSwitchEnabled() const {
    return !m_manager.uiRunning();
}

bool ContentController::natSwitchChecked() const {
    return m_manager.natEnabled();
}

const QString& ContentController::networkID() const {
    return m_manager.networkID();
}

const std::optional<QString>& ContentController::bannerText() const {
    return m_manager.lastErrorMessage();
}

QString ContentController::appLanguage() const {
    return m_settings.value(Localizer::kSettingKey, QString(kDefaultLanguage)).toString();
}

void ContentController::watchSettingsFile() {
    // The folder too: a program that replaces the file atomically (a rename, as QSettings itself
    // does) leaves a watch on the old file behind, and a file not written yet has none.
    const QFileInfo file(m_settings.fileName());
    if (file.exists() && !m_settingsWatcher.files().contains(file.filePath()))
        m_settingsWatcher.addPath(file.filePath());
    if (file.dir().exists() && m_settingsWatcher.directories().isEmpty())
        m_settingsWatcher.addPath(file.absolutePath());
}

void ContentController::settingsFileChanged() {
    watchSettingsFile();
    m_settings.sync();
    const QString stored = appLanguage();
    // Our own writes come back here too; only a different value redraws.
    if (stored != m_localizer.appLanguage())
        m_localizer.setAppLanguage(stored);
}

int ContentController::selectedLanguageIndex() const {
    // The language the texts are drawn in, so that the picker and the texts always agree.
    const QString stored = m_localizer.appLanguage();
    const QList<LanguageSegment>& segments = languageSegments();
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (segments[i].value == stored)
            return static_cast<int>(i);
    }
    return -1;
}

void ContentController::editNetworkID(const QString& text) {
    m_manager.setNetworkID(text);
}

void ContentController::pressMainButton() {
    if (!mainButtonEnabled())
        return;
    // The history is touched on every press, before the command, whatever its outcome.
    m_store.upsertProfile(m_manager.networkID(), std::nullopt, std::nullopt);
    if (m_manager.uiRunning())
        m_manager.stopGateway();
    else
        m_manager.startGateway();
}

void ContentController::changeNat(bool enabled) {
    if (m_manager.uiRunning()) {
        // Dropped: the switch must snap back to what the controller holds.
        Q_EMIT stateChanged();
        return;
    }
    m_manager.setNatEnabled(enabled);
    m_manager.applyNatSetting();
}

void ContentController::pressHistoryButton() {
    setShowHistoryPopover(!m_showHistoryPopover);
}

void ContentController::setShowHistoryPopover(bool show) {
    m_showHistoryPopover = show;
    Q_EMIT showHistoryPopoverChanged(show);
}

void ContentController::chooseLanguage(int segmentIndex) {
    const QList<LanguageSegment>& segments = languageSegments();
    if (segmentIndex < 0 || segmentIndex >= segments.size())
        return;
    m_settings.setValue(Localizer::kSettingKey, segments[segmentIndex].value);
    m_settings.sync();
    watchSettingsFile(); // the first write may have made the file
    m_localizer.setAppLanguage(segments[segmentIndex].value);
}

void ContentController::appear() {
    if (trimmedSpacesAndTabs(m_manager.networkID()).isEmpty()) {
        if (const std::optional<NetworkProfile> recent = m_store.mostRecentProfile()) {
            m_manager.setNetworkID(recent->networkID);
            m_recorder.noteFilledIn(recent->networkID);
        }
    }

    m_installer.ensureHelperInstalled([this](const std::optional<InstallError>& error) {
        // The outcome is applied on a later turn of the event loop, never inside appear(); the
        // controller as context drops the call if the window is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                if (error) {
                    m_manager.setLastErrorMessage(
                        m_localizer.processText(textid::kErrorHelperInstallFailedPrefix) +
                        error->localizedDescription);
                } else {
                    m_manager.startStatusPolling(kPollingIntervalSeconds);
                }
                Q_EMIT helperCheckApplied(!error);
            },
            Qt::QueuedConnection);
    });
}

} // namespace fernpoint
