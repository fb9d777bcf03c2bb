#include "ErrorBanner.h"

#include "PanelStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

namespace fernpoint {
namespace {
constexpr int kSpacing = 6;
const QColor kBannerRed(0xd7, 0x26, 0x1e);
} // namespace

ErrorBanner::ErrorBanner(QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    hide();
}

void ErrorBanner::setMessage(const std::optional<QString>& message) {
    // The window passes the message on every change of any field, several times per status poll:
    // an unchanged banner must not relayout, repaint or re-announce itself to a screen reader.
    if (message == m_message && isHidden() != message.has_value())
        return;
    m_message = message;
    setVisible(message.has_value());
    // The full text stays reachable when the banner elides it.
    setToolTip(message.value_or(QString()));
    setAccessibleDescription(message.value_or(QString()));
    updateGeometry();
    update();
}

int ErrorBanner::iconSize() const {
    return qMax(16, fontMetrics().height());
}

int ErrorBanner::textWidthFor(int width) const {
    return qMax(1, width - 2 * kPadding - iconSize() - kSpacing);
}

QStringList ErrorBanner::linesFor(int textWidth) const {
    if (!m_message || m_message->isEmpty())
        return {};
    QString text = *m_message;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (int i = 0; i < kMaximumLines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(textWidth);
        lines.append(text.mid(line.textStart(), line.textLength()));
    }
    const QTextLine extra = layout.createLine();
    layout.endLayout();
    if (extra.isValid() && !lines.isEmpty()) {
        // The last shown line takes the rest of the text and is elided at the end.
        QString rest = text.mid(layout.lineAt(kMaximumLines - 1).textStart());
        rest.replace(QChar::LineSeparator, QLatin1Char(' '));
        lines.last() = fontMetrics().elidedText(rest, Qt::ElideRight, textWidth);
    }
    for (QString& line : lines) {
        while (line.endsWith(QChar::LineSeparator))
            line.chop(1);
    }
    return lines;
}

QStringList ErrorBanner::visibleLines() const {
    return linesFor(textWidthFor(width()));
}

int ErrorBanner::heightForWidth(int width) const {
    const qsizetype lineCount = linesFor(textWidthFor(width)).size();
    const int textHeight = static_cast<int>(lineCount) * fontMetrics().lineSpacing();
    return 2 * kPadding + qMax(iconSize(), textHeight);
}

QSize ErrorBanner::sizeHint() const {
    const int width = 360;
    return {width, heightForWidth(width)};
}

QSize ErrorBanner::minimumSizeHint() const {
    return {2 * kPadding + iconSize() + kSpacing + fontMetrics().averageCharWidth() * 4,
            2 * kPadding + iconSize()};
}

void ErrorBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QColor fill = kBannerRed;
    fill.setAlphaF(kFillOpacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);

    const QStringList lines = visibleLines();
    const int lineSpacing = fontMetrics().lineSpacing();
    const int textHeight = static_cast<int>(lines.size()) * lineSpacing;
    const int contentHeight = qMax(iconSize(), textHeight);
    const int top = (height() - contentHeight) / 2;

    if (m_icon.isNull())
        m_icon = PanelStyle::icon(QStringLiteral("exclamation-circle"), QString(), Qt::white);
    const QIcon& icon = m_icon;
    const int iconTop = top + (contentHeight - iconSize()) / 2;
    icon.paint(&painter, QRect(kPadding, iconTop, iconSize(), iconSize()));

    painter.setPen(QColor(Qt::white));
    const int textLeft = kPadding + iconSize() + kSpacing;
    const int textWidth = textWidthFor(width());
    int y = top + (contentHeight - textHeight) / 2;
    for (const QString& line : lines) {
        painter.drawText(QRect(textLeft, y, textWidth, lineSpacing),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
        y += lineSpacing;
    }
}

} // namespace fernpoint
