#include "HistoryFile.h"

#include "NetworkProfileCodec.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace fernpoint {

QString historyFilePath() {
    // writableLocation only names the folder; it creates nothing.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    return base + QStringLiteral("/FernPoint/networks.json");
}

HistoryFileContent readHistoryFile(const QString& path) {
    // A dangling link is a broken file, not a missing one.
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink()))
        return HistoryFileContent{QList<NetworkProfile>{}, {}};

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return HistoryFileContent{std::nullopt, file.errorString()};
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return HistoryFileContent{std::nullopt, file.errorString()};
    DecodeResult decoded = decodeProfiles(content);
    if (!decoded.profiles)
        return HistoryFileContent{std::nullopt, decoded.errorDescription};
    return HistoryFileContent{std::move(decoded.profiles), {}};
}

} // namespace fernpoint
