#pragma once

#include <QString>
#include <QStringView>

namespace fernpoint {

// A Network ID is accepted when it has exactly this many user-perceived characters.
inline constexpr int kNetworkIdLength = 16;

// What the user reads when a Network ID is refused for its length; the window and the terminal
// program show the same words.
inline constexpr QStringView kNetworkIdLengthMessage = u"Network ID 必须是 16 位十六进制字符串";

// Removes white space and line breaks (Unicode White_Space: the space separators, U+0009..U+000D,
// U+0085, U+2028, U+2029) from both ends. The rule of the controller and the history store.
QString trimmedWhitespaceAndNewlines(const QString& text);

// Removes only the Unicode space separators (category Zs) and the horizontal tab from both ends;
// line breaks stay. The narrower rule of the window.
QString trimmedSpacesAndTabs(const QString& text);

// Number of user-perceived characters (extended grapheme clusters), not bytes or UTF-16 units.
int graphemeCount(const QString& text);

// True when the text has exactly kNetworkIdLength user-perceived characters.
bool hasNetworkIdLength(const QString& text);

} // namespace fernpoint
