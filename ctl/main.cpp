// fernpointctl: the gateway from a terminal, over the same helper client as the window.

#include "CommandRunner.h"
#include "CtlRequest.h"
#include "DBusHelperClient.h"
#include "ExitStatus.h"
#include "HelperClient.h"
#include "HelperContract.h"
#include "Localizer.h"
#include "TerminalOutput.h"
#include "UsageText.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

bool g_verbose = false;

// The libraries write their own diagnostics (connection drops, missing tables); the terminal
// reports each failure in one line of its own, so those stay quiet unless asked for.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (!g_verbose && type != QtCriticalMsg && type != QtFatalMsg)
        return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fernpointctl"));
    QCoreApplication::setApplicationVersion(QString(fernpoint::contract::kVersion));
    g_verbose = qEnvironmentVariable("FERNPOINTCTL_VERBOSE") == QLatin1StringView("1");
    qInstallMessageHandler(quietMessages);

    const fernpoint::ParsedCommandLine parsed =
        fernpoint::parseCommandLine(QCoreApplication::arguments().mid(1));
    if (!parsed.request) {
        fernpoint::TerminalOutput::error(QStringLiteral("fernpointctl: ") + parsed.usageError +
                                         QStringLiteral("; ") +
                                         fernpoint::UsageText::seeHelpHint());
        return fernpoint::exitCode(fernpoint::ExitStatus::Usage);
    }

    // Only someone at a terminal can answer a password prompt.
    if (auto* client =
            dynamic_cast<fernpoint::DBusHelperClient*>(&fernpoint::HelperClient::shared()))
        client->setInteractiveAuthorizationAllowed(::isatty(STDIN_FILENO) == 1);

    const fernpoint::Localizer localizer;
    fernpoint::CommandRunner runner(
        fernpoint::HelperClient::shared(),
        [&localizer](QAnyStringView id) { return localizer.processText(id); });
    QObject::connect(&runner, &fernpoint::CommandRunner::finished, &app,
                     [](int exitStatus) { QCoreApplication::exit(exitStatus); });
    // Started from inside the loop, so that a command finishing at once still ends it.
    QTimer::singleShot(0, &runner, [&runner, &parsed] { runner.start(*parsed.request); });
    return QCoreApplication::exec();
}
