// Timings of the paths that run on the main thread at every status poll: applying one status
// answer to the controller, and recording the network in the history (which rewrites the file).

#include "BenchSupport.h"
#include "GatewayManager.h"
#include "HelperClient.h"
#include "NetworkProfileCodec.h"
#include "NetworkProfileStore.h"
#include "StatusJsonParser.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace fernpoint;

namespace {

struct Row {
    const char* name;
    int iterations;
    double medianMicros;
    double p99Micros;
    const char* target;
};

Row measure(const char* name, const char* target, int iterations,
            const std::function<void()>& run) {
    for (int i = 0; i < iterations / 10 + 1; ++i) // warm caches and allocators
        run();
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(iterations));
    for (int i = 0; i < iterations; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const auto end = std::chrono::steady_clock::now();
        samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&samples](double quantile) {
        return samples[static_cast<std::size_t>(quantile *
                                                static_cast<double>(samples.size() - 1))];
    };
    return Row{name, iterations, at(0.5), at(0.99), target};
}

QList<NetworkProfile> history(int size) {
    QList<NetworkProfile> profiles;
    profiles.reserve(size);
    for (int i = 0; i < size; ++i) {
        profiles.append({QStringLiteral("%1").arg(i, 16, 16, QLatin1Char('0')),
                         QStringLiteral("Network %1").arg(i),
                         QStringLiteral("Branch office number %1").arg(i), 737000000.0 + i});
    }
    return profiles;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    std::vector<Row> rows;

    const QString json = bench::typicalStatusJson();
    rows.push_back(measure("parse status JSON only", "-", 20000, [&json] {
        const StatusParseOutcome outcome = parseStatusJson(json);
        if (!outcome.snapshot)
            std::abort();
    }));

    bench::KeptStatusClient client;
    GatewayManager manager(client);
    manager.applyNatSetting(); // its answer asks for the status once: keep that completion
    QCoreApplication::sendPostedEvents();
    if (!client.statusCompletion)
        return 1;
    const GatewayStatus reply{true, json, true};
    rows.push_back(measure("status answer parsed and applied", "< 50 us", 20000, [&] {
        client.statusCompletion(reply);
        QCoreApplication::sendPostedEvents();
    }));
    if (!manager.currentStatus() || manager.currentStatus()->endpoints.size() != 10)
        return 1;

    QTemporaryDir folder;
    for (const auto& [size, iterations, name, target] :
         {std::tuple{100, 2000, "upsertProfile + save, 100 entries", "< 2 ms"},
          std::tuple{1000, 500, "upsertProfile + save, 1,000 entries", "< 10 ms"}}) {
        const QString directory = folder.path() + QStringLiteral("/h%1").arg(size);
        double now = 738000000.0;
        NetworkProfileStore store(directory, [&now] { return now += 5.0; });
        store.setProfiles(history(size));
        // As the status panel does on every poll: an existing network, with name and description.
        const QString id = store.profiles().at(size / 2).networkID;
        const QList<NetworkProfile> snapshot = store.profiles();
        rows.push_back(measure(size == 100 ? "  of which encoding, 100 entries"
                                           : "  of which encoding, 1,000 entries",
                               "-", iterations, [&snapshot] {
                                   if (encodeProfiles(snapshot).isEmpty())
                                       std::abort();
                               }));
        rows.push_back(measure(name, target, iterations, [&] {
            store.upsertProfile(id, QStringLiteral("Head office"), QStringLiteral("Second floor"));
        }));
    }

    std::printf("%-40s %10s %12s %12s %10s\n", "case", "iterations", "median (us)", "p99 (us)",
                "target");
    for (const Row& row : rows) {
        std::printf("%-40s %10d %12.1f %12.1f %10s\n", row.name, row.iterations, row.medianMicros,
                    row.p99Micros, row.target);
    }
    return 0;
}
