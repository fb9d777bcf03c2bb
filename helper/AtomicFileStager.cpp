#include "AtomicFileStager.h"

#include <QFileInfo>
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

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
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

void syncFolder(const QString& folder) {
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool makeFolders(const QString& path, QString& error) {
    QString current;
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        const QByteArray name = encoded(current);
        if (::mkdir(name.constData(), 0755) == 0)
            continue;
        const int mkdirError = errno;
        struct stat info = {};
        if (mkdirError == EEXIST && ::stat(name.constData(), &info) == 0 && S_ISDIR(info.st_mode))
            continue;
        error = QStringLiteral("cannot create folder %1: %2")
                    .arg(current, errorText(mkdirError == EEXIST ? ENOTDIR : mkdirError));
        return false;
    }
    return true;
}

AtomicFileStager::~AtomicFileStager() {
    abort();
}

bool AtomicFileStager::fail(const QString& what, const QString& path, int errorNumber) {
    m_error = QStringLiteral("cannot %1 %2: %3").arg(what, path, errorText(errorNumber));
    return false;
}

int AtomicFileStager::createTemporary(const QString& targetPath, QString& temporaryPath) {
    const QFileInfo target(targetPath);
    if (!makeFolders(target.path(), m_error))
        return -1;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporaryPath = target.path() + QStringLiteral("/.") + target.fileName() +
                        QStringLiteral(".%1.tmp").arg(QRandomGenerator::system()->generate64(), 16,
                                                      16, QLatin1Char('0'));
        // O_EXCL and O_NOFOLLOW: never write through a name someone else placed there.
        const int fd = ::open(encoded(temporaryPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            fail(QStringLiteral("write into"), target.path(), errno);
            return -1;
        }
    }
    fail(QStringLiteral("write into"), target.path(), EEXIST);
    return -1;
}

bool AtomicFileStager::finish(int fd, const QString& temporaryPath, const QString& targetPath,
                              unsigned mode) {
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
        ::unlink(encoded(temporaryPath).constData());
        return false;
    }
    m_staged.append({temporaryPath, targetPath});
    return true;
}

bool AtomicFileStager::stageContent(const QString& targetPath, const QByteArray& content,
                                    unsigned mode) {
    QString temporaryPath;
    const int fd = createTemporary(targetPath, temporaryPath);
    if (fd < 0)
        return false;
    if (!writeAll(fd, content.constData(), static_cast<size_t>(content.size()))) {
        const int writeError = errno;
        ::close(fd);
        ::unlink(encoded(temporaryPath).constData());
        return fail(QStringLiteral("write"), temporaryPath, writeError);
    }
    return finish(fd, temporaryPath, targetPath, mode);
}

bool AtomicFileStager::stageCopy(const QString& targetPath, int sourceFd, unsigned mode) {
    QString temporaryPath;
    const int fd = createTemporary(targetPath, temporaryPath);
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
            ::unlink(encoded(temporaryPath).constData());
            return fail(QStringLiteral("copy the helper program to"), temporaryPath, copyError);
        }
    }
    return finish(fd, temporaryPath, targetPath, mode);
}

bool AtomicFileStager::commit() {
    for (const Staged& staged : std::as_const(m_staged)) {
        struct stat info = {};
        if (::lstat(encoded(staged.targetPath).constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
            fail(QStringLiteral("replace"), staged.targetPath, EISDIR);
            abort();
            return false;
        }
    }
    while (!m_staged.isEmpty()) {
        const Staged staged = m_staged.takeFirst();
        if (::rename(encoded(staged.temporaryPath).constData(),
                     encoded(staged.targetPath).constData()) != 0) {
            const int renameError = errno;
            ::unlink(encoded(staged.temporaryPath).constData());
            fail(QStringLiteral("replace"), staged.targetPath, renameError);
            abort();
            return false;
        }
        syncFolder(QFileInfo(staged.targetPath).path());
    }
    return true;
}

void AtomicFileStager::abort() {
    for (const Staged& staged : std::as_const(m_staged))
        ::unlink(encoded(staged.temporaryPath).constData());
    m_staged.clear();
}

} // namespace fernpoint
