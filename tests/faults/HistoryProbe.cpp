// fernpoint-history-probe <folder> <network ID>
//
// Opens the history store in <folder>, records <network ID> once, and prints what happened, one
// line each: every line the store logged, then "profiles <n>" (the store's count in memory).
// tst_HistoryFaults runs it as another user or in a mount namespace of its own.

#include "NetworkProfileStore.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void print(const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fputs("usage: fernpoint-history-probe <folder> <network ID>\n", stderr);
        return 2;
    }
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { print(message); });
    // A fixed clock: 737000000 s after 2001 is 2024-05-10 02:13:20 UTC.
    fernpoint::NetworkProfileStore store(arguments.at(1), [] { return 737000000.0; });
    store.upsertProfile(arguments.at(2), QStringLiteral("Probe"), std::nullopt);
    print(QStringLiteral("profiles %1").arg(store.profiles().size()));
    return 0;
}
