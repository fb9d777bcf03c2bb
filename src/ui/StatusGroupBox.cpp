#include "StatusGroupBox.h"

#include "ElidedValueLabel.h"
#include "GatewayManager.h"
#include "Localizer.h"
#include "StatusDot.h"
#include "StatusPanelModel.h"
#include "StatusRow.h"
#include "TextIds.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace fernpoint {
namespace {

constexpr qreal kListPoints = 12.0;

PanelColor valueColor(StatusPanelModel::Emphasis emphasis) {
    switch (emphasis) {
    case StatusPanelModel::Emphasis::Positive:
        return PanelColor::Green;
    case StatusPanelModel::Emphasis::Muted:
        return PanelColor::Secondary;
    case StatusPanelModel::Emphasis::Normal:
        break;
    }
    return PanelColor::Primary;
}

QLabel* makeSecondaryLabel(QWidget* parent, qreal points) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(PanelStyle::systemFont(points));
    PanelStyle::applyTextColor(*label, PanelColor::Secondary);
    return label;
}

ElidedValueLabel* makeAddressLabel(QWidget* parent) {
    auto* label = new ElidedValueLabel(parent);
    label->setFont(PanelStyle::systemFont(kListPoints, true));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    PanelStyle::applyTextColor(*label, PanelColor::Primary);
    return label;
}

} // namespace

StatusGroupBox::StatusGroupBox(GatewayManager& manager, Localizer& localizer, QWidget* parent)
    : QGroupBox(parent)
    , m_manager(manager)
    , m_localizer(localizer) {
    // The box's own font draws its title; every child sets its own font explicitly.
    setFont(PanelStyle::headlineFont());

    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(0);

    m_empty = makeSecondaryLabel(this, PanelStyle::kBodyPoints);
    m_empty->setObjectName(QStringLiteral("emptyText"));
    m_empty->setWordWrap(true);
    m_empty->setContentsMargins(0, 8, 0, 8);
    outer->addWidget(m_empty);

    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("snapshot"));
    auto* stack = new QVBoxLayout(m_content);
    stack->setContentsMargins(0, 4, 0, 0);
    stack->setSpacing(8);
    for (int i = 0; i < StatusPanelModel::kRowCount; ++i) {
        auto* row = new StatusRow(m_content);
        m_rows.append(row);
        stack->addWidget(row);
    }
    m_endpointSection =
        makeSection(QStringLiteral("endpoints"), m_endpointHeading, m_endpointLayout);
    stack->addWidget(m_endpointSection);
    m_remoteSection =
        makeSection(QStringLiteral("remoteManagement"), m_remoteHeading, m_remoteLayout);
    stack->addWidget(m_remoteSection);
    outer->addWidget(m_content);
    outer->addStretch(1);

    connect(&m_manager, &GatewayManager::currentStatusChanged, this, &StatusGroupBox::refresh);
    connect(&m_localizer, &Localizer::languageChanged, this, &StatusGroupBox::refresh);
    refresh();
}

StatusGroupBox::~StatusGroupBox() = default;

QWidget* StatusGroupBox::makeSection(const QString& name, QLabel*& heading, QVBoxLayout*& lines) {
    auto* section = new QWidget(m_content);
    section->setObjectName(name);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(4);
    heading = makeSecondaryLabel(section, PanelStyle::kBodyPoints);
    heading->setObjectName(name + QStringLiteral("Heading"));
    layout->addWidget(heading);
    lines = layout;
    section->hide();
    return section;
}

void StatusGroupBox::refresh() {
    setTitle(m_localizer.text(textid::kNetworkStatusTitle));
    const std::optional<GatewayStatusDetail>& status = m_manager.currentStatus();
    m_empty->setVisible(!status);
    m_content->setVisible(status.has_value());
    if (!status) {
        m_empty->setText(m_localizer.text(textid::kNetworkStatusEmpty));
        return;
    }
    const Localizer& localizer = m_localizer;
    const StatusPanelModel model(
        *status, [&localizer](QAnyStringView id) { return localizer.processText(id); });
    showSnapshot(model);
}

void StatusGroupBox::showSnapshot(const StatusPanelModel& model) {
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        const StatusPanelModel::Row& row = model.rows().at(i);
        m_rows.at(i)->setContent(m_localizer.text(row.titleId), row.value,
                                 valueColor(row.emphasis));
    }
    showEndpoints(model);
    showRemoteManagement(model);
}

void StatusGroupBox::showEndpoints(const StatusPanelModel& model) {
    const QList<StatusPanelModel::Endpoint>& endpoints = model.endpoints();
    m_endpointSection->setVisible(!endpoints.isEmpty());
    m_endpointHeading->setText(m_localizer.text(textid::kStatusRowEndpointsTitle));
    while (m_endpointLines.size() < endpoints.size())
        m_endpointLines.append(makeEndpointLine());
    while (m_endpointLines.size() > endpoints.size())
        delete m_endpointLines.takeLast().line;
    for (qsizetype i = 0; i < endpoints.size(); ++i) {
        const EndpointLine& line = m_endpointLines.at(i);
        line.dot->setColor(endpoints.at(i).reachable ? PanelColor::Green : PanelColor::Red);
        line.address->setFullText(endpoints.at(i).address);
        line.address->setAccessibleName(endpoints.at(i).address);
    }
}

void StatusGroupBox::showRemoteManagement(const StatusPanelModel& model) {
    const QList<QString>& entries = model.remoteManagement();
    m_remoteSection->setVisible(!entries.isEmpty());
    m_remoteHeading->setText(m_localizer.text(textid::kStatusRowRemoteMgmtTitle));
    while (m_remoteLines.size() < entries.size()) {
        ElidedValueLabel* line = makeAddressLabel(m_remoteSection);
        m_remoteLayout->addWidget(line);
        m_remoteLines.append(line);
    }
    while (m_remoteLines.size() > entries.size())
        delete m_remoteLines.takeLast();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        m_remoteLines.at(i)->setFullText(entries.at(i));
        m_remoteLines.at(i)->setAccessibleName(entries.at(i));
    }
}

StatusGroupBox::EndpointLine StatusGroupBox::makeEndpointLine() {
    EndpointLine made;
    made.line = new QWidget(m_endpointSection);
    auto* layout = new QHBoxLayout(made.line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    made.dot = new StatusDot(8, made.line);
    made.address = makeAddressLabel(made.line);
    layout->addWidget(made.dot, 0, Qt::AlignVCenter);
    layout->addWidget(made.address, 1);
    m_endpointLayout->addWidget(made.line);
    return made;
}

} // namespace fernpoint
