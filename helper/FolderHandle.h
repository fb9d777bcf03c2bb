#pragma once

#include <QString>

namespace fernpoint {

// An open folder of the install step, reached one name at a time from "/" without following
// symbolic links, so that nobody can redirect the step's writes by planting a link or a folder of
// their own on the way. When the step runs as root, every folder on the way must also belong to
// root and be closed to writes by group and others; above the installation's root a root-owned
// folder with the sticky bit (such as /tmp) is fine too, since nobody else can rename or remove
// what root put into it.
class FolderHandle final {
public:
    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // The root folder of an installation, an absolute path.
    static FolderHandle openRoot(const QString& path, QString& error);
    // A folder below this one ("usr/local/libexec"), made with mode 0755 where missing when
    // create is true.
    FolderHandle openBelow(const QString& relativePath, bool create, QString& error) const;

    // When not valid, error says why; an empty error means the folder does not exist.
    bool isValid() const { return m_fd >= 0; }
    // Usable as the folder argument of openat(), mkdirat(), renameat(), unlinkat().
    int fd() const { return m_fd; }
    // For messages.
    const QString& path() const { return m_path; }

private:
    FolderHandle(int fd, QString path);
    // Opens the folder name inside this one and checks it; aboveRoot allows the sticky bit.
    FolderHandle step(const QString& name, bool create, bool aboveRoot, QString& error) const;

    int m_fd = -1;
    QString m_path;
};

} // namespace fernpoint
