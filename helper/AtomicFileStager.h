#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace fernpoint {

// Writes files under temporary names in their target folders and renames them into place only
// when all of them are complete, so that a failed installation leaves the previous files (and
// the previous helper) working and no half-written file behind.
class AtomicFileStager final {
public:
    AtomicFileStager() = default;
    // Removes every temporary file that was not renamed into place.
    ~AtomicFileStager();
    AtomicFileStager(const AtomicFileStager&) = delete;
    AtomicFileStager& operator=(const AtomicFileStager&) = delete;

    // Each returns false and sets error() on failure.
    bool stageContent(const QString& targetPath, const QByteArray& content, unsigned mode);
    // Copies from an open descriptor (the helper's own program).
    bool stageCopy(const QString& targetPath, int sourceFd, unsigned mode);
    // Renames the staged files into place, in the order they were staged. Checks first that no
    // target is a folder, so a rename cannot fail half way for that reason.
    bool commit();
    // Discards every staged file.
    void abort();

    const QString& error() const { return m_error; }

private:
    struct Staged {
        QString temporaryPath;
        QString targetPath;
    };

    int createTemporary(const QString& targetPath, QString& temporaryPath);
    bool finish(int fd, const QString& temporaryPath, const QString& targetPath, unsigned mode);
    bool fail(const QString& what, const QString& path, int errorNumber);

    QList<Staged> m_staged;
    QString m_error;
};

// Creates a folder and its parents with mode 0755 (like mkdir -p); false with a description in
// error when a part of it cannot be made, e.g. because a file stands where a folder must go.
bool makeFolders(const QString& path, QString& error);

} // namespace fernpoint
