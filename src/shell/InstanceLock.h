#pragma once

#include <QString>

namespace fernpoint {

// The lock file of the one-instance guard: an exclusive record lock on the whole file, held from
// launch until the process ends. The operating system drops it when the process dies, so a file
// left behind by a crashed instance blocks nobody.
class InstanceLock final {
public:
    enum class Outcome {
        Acquired,      // this is the only instance
        HeldElsewhere, // another running process holds the lock
        Unavailable,   // the file cannot be opened: no guard, run as the only instance
    };

    explicit InstanceLock(QString path);
    // The descriptor is deliberately never closed: closing any descriptor of the file would drop
    // the lock of the whole process.
    ~InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Outcome tryAcquire();
    const QString& path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace fernpoint
