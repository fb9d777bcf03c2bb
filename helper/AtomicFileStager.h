#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace fernpoint {

class FolderHandle;

// Writes files under temporary names in their target folders and renames them into place only
// when all of them are complete, so that a failed installation leaves the previous files (and
// the previous helper) working and no half-written file behind. Every name is taken relative to
// an open folder, never as a path that could lead elsewhere by the time it is used.
class AtomicFileStager final {
public:
    AtomicFileStager() = default;
    // Removes every temporary file that was not renamed into place.
    ~AtomicFileStager();
    AtomicFileStager(const AtomicFileStager&) = delete;
    AtomicFileStager& operator=(const AtomicFileStager&) = delete;

    // Each returns false and sets error() on failure.
    bool stageContent(const FolderHandle& folder, const QString& name, const QByteArray& content,
                      unsigned mode);
    // Copies from an open descriptor (the helper's own program).
    bool stageCopy(const FolderHandle& folder, const QString& name, int sourceFd, unsigned mode);
    // Renames the staged files into place, in the order they were staged. Checks first that no
    // target is a folder, so a rename cannot fail half way for that reason.
    bool commit();
    // Discards every staged file.
    void abort();

    const QString& error() const { return m_error; }

private:
    struct Staged {
        int folderFd = -1; // a duplicate of the folder's descriptor, owned here
        QString folderPath;
        QString temporaryName;
        QString name;
    };

    int createTemporary(const FolderHandle& folder, const QString& name, Staged& staged);
    bool finish(int fd, Staged& staged, unsigned mode);
    bool fail(const QString& what, const QString& path, int errorNumber);
    static void discard(Staged& staged);

    QList<Staged> m_staged;
    QString m_error;
};

} // namespace fernpoint
