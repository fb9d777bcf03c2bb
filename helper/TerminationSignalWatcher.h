#pragma once

#include <QObject>

class QSocketNotifier;

namespace fernpoint {

// Turns SIGTERM and SIGINT into a Qt signal on the event loop. The signal handler only writes one
// byte into a socket pair; everything else happens outside it.
class TerminationSignalWatcher final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignalWatcher(QObject* parent = nullptr);
    ~TerminationSignalWatcher() override;
    TerminationSignalWatcher(const TerminationSignalWatcher&) = delete;
    TerminationSignalWatcher& operator=(const TerminationSignalWatcher&) = delete;

    bool isActive() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace fernpoint
