#include "CtlRequest.h"

namespace fernpoint {
namespace {

ParsedCommandLine request(CtlRequest::Command command, QString networkID = {},
                          std::optional<bool> nat = std::nullopt) {
    return ParsedCommandLine{CtlRequest{command, std::move(networkID), nat}, {}};
}

ParsedCommandLine usageError(const QString& line) {
    return ParsedCommandLine{std::nullopt, line};
}

bool isOption(const QString& argument) {
    return argument.size() > 1 && argument.startsWith(QLatin1Char('-'));
}

ParsedCommandLine noArguments(CtlRequest::Command command, const QString& name,
                              const QStringList& rest) {
    if (!rest.isEmpty())
        return usageError(name + QStringLiteral(" takes no arguments, got '") + rest.first() +
                          QLatin1Char('\''));
    return request(command);
}

ParsedCommandLine parseConnect(const QStringList& rest) {
    std::optional<bool> nat;
    std::optional<QString> networkID;
    bool optionsEnded = false;
    for (const QString& argument : rest) {
        if (!optionsEnded && argument == QLatin1StringView("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && isOption(argument)) {
            const bool on = argument == QLatin1StringView("--nat");
            if (!on && argument != QLatin1StringView("--no-nat"))
                return usageError(QStringLiteral("connect: unknown option '") + argument +
                                  QLatin1Char('\''));
            if (nat && *nat != on)
                return usageError(QStringLiteral("connect: --nat and --no-nat exclude each other"));
            nat = on;
            continue;
        }
        if (networkID)
            return usageError(QStringLiteral("connect takes one Network ID, got '") + argument +
                              QStringLiteral("' as well"));
        networkID = argument;
    }
    if (!networkID)
        return usageError(QStringLiteral("connect needs a Network ID"));
    return request(CtlRequest::Command::Connect, *networkID, nat);
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"));
    // Help wins wherever it is asked for, so that "fernpointctl connect --help" helps.
    for (const QString& argument : arguments) {
        if (argument == QLatin1StringView("--"))
            break;
        if (argument == QLatin1StringView("--help") || argument == QLatin1StringView("-h"))
            return request(CtlRequest::Command::Help);
    }

    const QString& command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1StringView("help"))
        return noArguments(CtlRequest::Command::Help, command, rest);
    if (command == QLatin1StringView("--man"))
        return noArguments(CtlRequest::Command::ManPage, command, rest);
    if (command == QLatin1StringView("status")) {
        if (!rest.isEmpty() && rest.first() == QLatin1StringView("--json"))
            return noArguments(CtlRequest::Command::StatusJson, QStringLiteral("status --json"),
                               rest.mid(1));
        return noArguments(CtlRequest::Command::Status, command, rest);
    }
    if (command == QLatin1StringView("connect"))
        return parseConnect(rest);
    if (command == QLatin1StringView("disconnect"))
        return noArguments(CtlRequest::Command::Disconnect, command, rest);
    if (command == QLatin1StringView("nat")) {
        if (rest.size() == 1 &&
            (rest.first() == QLatin1StringView("on") || rest.first() == QLatin1StringView("off")))
            return request(CtlRequest::Command::Nat, {}, rest.first() == QLatin1StringView("on"));
        return usageError(QStringLiteral("nat needs exactly one of 'on' or 'off'"));
    }
    if (command == QLatin1StringView("history"))
        return noArguments(CtlRequest::Command::History, command, rest);
    if (command == QLatin1StringView("watch"))
        return noArguments(CtlRequest::Command::Watch, command, rest);
    return usageError(QStringLiteral("unknown command '") + command + QLatin1Char('\''));
}

} // namespace fernpoint
