#pragma once

#include <QObject>

class QSocketNotifier;

namespace fernpoint {

// Brings SIGINT and SIGTERM into the event loop as a Qt signal, so that a long-running command
// ends through its normal path. The handler only writes one byte into a socket pair; the
// default disposition comes back when the watcher goes away.
class InterruptWatcher final : public QObject {
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // False when the socket pair could not be made; the signals then keep their default action.
    bool isActive() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void interrupted(int signalNumber);

private:
    void onReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace fernpoint
