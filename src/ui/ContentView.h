#pragma once

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QSettings;

namespace fernpoint {

class ConnectionIndicator;
class ContentController;
class ErrorBanner;
class GatewayManager;
class HelperClient;
class HelperInstaller;
class HistoryButton;
class HistoryPopover;
class HistoryRecorder;
class Localizer;
class MainButton;
class NetworkProfileStore;
class SegmentedPicker;
class StatusGroupBox;
class ToggleSwitch;

// The content of the main window: header with the language picker, error banner, the connection
// form, the NAT switch and the status panel. It owns the gateway controller and the history store
// for its whole life; a language change retranslates the texts in place and keeps both.
class ContentView final : public QWidget {
    Q_OBJECT

public:
    // The history store is the user's own (networks.json in the data folder).
    ContentView(HelperClient& client, HelperInstaller& installer, Localizer& localizer,
                QSettings& settings, QWidget* parent = nullptr);
    ~ContentView() override;
    ContentView(const ContentView&) = delete;
    ContentView& operator=(const ContentView&) = delete;

    ContentController& controller() const { return *m_controller; }
    GatewayManager& manager() const { return *m_manager; }
    NetworkProfileStore& store() const { return *m_store; }

    QLabel* titleLabel() const { return m_title; }
    SegmentedPicker* languagePicker() const { return m_picker; }
    ErrorBanner* errorBanner() const { return m_banner; }
    QLabel* networkIdLabel() const { return m_networkIdLabel; }
    QLineEdit* networkIdField() const { return m_networkIdField; }
    HistoryButton* historyButton() const { return m_historyButton; }
    MainButton* mainButton() const { return m_mainButton; }
    ToggleSwitch* natSwitch() const { return m_natSwitch; }
    // Made on first use: it is not needed for the window to appear.
    HistoryPopover* historyPopover() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildLayout();
    void retranslate();
    void refresh();
    void showPopover(bool show);
    void applySecondaryColors();

    Localizer& m_localizer;
    std::unique_ptr<GatewayManager> m_manager;
    std::unique_ptr<NetworkProfileStore> m_store;
    std::unique_ptr<ContentController> m_controller;
    std::unique_ptr<HistoryRecorder> m_recorder;

    QLabel* m_title = nullptr;
    SegmentedPicker* m_picker = nullptr;
    ErrorBanner* m_banner = nullptr;
    QLabel* m_networkIdLabel = nullptr;
    QLineEdit* m_networkIdField = nullptr;
    HistoryButton* m_historyButton = nullptr;
    MainButton* m_mainButton = nullptr;
    QWidget* m_natRow = nullptr;
    ToggleSwitch* m_natSwitch = nullptr;
    ConnectionIndicator* m_indicator = nullptr;
    StatusGroupBox* m_statusBox = nullptr;
    mutable HistoryPopover* m_popover = nullptr;
};

} // namespace fernpoint
