#pragma once

#include "CtlRequest.h"
#include "ExitStatus.h"
#include "HelperClient.h"
#include "TerminalText.h"

#include <QObject>
#include <QString>

#include <optional>

class QTimer;

namespace fernpoint {

class UnixSignalWatcher;

// Carries out one fernpointctl request on the event loop: asks the helper, prints the outcome
// and announces the exit status once. Everything that decides something (the Network ID rule,
// what a status reply means, the texts) is the application's own code.
class CommandRunner final : public QObject {
    Q_OBJECT

public:
    CommandRunner(HelperClient& client, TextLookup lookup, QObject* parent = nullptr);
    ~CommandRunner() override;

    // Call with the event loop running or about to run; finished() follows later, exactly once.
    void start(const CtlRequest& request);

Q_SIGNALS:
    void finished(int exitStatus);

private:
    void showStatus(bool asJson);
    void connectGateway(const QString& networkIDAsGiven, std::optional<bool> nat);
    void startGateway(const QString& networkID, bool nat);
    void disconnectGateway();
    void changeNat(bool enabled);
    void showHistory();
    void watch();
    void pollForWatch();

    // Runs the step on this object's thread, whatever thread the helper client completes on.
    template<typename T>
    HelperCompletion<T> onMainThread(std::function<void(HelperResult<T>)> step);
    void finishCommand(const HelperResult<Nothing>& result);
    void failWith(const HelperClientError& error);
    void refuse(const QString& line);
    void finish(ExitStatus status);

    HelperClient& m_client;
    TextLookup m_lookup;
    bool m_finished = false;
    QTimer* m_watchTimer = nullptr;
    UnixSignalWatcher* m_interrupts = nullptr;
    std::optional<QString> m_lastWatchLine;
};

} // namespace fernpoint
