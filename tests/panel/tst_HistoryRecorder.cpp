#include "HistoryRecorder.h"
#include "NetworkProfileStore.h"
#include "PanelTestSupport.h"
#include "PrivateBus.h"

#include <QFile>
#include <QJsonArray>

using namespace fernpoint;

namespace {

const QString kId = QStringLiteral("8056c2e21c000001");
const QString kOther = QStringLiteral("8056c2e21c000002");

struct Recording {
    test::TemporaryHome home;
    double now = 1000.0;
    NetworkProfileStore store{home.dataHome() + QStringLiteral("/FernPoint"),
                              [this] { return now += 1.0; }};
    test::FakeHelperClient client;
    GatewayManager manager{client};
    HistoryRecorder recorder{manager, store};

    // This process starts the network; the status that follows the start is never answered.
    bool start(const QString& networkID, bool succeeds = true) {
        QSignalSpy busy(&manager, &GatewayManager::isBusyChanged);
        client.holdStatus = true;
        if (!succeeds)
            client.commandResult = HelperClientError::helperFailed(QStringLiteral("refused"));
        manager.setNetworkID(networkID);
        manager.startGateway();
        const bool answered = busy.wait(2000) || busy.count() > 1;
        client.commandResult = Nothing{};
        return answered;
    }
    // A snapshot with these fields, or (nullopt) a reply without a snapshot.
    bool publish(const std::optional<QJsonObject>& data) {
        return data ? test::publishData(manager, client, *data)
                    : test::publishStatus(manager, client, std::nullopt, true);
    }
    QJsonArray file() const {
        store.flush();
        QFile file(store.filePath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).array()
                                              : QJsonArray();
    }
};

QJsonObject named(const QString& name, const QString& desc = {},
                  const QString& state = QStringLiteral("running")) {
    return QJsonObject{{QStringLiteral("conn_state"), QStringLiteral("connected")},
                       {QStringLiteral("state"), state},
                       {QStringLiteral("network_name"), name},
                       {QStringLiteral("network_desc"), desc}};
}

} // namespace

class HistoryRecorderTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void recordsOnlyTheRunningNetwork_data() {
        QTest::addColumn<QString>("started"); // by this process; empty: none
        QTest::addColumn<bool>("startSucceeds");
        QTest::addColumn<QString>("filledIn");  // by the window as it appeared; empty: none
        QTest::addColumn<QStringList>("edits"); // of the field, in order, after both
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("recorded"); // empty: nothing recorded

        const QString running = QStringLiteral("running");
        const auto row = [&](const char* name, const QString& started, const QString& filledIn,
                             const QStringList& edits, const QString& recorded,
                             const QString& state = QStringLiteral("running"),
                             bool succeeds = true) {
            QTest::newRow(name) << started << succeeds << filledIn << edits << state << recorded;
        };
        row("started", kId, {}, {}, kId);
        row("starting", kId, {}, {}, kId, QStringLiteral("starting"));
        row("spaces around the field", kId, {}, {QStringLiteral("  ") + kId + QStringLiteral("\t")},
            kId);
        row("core stopped", kId, {}, {}, {}, QStringLiteral("stopped"));
        row("another network typed while one runs", kId, {}, {kOther}, {});
        row("the start failed", kId, {}, {}, {}, running, false);
        row("15 characters", kId, {}, {kId.left(15)}, {});
        row("trailing line break", kId, {}, {kId + QStringLiteral("\n")}, {});
        row("filled in as the window appeared", {}, kId, {}, kId);
        row("filled in, then edited and typed back", {}, kId, {kOther, kId}, {});
        row("typed, nothing started or filled in", {}, {}, {kId}, {});
        row("a start wins over the fill-in", kOther, kId, {kId}, {});
    }
    void recordsOnlyTheRunningNetwork() {
        QFETCH(QString, started);
        QFETCH(bool, startSucceeds);
        QFETCH(QString, filledIn);
        QFETCH(QStringList, edits);
        QFETCH(QString, state);
        QFETCH(QString, recorded);
        Recording r;
        if (!filledIn.isEmpty()) {
            r.manager.setNetworkID(filledIn);
            r.recorder.noteFilledIn(filledIn);
        }
        if (!started.isEmpty())
            QVERIFY(r.start(started, startSucceeds));
        for (const QString& edit : edits)
            r.manager.setNetworkID(edit);
        QVERIFY(r.publish(named(QStringLiteral("Lab"), QStringLiteral("Bench"), state)));

        if (recorded.isEmpty()) {
            QVERIFY(r.store.profiles().isEmpty());
            r.store.flush();
            QVERIFY(!QFile::exists(r.store.filePath()));
            return;
        }
        QCOMPARE(r.store.profiles().size(), 1);
        QCOMPARE(r.store.profiles().first().networkID, recorded);
        QCOMPARE(r.store.profiles().first().name, QStringLiteral("Lab"));
        QCOMPARE(r.file().size(), 1);
    }

    void everyPublishedSnapshotIsRecorded_data() {
        QTest::addColumn<QList<std::optional<QJsonObject>>>("snapshots"); // nullopt: no snapshot
        QTest::addColumn<int>("saves");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("desc");

        using S = std::optional<QJsonObject>;
        const QJsonObject harbor = named(QStringLiteral("Harbor"), QStringLiteral("Uplink"));
        QTest::newRow("name and description learned")
            << QList<S>{harbor} << 1 << QStringLiteral("Harbor") << QStringLiteral("Uplink");
        QTest::newRow("a snapshot without them keeps the stored ones")
            << QList<S>{harbor, named({})} << 2 << QStringLiteral("Harbor")
            << QStringLiteral("Uplink");
        QTest::newRow("only the snapshots count")
            << QList<S>{S(), named({}), S(), named({})} << 2 << QString() << QString();
    }
    void everyPublishedSnapshotIsRecorded() {
        QFETCH(QList<std::optional<QJsonObject>>, snapshots);
        QFETCH(int, saves);
        QFETCH(QString, name);
        QFETCH(QString, desc);
        Recording r;
        QVERIFY(r.start(kId));
        QSignalSpy changes(&r.store, &NetworkProfileStore::profilesChanged);
        for (const std::optional<QJsonObject>& snapshot : snapshots)
            QVERIFY(r.publish(snapshot));
        QCOMPARE(changes.count(), saves);
        QCOMPARE(r.store.profiles().size(), 1);
        const QJsonObject stored = r.file().first().toObject();
        QCOMPARE(stored.value(QStringLiteral("name")).toString(), name);
        QCOMPARE(stored.value(QStringLiteral("desc")).toString(), desc);
    }
};

QTEST_MAIN(HistoryRecorderTest)
#include "tst_HistoryRecorder.moc"
