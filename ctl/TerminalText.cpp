#include "TerminalText.h"

#include "HistoryActions.h"
#include "StatusPanelModel.h"
#include "TextIds.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace fernpoint {
namespace {

const QLatin1StringView kIndent("  ");
const QLatin1StringView kColumnGap("  ");
// The window draws a green or grey dot before the indicator and a green or red one before each
// endpoint; a terminal may have no colour, so the shapes differ as well.
const QString kConnectedMark = QStringLiteral("●");
const QString kDisconnectedMark = QStringLiteral("○");
const QString kReachableMark = QStringLiteral("✓");
const QString kUnreachableMark = QStringLiteral("✗");

bool isWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

QString padded(const QString& text, int width) {
    return text + QString(std::max(0, width - terminalWidth(text)), QLatin1Char(' '));
}

int widest(const QStringList& texts) {
    int width = 0;
    for (const QString& text : texts)
        width = std::max(width, terminalWidth(text));
    return width;
}

// Texts from the helper or the history file go into one line of a table: control characters
// (line breaks, tabs, escapes) would break the line or drive the terminal, so they become spaces.
QString oneLine(QString text) {
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return text;
}

QString indicatorText(bool isRunning, const TextLookup& lookup) {
    return isRunning ? kConnectedMark + QLatin1Char(' ') + lookup(textid::kStatusConnected)
                     : kDisconnectedMark + QLatin1Char(' ') + lookup(textid::kStatusDisconnected);
}

} // namespace

QString statusReport(const StatusReplyEffect& effect, const TextLookup& lookup) {
    QString out = indicatorText(effect.isRunning, lookup) + QLatin1Char('\n');
    out += lookup(textid::kNetworkStatusTitle) + QLatin1Char('\n');
    if (!effect.snapshot) {
        out += kIndent + lookup(textid::kNetworkStatusEmpty) + QLatin1Char('\n');
        return out;
    }

    const StatusPanelModel rows(*effect.snapshot, lookup);
    QStringList titles;
    for (const StatusPanelModel::Row& row : rows.rows())
        titles.append(lookup(row.titleId));
    const int titleWidth = widest(titles);
    for (qsizetype i = 0; i < rows.rows().size(); ++i) {
        out += kIndent + padded(titles.at(i), titleWidth) + kColumnGap +
               oneLine(rows.rows().at(i).value) + QLatin1Char('\n');
    }
    // As in the window, an empty list shows nothing, not even its heading.
    if (!rows.endpoints().isEmpty()) {
        out += lookup(textid::kStatusRowEndpointsTitle) + QLatin1Char('\n');
        for (const StatusPanelModel::Endpoint& endpoint : rows.endpoints()) {
            out += kIndent + (endpoint.reachable ? kReachableMark : kUnreachableMark) +
                   QLatin1Char(' ') + oneLine(endpoint.address) + QLatin1Char('\n');
        }
    }
    if (!rows.remoteManagement().isEmpty()) {
        out += lookup(textid::kStatusRowRemoteMgmtTitle) + QLatin1Char('\n');
        for (const QString& address : rows.remoteManagement())
            out += kIndent + oneLine(address) + QLatin1Char('\n');
    }
    return out;
}

QString watchStateLine(const StatusReplyEffect& effect, const TextLookup& lookup) {
    if (effect.errorLine)
        return oneLine(*effect.errorLine);
    const QString indicator = indicatorText(effect.isRunning, lookup);
    if (!effect.snapshot)
        return indicator + kColumnGap + lookup(textid::kNetworkStatusEmpty);
    const GatewayStatusDetail& detail = *effect.snapshot;
    const auto field = [&lookup](const char* id, const QString& value) {
        return kColumnGap + lookup(id) + QStringLiteral(": ") + oneLine(value);
    };
    return indicator + field(textid::kStatusRowConnState, detail.statusText) +
           field(textid::kStatusRowCoreState, StatusPanelModel::optionalText(detail.coreState)) +
           field(textid::kStatusRowPeerCount, StatusPanelModel::integerText(detail.peerCount));
}

QString historyReport(const QList<NetworkProfile>& profiles, const TextLookup& lookup) {
    if (profiles.isEmpty())
        return lookup(textid::kHistoryEmpty) + QLatin1Char('\n');

    QStringList titles{lookup(textid::kCtlHistoryHeadingNetwork)};
    QStringList ids{lookup(textid::kNetworkIdLabel)};
    QStringList times{lookup(textid::kCtlHistoryHeadingLastUsed)};
    for (const NetworkProfile& profile : profiles) {
        titles.append(oneLine(HistoryActions::rowTitle(profile)));
        ids.append(oneLine(profile.networkID));
        times.append(lastUsedText(profile.lastUsedAt));
    }
    const int titleWidth = widest(titles);
    const int idWidth = widest(ids);
    QString out;
    for (qsizetype i = 0; i < titles.size(); ++i) {
        out += padded(titles.at(i), titleWidth) + kColumnGap + padded(ids.at(i), idWidth) +
               kColumnGap + times.at(i) + QLatin1Char('\n');
    }
    return out;
}

QString lastUsedText(double lastUsedAt) {
    const double seconds = lastUsedAt + kSecondsFrom1970To2001;
    // Years 1 to 9999 are the dates the format can show.
    constexpr double kFirst = -62135596800.0;
    constexpr double kLast = 253402300799.0;
    if (!std::isfinite(seconds) || seconds < kFirst || seconds > kLast)
        return QString(StatusPanelModel::kAbsentValue);
    const auto milliseconds = static_cast<qint64>(std::floor(seconds * 1000.0));
    return QDateTime::fromMSecsSinceEpoch(milliseconds)
        .toLocalTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

int terminalWidth(const QString& text) {
    int width = 0;
    for (const char32_t c : QStringView(text).toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing ||
            category == QChar::Other_Format)
            continue;
        width += isWide(c) ? 2 : 1;
    }
    return width;
}

} // namespace fernpoint
