#pragma once

#include "NetworkProfile.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace fernpoint {

class LatestContentWriter;

// Newest first; entries with equal times keep their given order. Also for readers of the history
// file that must not construct a store (construction creates the folder and rewrites the file).
QList<NetworkProfile> sortedNewestFirst(QList<NetworkProfile> profiles);

// Replaces the file at `path` with `content` in one step (a reader sees the old file or the new
// one, never a mix); returns why it failed, or empty text.
QString replaceFileAtomically(const QString& path, const QByteArray& content);

// The networks used before, kept in memory (the master copy) and in networks.json, which is
// rewritten atomically after every change. The rewrite runs on a writer thread of the store's own,
// so a slow disk never stalls the caller: each change hands it the newest file content, which
// replaces any content still waiting, and the file follows within one save time.
class NetworkProfileStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<fernpoint::NetworkProfile> profiles READ profiles WRITE setProfiles NOTIFY
                   profilesChanged)

public:
    // Seconds since 2001-01-01 00:00:00 UTC.
    using Clock = std::function<double()>;
    // Writes the file (on the writer thread); returns why it failed, or empty text.
    using FileSaver = std::function<QString(const QString& path, const QByteArray& content)>;

    // The user's store: <GenericDataLocation>/FernPoint/networks.json.
    explicit NetworkProfileStore(QObject* parent = nullptr);
    // A store in the given folder (created if missing), with the given clock and the given way of
    // writing the file.
    NetworkProfileStore(const QString& directory, Clock clock,
                        FileSaver saver = replaceFileAtomically, QObject* parent = nullptr);
    // Writes the last change before it goes.
    ~NetworkProfileStore() override;

    const QList<NetworkProfile>& profiles() const { return m_profiles; }
    // Every change notifies (profilesChanged) and then saves the file.
    void setProfiles(const QList<NetworkProfile>& profiles);
    void removeAt(qsizetype index);

    // Records that a network was used now. IDs that are not 16 characters after trimming are
    // ignored; empty or absent name/description keep the stored ones.
    void upsertProfile(const QString& networkID, const std::optional<QString>& name,
                       const std::optional<QString>& desc);

    // The entry with the latest lastUsedAt (the later in stored order on a tie).
    std::optional<NetworkProfile> mostRecentProfile() const;
    // Newest first; entries with equal times keep their stored order.
    QList<NetworkProfile> sortedByMostRecent() const;

    const QString& filePath() const { return m_filePath; }
    // Returns once the file holds the last change (or its save has failed and said so). For the
    // end of the process: quitting, or a termination signal.
    void flush() const;

    static double currentTime();

Q_SIGNALS:
    void profilesChanged();

private:
    void loadFromDisk();
    void saveToDisk();
    // Copies an unreadable history file aside before a save can replace it; returns where it went,
    // or empty text when it could not be kept.
    QString keepUnreadableFile() const;

    QList<NetworkProfile> m_profiles;
    QString m_filePath;
    Clock m_clock;
    std::unique_ptr<LatestContentWriter> m_writer; // none without a file
};

} // namespace fernpoint
