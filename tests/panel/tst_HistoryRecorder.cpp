#include "HistoryRecorder.h"
#include "UiTestRig.h"

using namespace fernpoint;

namespace {

const QString kId = u"8056c2e21c000001"_qs;
const QString kOther = u"8056c2e21c000002"_qs;

struct Recording {
    test::TemporaryHome home;
    double now = 1000.0;
    NetworkProfileStore store{home.dataHome() + u"/FernPoint"_qs, [this] { return now += 1.0; }};
    test::FakeHelperClient client;
    GatewayManager manager{client};
    HistoryRecorder recorder{manager, store};

    // This process starts the network; the status that follows the start is never answered.
    bool start(const QString& networkID, bool succeeds) {
        QSignalSpy busy(&manager, &GatewayManager::isBusyChanged);
        client.holdStatus = true;
        if (!succeeds)
            client.commandResult = HelperClientError::helperFailed(u"refused"_qs);
        manager.setNetworkID(networkID);
        manager.startGateway();
        return busy.wait(2000) || busy.count() > 1;
    }
    bool publish(const QString& state, const QString& name) {
        return test::publishData(manager, client,
                                 {{u"conn_state"_qs, u"connected"_qs},
                                  {u"state"_qs, state},
                                  {u"network_name"_qs, name}});
    }
    QStringList stored() const {
        QStringList entries;
        for (const NetworkProfile& profile : store.profiles())
            entries << profile.networkID + u' ' + profile.name;
        return entries;
    }
};

} // namespace

class tst_HistoryRecorder final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A snapshot carries no Network ID: it is recorded only under the network known to run, the
    // one this process started, or else the one filled in as the window appeared, unedited.
    void recordsOnlyTheRunningNetwork_data() {
        QTest::addColumn<QString>("started");   // by this process; empty: none
        QTest::addColumn<QString>("filledIn");  // as the window appeared; empty: none
        QTest::addColumn<QStringList>("edits"); // of the field, in order, after both
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("recorded"); // empty: nothing
        const auto row = [](const char* name, const QString& started, const QString& filledIn,
                            const QStringList& edits, const QString& recorded,
                            const QString& state = u"running"_qs) {
            QTest::newRow(name) << started << filledIn << edits << state << recorded;
        };
        row("started", kId, {}, {}, kId);
        row("starting, blanks around the field", kId, {}, {u"  "_qs + kId + u"\t"_qs}, kId,
            u"starting"_qs);
        row("core stopped", kId, {}, {}, {}, u"stopped"_qs);
        row("another network typed while one runs", kId, {}, {kOther}, {});
        row("the start failed", u"!"_qs + kId, {}, {}, {});
        row("filled in as the window appeared", {}, kId, {}, kId);
        row("filled in, then edited and typed back", {}, kId, {kOther, kId}, {});
        row("typed, nothing started or filled in", {}, {}, {kId}, {});
    }
    void recordsOnlyTheRunningNetwork() {
        QFETCH(QString, started);
        QFETCH(QString, filledIn);
        QFETCH(QStringList, edits);
        QFETCH(QString, state);
        QFETCH(QString, recorded);
        Recording r;
        if (!filledIn.isEmpty()) {
            r.manager.setNetworkID(filledIn);
            r.recorder.noteFilledIn(filledIn);
        }
        const bool refused = started.startsWith(u'!'); // the helper refuses the start
        if (!started.isEmpty())
            QVERIFY(r.start(started.remove(u'!'), !refused));
        r.client.commandResult = Nothing{};
        for (const QString& edit : edits)
            r.manager.setNetworkID(edit);
        QVERIFY(r.publish(state, u"Lab"_qs));
        QCOMPARE(r.stored(),
                 recorded.isEmpty() ? QStringList() : QStringList{recorded + u" Lab"_qs});
    }
};

QTEST_MAIN(tst_HistoryRecorder)
#include "tst_HistoryRecorder.moc"
