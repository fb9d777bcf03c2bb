#include "HelperCommandLine.h"

namespace fernpoint {
namespace {

// Accepts "--name value" and "--name=value"; returns false when the value is missing.
bool takeValue(const QStringList& arguments, qsizetype& index, const QString& name,
               QString& value) {
    const QString& argument = arguments.at(index);
    const QString prefix = name + QLatin1Char('=');
    if (argument.startsWith(prefix)) {
        value = argument.mid(prefix.size());
        return true;
    }
    if (index + 1 >= arguments.size())
        return false;
    value = arguments.at(++index);
    return true;
}

bool matches(const QString& argument, QLatin1StringView name) {
    return argument == name || argument.startsWith(name + QLatin1Char('='));
}

bool parseMilliseconds(const QString& text, int& out) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > 24 * 3600 * 1000)
        return false;
    out = value;
    return true;
}

} // namespace

HelperCommandLine HelperCommandLine::parse(const QStringList& arguments) {
    HelperCommandLine result;
    bool modeGiven = false;
    auto setMode = [&](Mode mode) {
        if (modeGiven && result.mode != mode)
            result.error =
                QStringLiteral("choose only one of --install, --uninstall, --help, --version");
        result.mode = mode;
        modeGiven = true;
    };
    // arguments[0] is the program itself.
    for (qsizetype i = 1; i < arguments.size() && result.error.isEmpty(); ++i) {
        const QString& argument = arguments.at(i);
        QString value;
        if (argument == QLatin1StringView("--install")) {
            setMode(Mode::Install);
        } else if (argument == QLatin1StringView("--uninstall")) {
            setMode(Mode::Uninstall);
        } else if (argument == QLatin1StringView("--help") || argument == QLatin1StringView("-h")) {
            setMode(Mode::Help);
        } else if (argument == QLatin1StringView("--version")) {
            setMode(Mode::Version);
        } else if (argument == QLatin1StringView("--no-authorization")) {
            result.noAuthorization = true;
        } else if (matches(argument, QLatin1StringView("--root"))) {
            if (!takeValue(arguments, i, QStringLiteral("--root"), value) || value.isEmpty())
                result.error = QStringLiteral("--root needs a folder");
            result.root = value;
            result.rootGiven = true;
        } else if (matches(argument, QLatin1StringView("--step-delay-ms"))) {
            if (!takeValue(arguments, i, QStringLiteral("--step-delay-ms"), value) ||
                !parseMilliseconds(value, result.stepDelayMs))
                result.error = QStringLiteral("--step-delay-ms needs a number of milliseconds");
        } else if (matches(argument, QLatin1StringView("--authorization-timeout-ms"))) {
            if (!takeValue(arguments, i, QStringLiteral("--authorization-timeout-ms"), value) ||
                !parseMilliseconds(value, result.authorizationTimeoutMs) ||
                result.authorizationTimeoutMs == 0)
                result.error = QStringLiteral(
                    "--authorization-timeout-ms needs a positive number of milliseconds");
        } else {
            result.error = QStringLiteral("unknown argument: ") + argument;
        }
    }
    if (result.error.isEmpty() && result.rootGiven && result.mode == Mode::Serve)
        result.error = QStringLiteral("--root is only used with --install or --uninstall");
    if (result.error.isEmpty() && result.noAuthorization && result.mode != Mode::Serve)
        result.error = QStringLiteral("--no-authorization is only used when serving");
    return result;
}

QString HelperCommandLine::usage() {
    return QStringLiteral(
        "Usage: fernpoint-helper [options]\n"
        "Serves the FernPoint gateway helper on the system bus.\n"
        "\n"
        "  --install [--root DIR]        install this program and its system files (as root)\n"
        "  --uninstall [--root DIR]      remove them again (as root)\n"
        "  --step-delay-ms N             delay of each step of the simulated core (default 1500)\n"
        "  --authorization-timeout-ms N  longest wait for polkit when a person may be asked\n"
        "                                (default 45000; other checks wait 20000 at most)\n"
        "  --no-authorization            allow every caller: private test buses only\n"
        "  --version                     print the helper version\n");
}

} // namespace fernpoint
