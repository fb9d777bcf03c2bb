#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

namespace fernpoint {

class ConnectionIndicator;
class ContentController;
class ErrorBanner;
class HistoryButton;
class HistoryPopover;
class Localizer;
class MainButton;
class SegmentedPicker;
class StatusGroupBox;
class ToggleSwitch;

// The content of the main window: header with the language picker, error banner, the connection
// form, the NAT switch and the status panel. It shows what the controller holds and hands the
// user's actions to it; a language change retranslates the texts in place. The controls carry
// object names ("languagePicker", "errorBanner", "networkIdField", "historyButton", "mainButton",
// "natSwitch", "historyPopover" once opened) for the accessibility tree and for tests.
class ContentView final : public QWidget {
    Q_OBJECT

public:
    // The controller, with its gateway manager and history store, outlives the view.
    explicit ContentView(ContentController& controller, QWidget* parent = nullptr);
    ContentView(const ContentView&) = delete;
    ContentView& operator=(const ContentView&) = delete;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void retranslate();
    void refresh();
    void showPopover(bool show);

    ContentController& m_controller;
    Localizer& m_localizer;

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
    // Made on first use: it is not needed for the window to appear.
    HistoryPopover* m_popover = nullptr;
};

} // namespace fernpoint
