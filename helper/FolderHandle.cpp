#include "FolderHandle.h"

#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fernpoint {
namespace {

constexpr int kOpenFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QString errorText(int errorNumber) {
    return QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString joined(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Why a folder the step runs through as root is unsafe, or an empty text.
QString rootOnlyProblem(const struct stat& info, bool aboveRoot) {
    if (::geteuid() != 0)
        return QString();
    if (info.st_uid != 0)
        return QStringLiteral("it belongs to user %1, not root").arg(info.st_uid);
    const bool othersMayWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersMayWrite && !(aboveRoot && (info.st_mode & S_ISVTX)))
        return QStringLiteral("group or others may write to it");
    return QString();
}

} // namespace

FolderHandle::FolderHandle(int fd, QString path)
    : m_fd(fd)
    , m_path(std::move(path)) {}

FolderHandle::~FolderHandle() {
    if (m_fd >= 0)
        ::close(m_fd);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_path(std::move(other.m_path)) {}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

FolderHandle FolderHandle::openRoot(const QString& path, QString& error) {
    const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    FolderHandle folder(::open("/", kOpenFlags), QStringLiteral("/"));
    struct stat info = {};
    if (!folder.isValid() || ::fstat(folder.m_fd, &info) != 0) {
        error = QStringLiteral("cannot open folder /: %1").arg(errorText(errno));
        return {};
    }
    if (const QString problem = rootOnlyProblem(info, !names.isEmpty()); !problem.isEmpty()) {
        error = QStringLiteral("cannot use folder /: ") + problem;
        return {};
    }
    for (qsizetype i = 0; i < names.size() && folder.isValid(); ++i)
        folder = folder.step(names.at(i), false, i + 1 < names.size(), error);
    return folder;
}

FolderHandle FolderHandle::openBelow(const QString& relativePath, bool create,
                                     QString& error) const {
    FolderHandle folder(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0), m_path);
    const QStringList names = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (!folder.isValid())
            break;
        folder = folder.step(name, create, false, error);
    }
    return folder;
}

FolderHandle FolderHandle::step(const QString& name, bool create, bool aboveRoot,
                                QString& error) const {
    const QString path = joined(m_path, name);
    const QByteArray encoded = QFile::encodeName(name);
    if (name == QLatin1StringView("..") || name == QLatin1StringView(".")) {
        error = QStringLiteral("cannot use folder %1: it is not a plain name").arg(path);
        return {};
    }
    if (create && ::mkdirat(m_fd, encoded.constData(), 0755) != 0 && errno != EEXIST) {
        error = QStringLiteral("cannot create folder %1: %2").arg(path, errorText(errno));
        return {};
    }
    FolderHandle next(::openat(m_fd, encoded.constData(), kOpenFlags), path);
    if (!next.isValid()) {
        const int openError = errno;
        struct stat entry = {};
        const bool exists = ::fstatat(m_fd, encoded.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists && openError == ENOENT)
            error.clear(); // missing, and it was not asked for
        else if (exists && S_ISLNK(entry.st_mode))
            error = QStringLiteral("cannot use folder %1: it is a symbolic link").arg(path);
        else if (exists && !S_ISDIR(entry.st_mode))
            error = QStringLiteral("cannot create folder %1: %2").arg(path, errorText(ENOTDIR));
        else
            error = QStringLiteral("cannot open folder %1: %2").arg(path, errorText(openError));
        return {};
    }
    struct stat info = {};
    if (::fstat(next.m_fd, &info) != 0) {
        error = QStringLiteral("cannot open folder %1: %2").arg(path, errorText(errno));
        return {};
    }
    if (const QString problem = rootOnlyProblem(info, aboveRoot); !problem.isEmpty()) {
        error = QStringLiteral("cannot use folder %1: %2").arg(path, problem);
        return {};
    }
    return next;
}

} // namespace fernpoint
