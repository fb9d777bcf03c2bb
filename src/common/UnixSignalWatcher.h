#pragma once

#include <QObject>

class QSocketNotifier;

namespace fernpoint {

// Brings SIGINT and SIGTERM into the event loop as a Qt signal, so that a program ends through
// its normal path. The handler only writes one byte into a socket pair; the default disposition
// comes back when the watcher goes away. A process has at most one active watcher: a second one
// made while the first lives stays inactive.
class UnixSignalWatcher final : public QObject {
    Q_OBJECT

public:
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;
    UnixSignalWatcher(const UnixSignalWatcher&) = delete;
    UnixSignalWatcher& operator=(const UnixSignalWatcher&) = delete;

    // False when the socket pair could not be made or another watcher is active; the signals then
    // keep what they had.
    bool isActive() const { return m_notifier != nullptr; }

    // Makes SIGINT and SIGTERM end the application's event loop with status 0, as quitting does,
    // so that what follows exec() still runs (the last history change reaches the disk). The
    // watcher belongs to the application object.
    static void exitEventLoopOnTermination();

Q_SIGNALS:
    void signalReceived(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace fernpoint
