#include "UsageText.h"

#include <QStringList>

#include <array>

namespace fernpoint {
namespace {

// One term of a section and what it means. The texts are ASCII so that the roff needs no
// encoding of its own.
struct Entry {
    const char* term;
    const char* description;
};

const char* const kName = "fernpointctl";
const char* const kSummary = "control the FernPoint gateway from a terminal";
const char* const kSynopsis = "fernpointctl <command> [arguments]";
const char* const kDescription =
    "Talks to the FernPoint gateway helper over the system bus, as the FernPoint window does, "
    "and applies the same rules. Texts follow the language of the process (LANGUAGE, LC_ALL, "
    "LC_MESSAGES, LANG): English, Simplified Chinese or Japanese.";

const std::array kCommands{
    Entry{"status",
          "Show whether the gateway is connected, the nine status rows (\"-\" for an absent "
          "value), the endpoints (a check mark when reachable, a cross when not) and the "
          "remote management addresses. Exits 0 whenever the helper answered, also when it "
          "sent no usable status."},
    Entry{"status --json",
          "Print the helper's status JSON text exactly as received, followed by one newline. When "
          "the helper sends no JSON text at all, print nothing on standard output, say so on "
          "standard error and exit 1, so that a script never parses an empty answer."},
    Entry{"connect <NetworkID> [--nat|--no-nat]",
          "Start the gateway for a network. The ID is trimmed of white space and line breaks and "
          "must then have 16 characters; otherwise nothing is sent and the exit status is 1. "
          "Without --nat or --no-nat the NAT setting the gateway reports is kept. Use "
          "\"connect -- <NetworkID>\" for an ID that begins with a dash."},
    Entry{"disconnect", "Stop the gateway."},
    Entry{"nat on|off",
          "Turn NAT on or off. Refused (exit status 1) while the gateway core is running or "
          "starting, as in the window: disconnect first."},
    Entry{"history",
          "List the networks used before, newest first: name and description, Network ID and the "
          "time of last use. Reads the history file and never changes it."},
    Entry{"watch",
          "Ask for the status every 5 seconds and print one line whenever the state changes: the "
          "time, connected or disconnected, the connection state, the core state and the peers, "
          "or the error line of a failed request. Runs until interrupted (Ctrl+C or SIGTERM), "
          "then exits 0."},
    Entry{"help, --help", "Show this text."},
};

const std::array kExitStatuses{
    Entry{"0", "Success."},
    Entry{"1", "Refused: the helper refused the request, the Network ID has the wrong length, NAT "
               "cannot change while the gateway runs, the helper sent no status JSON text (status "
               "--json), or the history file cannot be read."},
    Entry{"2", "The helper could not be reached, or its answer never came back."},
    Entry{"64", "Bad usage."},
};

const std::array kEnvironment{
    Entry{"DBUS_SYSTEM_BUS_ADDRESS", "The bus to find the helper on instead of the system bus."},
    Entry{"FERNPOINTCTL_VERBOSE",
          "When set to 1, diagnostic messages of the libraries are written to standard error as "
          "well; otherwise each failure is reported in exactly one line."},
};

const std::array kFiles{
    Entry{"$XDG_DATA_HOME/FernPoint/networks.json",
          "The networks used before, written by the FernPoint window (by default under "
          "~/.local/share)."},
};

constexpr int kLineWidth = 80;
constexpr int kTermColumn = 28; // where descriptions start in the help text

QString text(const char* ascii) {
    return QString::fromLatin1(ascii);
}

// Breaks the text at spaces into lines of at most `width` characters (longer words stay whole).
QStringList wrapped(const QString& paragraph, int width) {
    QStringList lines;
    QString line;
    const QStringList words = paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& word : words) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines.append(line);
            line.clear();
        }
        if (!line.isEmpty())
            line += QLatin1Char(' ');
        line += word;
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

template<std::size_t N>
QString helpSection(const char* title, const std::array<Entry, N>& entries) {
    QString out = text(title) + QStringLiteral(":\n");
    const QString indent(kTermColumn, QLatin1Char(' '));
    for (const Entry& entry : entries) {
        const QString term = QStringLiteral("  ") + text(entry.term);
        const QStringList lines = wrapped(text(entry.description), kLineWidth - kTermColumn);
        // A term too long for its column gets a line of its own.
        qsizetype first = 0;
        if (term.size() + 2 <= kTermColumn && !lines.isEmpty()) {
            out += term.leftJustified(kTermColumn) + lines.first() + QLatin1Char('\n');
            first = 1;
        } else {
            out += term + QLatin1Char('\n');
        }
        for (qsizetype i = first; i < lines.size(); ++i)
            out += indent + lines.at(i) + QLatin1Char('\n');
    }
    return out;
}

// Text for roff: backslashes and minus signs written out, and no line may begin with a control
// character.
QString roffEscaped(const QString& plain) {
    QString escaped;
    for (const QChar c : plain) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\e");
        else if (c == QLatin1Char('-'))
            escaped += QStringLiteral("\\-");
        else
            escaped += c;
    }
    if (escaped.startsWith(QLatin1Char('.')) || escaped.startsWith(QLatin1Char('\'')))
        escaped.prepend(QStringLiteral("\\&"));
    return escaped;
}

template<std::size_t N> QString manSection(const char* title, const std::array<Entry, N>& entries) {
    QString out = QStringLiteral(".SH \"") + text(title).toUpper() + QStringLiteral("\"\n");
    for (const Entry& entry : entries) {
        out += QStringLiteral(".TP\n.B ") + roffEscaped(text(entry.term)) + QLatin1Char('\n');
        out += roffEscaped(text(entry.description)) + QLatin1Char('\n');
    }
    return out;
}

} // namespace

QString UsageText::help() {
    QString out = QStringLiteral("Usage: ") + text(kSynopsis) + QStringLiteral("\n\n");
    for (const QString& line : wrapped(text(kDescription), kLineWidth))
        out += line + QLatin1Char('\n');
    out += QLatin1Char('\n') + helpSection("Commands", kCommands);
    out += QLatin1Char('\n') + helpSection("Exit status", kExitStatuses);
    out += QLatin1Char('\n') + helpSection("Environment", kEnvironment);
    out += QLatin1Char('\n') + helpSection("Files", kFiles);
    return out;
}

QString UsageText::manPage(const QString& version) {
    const QString name = text(kName);
    QString out = QStringLiteral(".TH ") + name.toUpper() + QStringLiteral(" 1 \"\" \"FernPoint ") +
                  roffEscaped(version) + QStringLiteral("\" \"User Commands\"\n");
    out += QStringLiteral(".SH NAME\n") + name + QStringLiteral(" \\- ") +
           roffEscaped(text(kSummary)) + QLatin1Char('\n');
    out += QStringLiteral(".SH SYNOPSIS\n.B ") + name +
           QStringLiteral("\n.I command\n.RI [ "
                          "arguments ]\n");
    out +=
        QStringLiteral(".SH DESCRIPTION\n") + roffEscaped(text(kDescription)) + QLatin1Char('\n');
    out += manSection("Commands", kCommands);
    out += manSection("Exit status", kExitStatuses);
    out += manSection("Environment", kEnvironment);
    out += manSection("Files", kFiles);
    return out;
}

QString UsageText::seeHelpHint() {
    return QStringLiteral("see '") + text(kName) + QStringLiteral(" --help'");
}

} // namespace fernpoint
