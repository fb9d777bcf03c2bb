#include "ContentView.h"

#include "AccessibleWidgets.h"
#include "ConnectionIndicator.h"
#include "ContentController.h"
#include "ErrorBanner.h"
#include "HistoryButton.h"
#include "HistoryPopover.h"
#include "Localizer.h"
#include "MainButton.h"
#include "PanelStyle.h"
#include "SegmentedPicker.h"
#include "StatusGroupBox.h"
#include "TextIds.h"
#include "ToggleSwitch.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>

namespace fernpoint {
namespace {

constexpr int kRootMargin = 20;
constexpr int kRowSpacing = 16;
constexpr int kPickerWidth = 320;
constexpr int kFieldMaximumWidth = 320;
constexpr int kNatRowMaximumWidth = 380;
constexpr qreal kTitlePoints = 17.0;

} // namespace

ContentView::ContentView(ContentController& controller, QWidget* parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_localizer(controller.localizer()) {
    installAccessibleWidgets();
    buildLayout();

    connect(&m_controller, &ContentController::stateChanged, this, &ContentView::refresh);
    connect(&m_localizer, &Localizer::languageChanged, this, &ContentView::retranslate);
    connect(&m_controller, &ContentController::showHistoryPopoverChanged, this,
            &ContentView::showPopover);

    connect(m_picker, &SegmentedPicker::segmentChosen, &m_controller,
            &ContentController::chooseLanguage);
    // Every change of the text, typed or set through the accessibility interface (a screen
    // reader, voice control); the controller's own value written back is no edit.
    connect(m_networkIdField, &QLineEdit::textChanged, &m_controller, [this](const QString& text) {
        if (text != m_controller.networkID())
            m_controller.editNetworkID(text);
    });
    connect(m_historyButton, &QAbstractButton::clicked, &m_controller,
            &ContentController::pressHistoryButton);
    connect(m_mainButton, &QAbstractButton::clicked, &m_controller,
            &ContentController::pressMainButton);
    // clicked, not toggled: only the user's changes go through the guarded write.
    connect(m_natSwitch, &QAbstractButton::clicked, &m_controller, &ContentController::changeNat);

    retranslate();
    refresh();
}

void ContentView::buildLayout() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(kRootMargin, kRootMargin, kRootMargin, kRootMargin);
    root->setSpacing(kRowSpacing);

    // Header: title, then the language picker at the trailing edge.
    auto* header = new QHBoxLayout;
    m_title = new QLabel(this);
    QFont titleFont = PanelStyle::systemFont(kTitlePoints);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    m_picker = new SegmentedPicker(this);
    m_picker->setObjectName(QStringLiteral("languagePicker"));
    m_picker->setFixedWidth(kPickerWidth);
    header->addWidget(m_title, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(m_picker, 0, Qt::AlignVCenter);
    root->addLayout(header);

    m_banner = new ErrorBanner(this);
    m_banner->setObjectName(QStringLiteral("errorBanner"));
    root->addWidget(m_banner);

    // Connection row: the labelled field with the history button, and the main button, all
    // sitting on one baseline at the bottom.
    auto* connection = new QHBoxLayout;
    connection->setSpacing(12);
    auto* fieldColumn = new QVBoxLayout;
    fieldColumn->setSpacing(6);
    m_networkIdLabel = new QLabel(this);
    m_networkIdLabel->setFont(PanelStyle::subheadlineFont());
    PanelStyle::applyTextColor(*m_networkIdLabel, PanelColor::Secondary);
    fieldColumn->addWidget(m_networkIdLabel);
    auto* fieldRow = new QHBoxLayout;
    fieldRow->setSpacing(8);
    m_networkIdField = new QLineEdit(this);
    m_networkIdField->setObjectName(QStringLiteral("networkIdField"));
    const QFont mono = PanelStyle::systemFont(PanelStyle::kBodyPoints, true);
    m_networkIdField->setFont(mono);
    m_networkIdField->setMaximumWidth(kFieldMaximumWidth);
    m_networkIdField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_networkIdField->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                                          Qt::ImhPreferLatin);
    m_networkIdLabel->setBuddy(m_networkIdField);
    m_historyButton = new HistoryButton(this);
    m_historyButton->setObjectName(QStringLiteral("historyButton"));
    fieldRow->addWidget(m_networkIdField, 1);
    fieldRow->addWidget(m_historyButton, 0, Qt::AlignVCenter);
    fieldColumn->addLayout(fieldRow);
    connection->addLayout(fieldColumn, 1);
    m_mainButton = new MainButton(this);
    m_mainButton->setObjectName(QStringLiteral("mainButton"));
    connection->addWidget(m_mainButton, 0, Qt::AlignBottom);
    root->addLayout(connection);

    // NAT row: the switch centred in a row of limited width.
    m_natRow = new QWidget(this);
    m_natRow->setMaximumWidth(kNatRowMaximumWidth);
    auto* natLayout = new QHBoxLayout(m_natRow);
    natLayout->setContentsMargins(0, 0, 0, 0);
    m_natSwitch = new ToggleSwitch(m_natRow);
    m_natSwitch->setObjectName(QStringLiteral("natSwitch"));
    natLayout->addStretch(1);
    natLayout->addWidget(m_natSwitch);
    natLayout->addStretch(1);
    // The row takes the whole width up to its maximum, at the leading edge; the switch sits in
    // its middle.
    root->addWidget(m_natRow);

    m_indicator = new ConnectionIndicator(m_controller.manager(), m_localizer, this);
    root->addWidget(m_indicator, 0, Qt::AlignLeft);
    m_statusBox = new StatusGroupBox(m_controller.manager(), m_localizer, this);
    root->addWidget(m_statusBox);
    root->addStretch(1);

    setTabOrder(m_picker, m_networkIdField);
    setTabOrder(m_networkIdField, m_historyButton);
    setTabOrder(m_historyButton, m_mainButton);
    setTabOrder(m_mainButton, m_natSwitch);
}

void ContentView::retranslate() {
    const Localizer& l = m_localizer;
    m_title->setText(l.text(textid::kAppTitle));

    QStringList segments;
    for (const ContentController::LanguageSegment& segment : ContentController::languageSegments())
        segments.append(l.text(segment.textId));
    m_picker->setSegmentTexts(segments);
    m_picker->setAccessibleName(l.text(textid::kLanguagePickerAccessibleName));

    m_banner->setAccessibleName(l.text(textid::kErrorBannerAccessibleName));

    m_networkIdLabel->setText(l.text(textid::kNetworkIdLabel));
    m_networkIdField->setPlaceholderText(l.text(textid::kNetworkIdPlaceholder));
    // Room for a whole ID and the whole placeholder, but never wider than the design allows.
    const QFontMetrics fieldMetrics(m_networkIdField->font());
    const int idWidth = fieldMetrics.horizontalAdvance(QString(18, QLatin1Char('0')));
    const int placeholderWidth =
        fieldMetrics.horizontalAdvance(m_networkIdField->placeholderText()) + 24;
    m_networkIdField->setMinimumWidth(qMin(kFieldMaximumWidth, qMax(idWidth, placeholderWidth)));
    m_networkIdField->setAccessibleName(l.text(textid::kNetworkIdLabel));
    m_networkIdField->setAccessibleDescription(l.text(textid::kNetworkIdAccessibleDescription));

    m_historyButton->setText(l.text(textid::kHistoryButton));
    m_historyButton->setAccessibleName(l.text(textid::kHistoryButton));
    m_historyButton->setAccessibleDescription(l.text(textid::kHistoryButtonAccessibleDescription));
    m_historyButton->updateGeometry();

    m_mainButton->setReservedTexts(
        {l.text(textid::kButtonConnect), l.text(textid::kButtonDisconnect)});

    m_natSwitch->setText(l.text(textid::kNatToggleTitle));
    m_natSwitch->setAccessibleName(l.text(textid::kNatToggleTitle));
    m_natSwitch->setAccessibleDescription(l.text(textid::kNatToggleAccessibleDescription));
    m_natSwitch->updateGeometry();

    refresh();
}

void ContentView::refresh() {
    const ContentController& c = m_controller;

    m_picker->setSelectedIndex(c.selectedLanguageIndex());
    m_banner->setMessage(c.bannerText());

    // Written back only when it differs, so typing keeps its cursor position.
    if (m_networkIdField->text() != c.networkID())
        m_networkIdField->setText(c.networkID());

    const QString mainText = m_localizer.text(c.mainButtonDisconnects() ? textid::kButtonDisconnect
                                                                        : textid::kButtonConnect);
    m_mainButton->setText(mainText);
    // Setting a name announces it to a screen reader even when it is the same one.
    if (m_mainButton->accessibleName() != mainText)
        m_mainButton->setAccessibleName(mainText);
    m_mainButton->setDestructive(c.mainButtonDisconnects());
    m_mainButton->setBusy(c.showsBusyIndicator());
    m_mainButton->setEnabled(c.mainButtonEnabled());

    m_natSwitch->setChecked(c.natSwitchChecked());
    m_natSwitch->setEnabled(c.natSwitchEnabled());
    m_natSwitch->setSecondaryLabel(!c.natSwitchEnabled());
}

void ContentView::showPopover(bool show) {
    if (show && !m_popover) {
        // Its history rows and icons cost start-up time; it is built when first opened.
        m_popover =
            new HistoryPopover(m_controller.store(), m_controller.manager(), m_localizer, this);
        m_popover->setObjectName(QStringLiteral("historyPopover"));
        // A click on the history button while the popover is open only closes it; replaying that
        // press would open it again at once.
        m_popover->setAttribute(Qt::WA_NoMouseReplay);
        connect(m_popover, &HistoryPopover::closed, &m_controller,
                [this] { m_controller.setShowHistoryPopover(false); });
    }
    if (show)
        m_popover->showBelow(m_historyButton);
    else if (m_popover && m_popover->isVisible())
        m_popover->hide();
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Spontaneous show events come from the window system (mapping, restoring); the content
    // comes into view through our own show(), which sends the non-spontaneous one.
    if (!event->spontaneous())
        m_controller.appear();
}

} // namespace fernpoint
