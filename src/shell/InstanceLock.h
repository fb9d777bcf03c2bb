#pragma once

#include <QString>

namespace fernpoint {

// The lock file of the one-instance guard: an exclusive record lock on the whole file, held from
// launch until the process ends. The operating system drops it when the process dies, so a file
// left behind by a crashed instance blocks nobody.
//
// The file is this user's own (mode 0600). When the file at the path belongs to another user, or
// another user holds a read lock on it (possible on a readable file left by an older version), a
// lock file of the same name in $XDG_RUNTIME_DIR is used instead, with one warning: another user
// can neither stop FernPoint from starting nor make it run twice.
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
    // The lock file in use: the given path, or the one in $XDG_RUNTIME_DIR.
    const QString& path() const { return m_path; }

private:
    enum class Opened { Own, OtherUsers, Failed };
    Opened open();
    // Switches to the lock file in $XDG_RUNTIME_DIR; false when there is none.
    bool fallBack(const QString& why);

    QString m_path;
    int m_fd = -1;
    bool m_fellBack = false;
};

} // namespace fernpoint
