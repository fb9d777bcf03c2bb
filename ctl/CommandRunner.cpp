#include "CommandRunner.h"

#include "GatewayManager.h"
#include "HistoryFile.h"
#include "NetworkIdText.h"
#include "NetworkProfileStore.h"
#include "StatusReplyEffect.h"
#include "TerminalOutput.h"
#include "TextIds.h"
#include "UnixSignalWatcher.h"
#include "UsageText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <cmath>

namespace fernpoint {

CommandRunner::CommandRunner(HelperClient& client, TextLookup lookup, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_lookup(std::move(lookup)) {}

CommandRunner::~CommandRunner() = default;

void CommandRunner::start(const CtlRequest& request) {
    using Command = CtlRequest::Command;
    switch (request.command) {
    case Command::Help:
        TerminalOutput::write(UsageText::help());
        finish(ExitStatus::Success);
        return;
    case Command::ManPage:
        TerminalOutput::write(UsageText::manPage(QCoreApplication::applicationVersion()));
        finish(ExitStatus::Success);
        return;
    case Command::Status:
        showStatus(false);
        return;
    case Command::StatusJson:
        showStatus(true);
        return;
    case Command::Connect:
        connectGateway(request.networkID, request.nat);
        return;
    case Command::Disconnect:
        disconnectGateway();
        return;
    case Command::Nat:
        changeNat(request.nat.value_or(false));
        return;
    case Command::History:
        showHistory();
        return;
    case Command::Watch:
        watch();
        return;
    }
}

template<typename T>
HelperCompletion<T> CommandRunner::onMainThread(std::function<void(HelperResult<T>)> step) {
    QPointer<CommandRunner> self(this);
    return [self, step = std::move(step)](HelperResult<T> result) {
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self.data(),
            [self, step, result = std::move(result)] {
                if (self)
                    step(result);
            },
            Qt::AutoConnection);
    };
}

void CommandRunner::showStatus(bool asJson) {
    m_client.gatewayStatus(
        onMainThread<GatewayStatus>([this, asJson](HelperResult<GatewayStatus> result) {
            if (!result.isSuccess()) {
                failWith(result.error());
                return;
            }
            if (asJson) {
                const std::optional<QString>& text = result.value().statusJSON;
                if (!text) {
                    refuse(m_lookup(textid::kCtlStatusNoJson));
                    return;
                }
                // The helper's text untouched: D-Bus carries it as UTF-8, and so does the output.
                TerminalOutput::writeBytes(text->toUtf8() + '\n');
                finish(ExitStatus::Success);
                return;
            }
            const StatusReplyEffect effect = statusReplyEffect(result);
            if (effect.consoleLine)
                TerminalOutput::error(*effect.consoleLine);
            TerminalOutput::write(statusReport(effect, m_lookup));
            finish(ExitStatus::Success);
        }));
}

void CommandRunner::connectGateway(const QString& networkIDAsGiven, std::optional<bool> nat) {
    // The controller's rule: nothing reaches the helper unless the trimmed ID has the length.
    const QString networkID = trimmedWhitespaceAndNewlines(networkIDAsGiven);
    if (!hasNetworkIdLength(networkID)) {
        refuse(kNetworkIdLengthMessage.toString());
        return;
    }
    if (nat) {
        startGateway(networkID, *nat);
        return;
    }
    // The window connects with the NAT setting its last status showed; so does the terminal.
    m_client.gatewayStatus(
        onMainThread<GatewayStatus>([this, networkID](HelperResult<GatewayStatus> result) {
            if (!result.isSuccess()) {
                failWith(result.error());
                return;
            }
            // A status without a snapshot leaves the window's switch at its first value, off.
            startGateway(networkID, statusReplyEffect(result).natEnabled.value_or(false));
        }));
}

void CommandRunner::startGateway(const QString& networkID, bool nat) {
    m_client.startGateway(
        networkID, nat,
        onMainThread<Nothing>([this](HelperResult<Nothing> result) { finishCommand(result); }));
}

void CommandRunner::disconnectGateway() {
    m_client.stopGateway(
        onMainThread<Nothing>([this](HelperResult<Nothing> result) { finishCommand(result); }));
}

void CommandRunner::changeNat(bool enabled) {
    // The window takes no NAT change while the core runs or starts, judged by the last status;
    // the terminal has no last status, so it asks for one first.
    m_client.gatewayStatus(
        onMainThread<GatewayStatus>([this, enabled](HelperResult<GatewayStatus> result) {
            if (!result.isSuccess()) {
                failWith(result.error());
                return;
            }
            if (statusReplyEffect(result).uiRunning) {
                refuse(m_lookup(textid::kCtlNatRefusedRunning));
                return;
            }
            m_client.setNat(enabled, onMainThread<Nothing>([this](HelperResult<Nothing> reply) {
                                finishCommand(reply);
                            }));
        }));
}

void CommandRunner::showHistory() {
    const QString path = historyFilePath();
    const HistoryFileContent content = readHistoryFile(path);
    if (!content.profiles) {
        refuse(m_lookup(textid::kCtlHistoryUnreadable).arg(path, content.errorDescription));
        return;
    }
    TerminalOutput::write(historyReport(sortedNewestFirst(*content.profiles), m_lookup));
    finish(ExitStatus::Success);
}

void CommandRunner::watch() {
    m_interrupts = new UnixSignalWatcher(this);
    connect(m_interrupts, &UnixSignalWatcher::signalReceived, this,
            [this] { finish(ExitStatus::Success); });
    // The window's period; a precise timer never fires early.
    m_watchTimer = new QTimer(this);
    m_watchTimer->setTimerType(Qt::PreciseTimer);
    m_watchTimer->setInterval(
        static_cast<int>(std::lround(GatewayManager::kPollingIntervalSeconds * 1000.0)));
    connect(m_watchTimer, &QTimer::timeout, this, &CommandRunner::pollForWatch);
    m_watchTimer->start();
    // Unlike the window, the first state is shown at once rather than one period later.
    pollForWatch();
}

void CommandRunner::pollForWatch() {
    m_client.gatewayStatus(onMainThread<GatewayStatus>([this](HelperResult<GatewayStatus> result) {
        if (m_finished)
            return;
        const StatusReplyEffect effect = statusReplyEffect(result);
        const QString line = watchStateLine(effect, m_lookup);
        if (m_lastWatchLine == line)
            return;
        m_lastWatchLine = line;
        if (effect.consoleLine)
            TerminalOutput::error(*effect.consoleLine);
        const QString time =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        TerminalOutput::write(time + QStringLiteral("  ") + line + QLatin1Char('\n'));
    }));
}

void CommandRunner::finishCommand(const HelperResult<Nothing>& result) {
    if (result.isSuccess())
        finish(ExitStatus::Success);
    else
        failWith(result.error());
}

void CommandRunner::failWith(const HelperClientError& error) {
    TerminalOutput::error(error.errorLine());
    finish(error.isXpcError() ? ExitStatus::Unreachable : ExitStatus::Refused);
}

void CommandRunner::refuse(const QString& line) {
    TerminalOutput::error(line);
    finish(ExitStatus::Refused);
}

void CommandRunner::finish(ExitStatus status) {
    if (m_finished)
        return;
    m_finished = true;
    if (m_watchTimer)
        m_watchTimer->stop();
    Q_EMIT finished(exitCode(status));
}

} // namespace fernpoint
