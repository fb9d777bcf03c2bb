#include "AtomicFileStager.h"

#include "FolderHandle.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fernpoint {
namespace {

QString errorText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QByteArray encoded(const QString& name) {
    return QFile::encodeName(name);
}

QString pathOf(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void syncFolder(int folderFd) {
    const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

AtomicFileStager::~AtomicFileStager() {
    abort();
}

bool AtomicFileStager::fail(const QString& what, const QString& path, int errorNumber) {
    m_error = QStringLiteral("cannot %1 %2: %3").arg(what, path, errorText(errorNumber));
    return false;
}

void AtomicFileStager::discard(Staged& staged) {
    if (staged.folderFd < 0)
        return;
    ::unlinkat(staged.folderFd, encoded(staged.temporaryName).constData(), 0);
    ::close(staged.folderFd);
    staged.folderFd = -1;
}

int AtomicFileStager::createTemporary(const FolderHandle& folder, const QString& name,
                                      Staged& staged) {
    staged.folderPath = folder.path();
    staged.name = name;
    for (int attempt = 0; attempt < 16; ++attempt) {
        staged.temporaryName =
            QStringLiteral(".%1.%2.tmp")
                .arg(name)
                .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
        // O_EXCL and O_NOFOLLOW: never write through a name someone else placed there.
        const int fd = ::openat(folder.fd(), encoded(staged.temporaryName).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            staged.folderFd = ::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0);
            if (staged.folderFd >= 0)
                return fd;
            const int dupError = errno;
            ::unlinkat(folder.fd(), encoded(staged.temporaryName).constData(), 0);
            ::close(fd);
            fail(QStringLiteral("write into"), folder.path(), dupError);
            return -1;
        }
        if (errno != EEXIST) {
            fail(QStringLiteral("write into"), folder.path(), errno);
            return -1;
        }
    }
    fail(QStringLiteral("write into"), folder.path(), EEXIST);
    return -1;
}

bool AtomicFileStager::finish(int fd, Staged& staged, unsigned mode) {
    const QString temporaryPath = pathOf(staged.folderPath, staged.temporaryName);
    bool ok = true;
    // Root-owned whatever the umask or the folder's group says.
    if (::geteuid() == 0 && ::fchown(fd, 0, 0) != 0)
        ok = fail(QStringLiteral("set the owner of"), temporaryPath, errno);
    if (ok && ::fchmod(fd, static_cast<mode_t>(mode)) != 0)
        ok = fail(QStringLiteral("set the mode of"), temporaryPath, errno);
    if (ok && ::fsync(fd) != 0)
        ok = fail(QStringLiteral("write"), temporaryPath, errno);
    if (::close(fd) != 0 && ok)
        ok = fail(QStringLiteral("write"), temporaryPath, errno);
    if (!ok) {
        discard(staged);
        return false;
    }
    m_staged.append(staged);
    return true;
}

bool AtomicFileStager::stageContent(const FolderHandle& folder, const QString& name,
                                    const QByteArray& content, unsigned mode) {
    Staged staged;
    const int fd = createTemporary(folder, name, staged);
    if (fd < 0)
        return false;
    if (!writeAll(fd, content.constData(), static_cast<size_t>(content.size()))) {
        const int writeError = errno;
        ::close(fd);
        discard(staged);
        return fail(QStringLiteral("write"), pathOf(staged.folderPath, staged.temporaryName),
                    writeError);
    }
    return finish(fd, staged, mode);
}

bool AtomicFileStager::stageCopy(const FolderHandle& folder, const QString& name, int sourceFd,
                                 unsigned mode) {
    Staged staged;
    const int fd = createTemporary(folder, name, staged);
    if (fd < 0)
        return false;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(sourceFd, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || !writeAll(fd, buffer, static_cast<size_t>(got))) {
            const int copyError = errno;
            ::close(fd);
            discard(staged);
            return fail(QStringLiteral("copy the helper program to"),
                        pathOf(staged.folderPath, staged.temporaryName), copyError);
        }
    }
    return finish(fd, staged, mode);
}

bool AtomicFileStager::commit() {
    for (const Staged& staged : std::as_const(m_staged)) {
        struct stat info = {};
        if (::fstatat(staged.folderFd, encoded(staged.name).constData(), &info,
                      AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode)) {
            fail(QStringLiteral("replace"), pathOf(staged.folderPath, staged.name), EISDIR);
            abort();
            return false;
        }
    }
    while (!m_staged.isEmpty()) {
        Staged staged = m_staged.takeFirst();
        if (::renameat(staged.folderFd, encoded(staged.temporaryName).constData(), staged.folderFd,
                       encoded(staged.name).constData()) != 0) {
            fail(QStringLiteral("replace"), pathOf(staged.folderPath, staged.name), errno);
            discard(staged);
            abort();
            return false;
        }
        syncFolder(staged.folderFd);
        ::close(staged.folderFd);
    }
    return true;
}

void AtomicFileStager::abort() {
    for (Staged& staged : m_staged)
        discard(staged);
    m_staged.clear();
}

} // namespace fernpoint
