#include "NetworkIdText.h"

#include <QTextBoundaryFinder>

namespace fernpoint {
namespace {

bool isWhitespaceOrNewline(char32_t c) {
    switch (c) {
    case 0x0009:
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return QChar::category(c) == QChar::Separator_Space;
    }
}

bool isSpaceOrTab(char32_t c) {
    return c == 0x0009 || QChar::category(c) == QChar::Separator_Space;
}

// Trims whole code points (a surrogate pair is one code point) from both ends.
template<typename Predicate> QString trimmed(const QString& text, Predicate isTrimmed) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end) {
        const bool pair = begin + 1 < end && text.at(begin).isHighSurrogate() &&
                          text.at(begin + 1).isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(text.at(begin), text.at(begin + 1))
                                : text.at(begin).unicode();
        if (!isTrimmed(c))
            break;
        begin += pair ? 2 : 1;
    }
    while (end > begin) {
        const bool pair = end - 2 >= begin && text.at(end - 1).isLowSurrogate() &&
                          text.at(end - 2).isHighSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(text.at(end - 2), text.at(end - 1))
                                : text.at(end - 1).unicode();
        if (!isTrimmed(c))
            break;
        end -= pair ? 2 : 1;
    }
    return text.mid(begin, end - begin);
}

} // namespace

QString trimmedWhitespaceAndNewlines(const QString& text) {
    return trimmed(text, isWhitespaceOrNewline);
}

QString trimmedSpacesAndTabs(const QString& text) {
    return trimmed(text, isSpaceOrTab);
}

int graphemeCount(const QString& text) {
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool hasNetworkIdLength(const QString& text) {
    // A cheap bound first: every grapheme takes at least one UTF-16 unit.
    if (text.size() < kNetworkIdLength)
        return false;
    return graphemeCount(text) == kNetworkIdLength;
}

} // namespace fernpoint
