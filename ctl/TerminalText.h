#pragma once

#include "NetworkProfile.h"
#include "StatusReplyEffect.h"

#include <QAnyStringView>
#include <QList>
#include <QString>

#include <functional>

namespace fernpoint {

// What fernpointctl prints, as text. The words come from the interface string tables through the
// lookup, in the language of the process.
using TextLookup = std::function<QString(QAnyStringView id)>;

// The indicator line, the status group (nine rows, or the empty text when there is no
// snapshot), the endpoints and the remote management addresses, as the window shows them.
// For an answered request only; each line ends with a newline.
QString statusReport(const StatusReplyEffect& effect, const TextLookup& lookup);

// One line without the time: the indicator text with the connection state, the core state and
// the peers, or the empty text, or the error line of a failed request. Two polls that give the
// same line are the same state.
QString watchStateLine(const StatusReplyEffect& effect, const TextLookup& lookup);

// A heading line and one line per network, in the given order; the empty text when there is
// none. Each line ends with a newline.
QString historyReport(const QList<NetworkProfile>& profiles, const TextLookup& lookup);

// A history time (seconds since 2001-01-01 UTC) as local "yyyy-MM-dd HH:mm:ss"; "-" when it
// cannot be a date.
QString lastUsedText(double lastUsedAt);

// Columns the text takes in a terminal: East Asian wide and fullwidth characters take two,
// combining marks none.
int terminalWidth(const QString& text);

} // namespace fernpoint
