#pragma once

#include "NetworkProfile.h"

#include <QList>
#include <QString>

#include <optional>

namespace fernpoint {

// The window's history file, read without a store: a store creates the folder and rewrites the
// file as soon as it exists, and the terminal only looks.
struct HistoryFileContent {
    // In file order; empty when there is no file. Absent when the file cannot be read or decoded.
    std::optional<QList<NetworkProfile>> profiles;
    QString errorDescription; // why, when absent
};

// <GenericDataLocation>/FernPoint/networks.json, the file the window's store keeps; empty text
// when the system names no data folder.
QString historyFilePath();

HistoryFileContent readHistoryFile(const QString& path);

} // namespace fernpoint
