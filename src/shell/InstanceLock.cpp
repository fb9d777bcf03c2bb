#include "InstanceLock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace fernpoint {

InstanceLock::InstanceLock(QString path)
    : m_path(std::move(path)) {}

InstanceLock::Outcome InstanceLock::tryAcquire() {
    if (m_fd < 0) {
        const QByteArray nativePath = QFile::encodeName(m_path);
        // O_NOFOLLOW: /tmp is shared by every user, and a planted symbolic link must not make us
        // create or lock a file elsewhere. A link counts as "cannot be opened".
        do {
            m_fd = ::open(nativePath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        } while (m_fd < 0 && errno == EINTR);
        if (m_fd < 0)
            return Outcome::Unavailable;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    int result = 0;
    do {
        result = ::fcntl(m_fd, F_SETLK, &lock);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return Outcome::Acquired;
    // Only these two mean "someone holds it"; any other failure (no lock support on the file
    // system) leaves us without a guard rather than refusing to start.
    return (errno == EACCES || errno == EAGAIN) ? Outcome::HeldElsewhere : Outcome::Unavailable;
}

} // namespace fernpoint
