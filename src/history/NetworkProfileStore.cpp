#include "NetworkProfileStore.h"

#include "LatestContentWriter.h"
#include "NetworkIdText.h"
#include "NetworkProfileCodec.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

#include <sys/stat.h>

namespace fernpoint {
namespace {

const QLatin1StringView kFolderName("FernPoint");
const QLatin1StringView kFileName("networks.json");

// Also called on the writer thread (Qt's message output is thread-safe).
void logLine(const QString& line) {
    qWarning().noquote() << line;
}

void logSaveFailure(const QString& description) {
    logLine(QStringLiteral("❌ [NetworkProfileStore] saveToDisk failed: ") + description);
}

QString defaultDirectory() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return base + QLatin1Char('/') + kFolderName;
}

// Like QDir::mkpath, but says why it failed: the folder that could not be made and the system's
// reason.
bool createDirectoryWithParents(const QString& path, QString* description) {
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    QStringList missing;
    for (QString current = clean; !current.isEmpty();) {
        struct stat info {};
        if (::stat(QFile::encodeName(current).constData(), &info) == 0)
            break;
        missing.prepend(current);
        const QString parent = QFileInfo(current).path();
        if (parent == current)
            break;
        current = parent;
    }
    for (const QString& folder : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST) {
            *description = folder + QStringLiteral(": ") + qt_error_string(errno);
            return false;
        }
    }
    if (!QFileInfo(clean).isDir()) {
        *description = clean + QStringLiteral(": ") + qt_error_string(ENOTDIR);
        return false;
    }
    return true;
}

} // namespace

QList<NetworkProfile> sortedNewestFirst(QList<NetworkProfile> profiles) {
    std::stable_sort(profiles.begin(), profiles.end(),
                     [](const NetworkProfile& a, const NetworkProfile& b) {
                         return a.lastUsedAt > b.lastUsedAt;
                     });
    return profiles;
}

NetworkProfileStore::NetworkProfileStore(QObject* parent)
    : NetworkProfileStore(defaultDirectory(), &NetworkProfileStore::currentTime,
                          replaceFileAtomically, parent) {}

NetworkProfileStore::NetworkProfileStore(const QString& directory, Clock clock, FileSaver saver,
                                         QObject* parent)
    : QObject(parent)
    , m_clock(std::move(clock)) {
    if (directory.isEmpty()) {
        // Without a data folder there is no file: the store keeps the history in memory and
        // every save reports the failure.
        logLine(QStringLiteral("❌ [NetworkProfileStore] create dir failed: ") +
                QStringLiteral("no folder for application data"));
        return;
    }
    // Something already at the path (even a plain file) is left alone; saves then fail and log.
    if (!QFileInfo::exists(directory)) {
        QString description;
        if (!createDirectoryWithParents(directory, &description))
            logLine(QStringLiteral("❌ [NetworkProfileStore] create dir failed: ") + description);
    }
    m_filePath = directory + QLatin1Char('/') + kFileName;
    m_writer = std::make_unique<LatestContentWriter>(
        [path = m_filePath, saver = std::move(saver)](const QByteArray& content) {
            if (const QString failure = saver(path, content); !failure.isEmpty())
                logSaveFailure(failure);
        });
    loadFromDisk();
}

NetworkProfileStore::~NetworkProfileStore() = default;

void NetworkProfileStore::flush() const {
    if (m_writer)
        m_writer->flush();
}

void NetworkProfileStore::setProfiles(const QList<NetworkProfile>& profiles) {
    m_profiles = profiles;
    Q_EMIT profilesChanged();
    saveToDisk();
}

void NetworkProfileStore::removeAt(qsizetype index) {
    if (index < 0 || index >= m_profiles.size())
        return;
    m_profiles.removeAt(index);
    Q_EMIT profilesChanged();
    saveToDisk();
}

void NetworkProfileStore::upsertProfile(const QString& networkID,
                                        const std::optional<QString>& name,
                                        const std::optional<QString>& desc) {
    const QString id = trimmedWhitespaceAndNewlines(networkID);
    if (!hasNetworkIdLength(id))
        return;
    const QString trimmedName = name ? trimmedWhitespaceAndNewlines(*name) : QString();
    const QString trimmedDesc = desc ? trimmedWhitespaceAndNewlines(*desc) : QString();
    const double now = m_clock();

    const auto found = std::find_if(m_profiles.begin(), m_profiles.end(),
                                    [&id](const NetworkProfile& p) { return p.networkID == id; });
    if (found != m_profiles.end()) {
        if (!trimmedName.isEmpty())
            found->name = trimmedName;
        if (!trimmedDesc.isEmpty())
            found->desc = trimmedDesc;
        found->lastUsedAt = now;
    } else {
        m_profiles.append(NetworkProfile{id, trimmedName, trimmedDesc, now});
    }
    Q_EMIT profilesChanged();
    saveToDisk();
}

std::optional<NetworkProfile> NetworkProfileStore::mostRecentProfile() const {
    // The same answer as a stable ascending sort taking the last element, without the copy.
    const NetworkProfile* latest = nullptr;
    for (const NetworkProfile& profile : m_profiles) {
        if (!latest || !(profile.lastUsedAt < latest->lastUsedAt))
            latest = &profile;
    }
    if (!latest)
        return std::nullopt;
    return *latest;
}

QList<NetworkProfile> NetworkProfileStore::sortedByMostRecent() const {
    return sortedNewestFirst(m_profiles);
}

double NetworkProfileStore::currentTime() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(sinceEpoch).count() - kSecondsFrom1970To2001;
}

void NetworkProfileStore::loadFromDisk() {
    const QFileInfo info(m_filePath);
    if (!info.exists())
        return;

    QString description;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        description = file.errorString();
    } else {
        const QByteArray content = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            description = file.errorString();
        } else {
            DecodeResult decoded = decodeProfiles(content);
            if (decoded.profiles) {
                // Rewrites the file at once in the store's own form.
                setProfiles(*decoded.profiles);
                return;
            }
            description = decoded.errorDescription;
        }
    }
    file.close();

    QString line =
        QStringLiteral("⚠️ [NetworkProfileStore] loadFromDisk failed: ") + description;
    // The next change replaces the file; keep what it held. A folder in its place needs no copy:
    // no save can replace it.
    if (info.isFile()) {
        if (const QString kept = keepUnreadableFile(); !kept.isEmpty())
            line += QStringLiteral(" (kept as ") + kept + QLatin1Char(')');
    }
    logLine(line);
}

QString NetworkProfileStore::keepUnreadableFile() const {
    const double now = m_clock() + kSecondsFrom1970To2001;
    const qint64 milliseconds =
        std::isfinite(now) ? static_cast<qint64>(std::clamp(now * 1000.0, 0.0, 253402300799000.0))
                           : 0;
    const QString stamp = QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC)
                              .toLocalTime()
                              .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString base = m_filePath + QStringLiteral(".corrupt-") + stamp;
    QString candidate = base;
    for (int n = 2; QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink(); ++n)
        candidate = base + QLatin1Char('-') + QString::number(n);
    if (QFile::copy(m_filePath, candidate))
        return candidate;
    // A file we cannot read cannot be copied either; moving it aside still saves it from being
    // overwritten.
    if (QFile::rename(m_filePath, candidate))
        return candidate;
    return {};
}

void NetworkProfileStore::saveToDisk() {
    if (!m_writer) {
        logSaveFailure(QStringLiteral("no folder for application data"));
        return;
    }
    m_writer->write(encodeProfiles(m_profiles));
}

QString replaceFileAtomically(const QString& path, const QByteArray& content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(content) != content.size()) {
        const QString description = file.errorString();
        file.cancelWriting();
        return description;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace fernpoint
