#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace fernpoint {

// One invocation of fernpointctl, as the command line asks for it.
struct CtlRequest {
    enum class Command {
        Help,
        ManPage,
        Status,
        StatusJson,
        Connect,
        Disconnect,
        Nat,
        History,
        Watch
    };

    Command command = Command::Help;
    // Connect: the Network ID exactly as given; the rules of the controller apply later.
    QString networkID;
    // Connect: --nat / --no-nat, absent when neither was given. Nat: on / off.
    std::optional<bool> nat;
};

// Either a request or why the command line is not one.
struct ParsedCommandLine {
    std::optional<CtlRequest> request;
    QString usageError; // one line, when there is no request
};

// The arguments after the program name.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

} // namespace fernpoint
