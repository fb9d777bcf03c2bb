#include "InstanceLock.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fernpoint {
namespace {

Q_LOGGING_CATEGORY(lcLock, "fernpoint.shell")

// 0 when the lock was taken, otherwise errno; heldAs is the type of a lock in the way.
int takeWriteLock(int fd, short& heldAs) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int result = 0;
    do {
        result = ::fcntl(fd, F_SETLK, &lock);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return 0;
    const int lockError = errno;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    heldAs = ::fcntl(fd, F_GETLK, &probe) == 0 ? probe.l_type : F_WRLCK;
    return lockError;
}

} // namespace

InstanceLock::InstanceLock(QString path)
    : m_path(std::move(path)) {}

InstanceLock::Opened InstanceLock::open() {
    const QByteArray nativePath = QFile::encodeName(m_path);
    // O_NOFOLLOW: /tmp is shared by every user, and a planted symbolic link must not make us
    // create or lock a file elsewhere.
    do {
        m_fd = ::open(nativePath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    } while (m_fd < 0 && errno == EINTR);
    struct stat info = {};
    if (m_fd < 0) {
        const bool othersFile =
            ::lstat(nativePath.constData(), &info) == 0 && info.st_uid != ::geteuid();
        return othersFile ? Opened::OtherUsers : Opened::Failed;
    }
    if (::fstat(m_fd, &info) != 0 || info.st_uid != ::geteuid()) {
        ::close(m_fd);
        m_fd = -1;
        return Opened::OtherUsers;
    }
    // A file of an older version may be readable by others, who could hold a read lock on it.
    if ((info.st_mode & 077) != 0)
        ::fchmod(m_fd, 0600);
    return Opened::Own;
}

bool InstanceLock::fallBack(const QString& why) {
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString fallback = runtimeFolder.isEmpty()
                                 ? QString()
                                 : runtimeFolder + QLatin1Char('/') + QFileInfo(m_path).fileName();
    qCWarning(lcLock).noquote()
        << QStringLiteral("⚠️ [app] %1 %2; %3")
               .arg(m_path, why,
                    fallback.isEmpty() ? QStringLiteral("no XDG_RUNTIME_DIR to lock "
                                                        "in instead, so no guard")
                                       : QStringLiteral("locking %1 instead").arg(fallback));
    if (m_fd >= 0)
        ::close(m_fd); // no lock of ours is on it
    m_fd = -1;
    m_fellBack = true;
    if (fallback.isEmpty())
        return false;
    m_path = fallback;
    return open() == Opened::Own;
}

InstanceLock::Outcome InstanceLock::tryAcquire() {
    if (m_fd < 0) {
        const Opened opened = m_fellBack ? Opened::Failed : open();
        if (opened == Opened::OtherUsers && !fallBack(QStringLiteral("belongs to another user")))
            return Outcome::Unavailable;
        if (opened == Opened::Failed)
            return Outcome::Unavailable;
    }
    short heldAs = F_UNLCK;
    int lockError = takeWriteLock(m_fd, heldAs);
    // Instances only ever take write locks: a read lock comes from someone else.
    if (lockError != 0 && heldAs == F_RDLCK && !m_fellBack) {
        if (!fallBack(QStringLiteral("is read-locked by another process")))
            return Outcome::Unavailable;
        lockError = takeWriteLock(m_fd, heldAs);
    }
    if (lockError == 0)
        return Outcome::Acquired;
    // Only these two mean "someone holds it"; any other failure (no lock support on the file
    // system) leaves us without a guard rather than refusing to start.
    return (lockError == EACCES || lockError == EAGAIN) ? Outcome::HeldElsewhere
                                                        : Outcome::Unavailable;
}

} // namespace fernpoint
