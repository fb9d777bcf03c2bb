// fernpoint-history-probe <folder> --replace-with <count>
//   Opens the history store in <folder>, waits for its first save, prints "changing", replaces the
//   history with <count> entries and saves that, printing "saving" and "saved" around each save;
//   then runs until SIGTERM or SIGINT ends it as they end the application.
//
// tst_HistoryFaults kills it during a save.

#include "NetworkProfileStore.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void print(const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// A fixed clock: 737000000 s after 2001 is 2024-05-10 02:13:20 UTC.
double fixedClock() {
    return 737000000.0;
}

int replaceHistory(const QString& folder, int count) {
    fernpoint::NetworkProfileStore store(
        folder, fixedClock, [](const QString& path, const QByteArray& content) {
            print(QStringLiteral("saving"));
            const QString failure = fernpoint::replaceFileAtomically(path, content);
            print(failure.isEmpty() ? QStringLiteral("saved") : failure);
            return failure;
        });
    store.flush();
    print(QStringLiteral("changing"));
    QList<fernpoint::NetworkProfile> profiles;
    for (int i = 0; i < count; ++i)
        profiles.append({QStringLiteral("%1").arg(i, 16, 16, QLatin1Char('0')),
                         QStringLiteral("Network %1").arg(i),
                         QStringLiteral("Branch office number %1").arg(i), fixedClock()});
    store.setProfiles(profiles);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    fernpoint::UnixSignalWatcher::exitEventLoopOnTermination();
    if (arguments.size() == 4 && arguments.at(2) == QLatin1StringView("--replace-with"))
        return replaceHistory(arguments.at(1), arguments.at(3).toInt());
    std::fputs("usage: fernpoint-history-probe <folder> --replace-with <count>\n", stderr);
    return 2;
}
