// fernpoint-history-probe <folder> <count>
//   Saves a history of one entry in <folder>, prints "changing", replaces it with <count> entries
//   and saves that, printing "saving" and "saved" around each save; then runs until SIGTERM or
//   SIGINT ends it as they end the application. tst_HistoryFaults kills it during a save.

#include "NetworkProfileStore.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void print(const QString& line) {
    std::puts(qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc != 3)
        return 2;
    fernpoint::UnixSignalWatcher::exitEventLoopOnTermination();
    fernpoint::NetworkProfileStore store(
        QString::fromLocal8Bit(argv[1]), [] { return 737000000.0; },
        [](const QString& path, const QByteArray& content) {
            print(QStringLiteral("saving"));
            const QString failure = fernpoint::replaceFileAtomically(path, content);
            print(failure.isEmpty() ? QStringLiteral("saved") : failure);
            return failure;
        });
    store.setProfiles({{QStringLiteral("0123456789abcdef"), QStringLiteral("Lab"), {}, 1.0}});
    store.flush();
    print(QStringLiteral("changing"));
    QList<fernpoint::NetworkProfile> profiles;
    for (int i = 0; i < QByteArray(argv[2]).toInt(); ++i)
        profiles.append({QStringLiteral("%1").arg(i, 16, 16, QLatin1Char('0')),
                         QStringLiteral("Network %1").arg(i),
                         QStringLiteral("Branch office number %1").arg(i), 737000000.0});
    store.setProfiles(profiles);
    return QCoreApplication::exec();
}
