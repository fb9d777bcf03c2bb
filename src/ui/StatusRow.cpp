#include "StatusRow.h"

#include "ElidedValueLabel.h"

#include <QHBoxLayout>
#include <QLabel>

namespace fernpoint {

StatusRow::StatusRow(QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(this))
    , m_value(new ElidedValueLabel(this)) {
    const QFont font = PanelStyle::systemFont(13.0);
    m_title->setFont(font);
    m_title->setTextFormat(Qt::PlainText);
    // The title keeps its full width; a long value gives way and is elided instead.
    m_title->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    PanelStyle::applyTextColor(*m_title, PanelColor::Secondary);
    m_value->setFont(font);
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(m_title);
    layout->addWidget(m_value, 1);
}

void StatusRow::setContent(const QString& title, const QString& value, PanelColor valueColor) {
    m_title->setText(title);
    m_value->setFullText(value);
    m_valueColor = valueColor;
    PanelStyle::applyTextColor(*m_value, valueColor);
    const QString spoken = title + QStringLiteral(": ") + value;
    setAccessibleName(spoken);
    m_value->setAccessibleName(spoken);
}

QString StatusRow::title() const {
    return m_title->text();
}

QString StatusRow::value() const {
    return m_value->fullText();
}

} // namespace fernpoint
