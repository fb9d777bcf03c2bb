#pragma once

#include "NetworkProfile.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace fernpoint {

// Newest first; entries with equal times keep their given order. Also for readers of the history
// file that must not construct a store (construction creates the folder and rewrites the file).
QList<NetworkProfile> sortedNewestFirst(QList<NetworkProfile> profiles);

// The networks used before, kept in memory (the master copy) and in networks.json, which is
// rewritten atomically after every change.
class NetworkProfileStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<fernpoint::NetworkProfile> profiles READ profiles WRITE setProfiles NOTIFY
                   profilesChanged)

public:
    // Seconds since 2001-01-01 00:00:00 UTC.
    using Clock = std::function<double()>;

    // The user's store: <GenericDataLocation>/FernPoint/networks.json.
    explicit NetworkProfileStore(QObject* parent = nullptr);
    // A store in the given folder (created if missing), with the given clock.
    NetworkProfileStore(const QString& directory, Clock clock, QObject* parent = nullptr);

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
};

} // namespace fernpoint
