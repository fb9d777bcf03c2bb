#include "ConnectionNotifier.h"
#include "TrayModel.h"
#include "UiTestRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace fernpoint;

namespace {
const QString kId = QStringLiteral("8a1c93e0aa0b4f21");
const QString kLabel = QStringLiteral("Fern Lab (8a1c…4f21)"); // named by the pretend core
} // namespace

// The tray's and the notices' rules over the real controller and gateway manager, with a helper in
// the process that answers at once, so that twenty polls take milliseconds. The desktop's view of
// them (the exported item, its menu, the notices received) is tst_tray_desktop.
class tst_TrayModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void menuFollowsTheWindowRules_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("stateText");
        QTest::addColumn<QString>("primaryText");
        QTest::addColumn<bool>("primaryEnabled");
        QTest::addColumn<bool>("recentEnabled");
        QTest::newRow("ID one short") << QStringLiteral("short") << QStringLiteral("Disconnected")
                                      << QStringLiteral("Connect") << false << true;
        QTest::newRow("connecting")
            << QStringLiteral("connecting") << QStringLiteral("Connecting… · ") + kId
            << QStringLiteral("Connect to ") + kId << false << false;
        QTest::newRow("connected")
            << QStringLiteral("connected") << QStringLiteral("Connected · ") + kLabel
            << QStringLiteral("Disconnect") << true << false;
        QTest::newRow("disconnecting")
            << QStringLiteral("disconnecting") << QStringLiteral("Disconnecting… · ") + kLabel
            << QStringLiteral("Disconnect") << false << false;
    }

    void menuFollowsTheWindowRules() {
        QFETCH(QString, situation);
        QFETCH(QString, stateText);
        test::ControllerRig rig;
        TrayModel model(rig.controller());
        rig.manager.setNetworkID(situation == u"short" ? kId.left(15) : kId);
        rig.client.holdCommands = situation == u"connecting";
        if (situation != u"short")
            model.triggerPrimary();
        if (situation == u"disconnecting") {
            QTRY_VERIFY(rig.manager.isRunning());
            rig.client.holdCommands = true;
            model.triggerPrimary();
        }
        QTRY_COMPARE(model.view().stateText, stateText);
        QTEST(model.view().primaryText, "primaryText");
        QTEST(model.view().primaryEnabled, "primaryEnabled");
        QTEST(model.view().recentNetworksEnabled, "recentEnabled");
        // A recent network cannot be chosen while the gateway runs or a command is pending.
        const QStringList calls = rig.client.calls;
        const QString other = kId.left(15) + QLatin1Char('0');
        model.connectTo(other);
        QCOMPARE(rig.client.calls.mid(calls.size()),
                 situation == u"short"
                     ? QStringList{QStringLiteral("startGateway ") + other + QStringLiteral(" 0")}
                     : QStringList());
    }

    void noticesOnlyForRealChanges_data() {
        QTest::addColumn<bool>("windowVisible");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("notices");
        QTest::newRow("the user disconnects")
            << false << QStringLiteral("disconnect") << QStringList();
        QTest::newRow("disconnect fails, hidden")
            << false << QStringLiteral("disconnect fails")
            << QStringList{QStringLiteral("Could not disconnect")};
        QTest::newRow("disconnect fails, shown")
            << true << QStringLiteral("disconnect fails") << QStringList();
        QTest::newRow("connected again, shown")
            << true << QStringLiteral("reconnect") << QStringList();
        QTest::newRow("20 polls without change")
            << false << QStringLiteral("polls") << QStringList();
        QTest::newRow("the core stops by itself, shown")
            << true << QStringLiteral("core stops")
            << QStringList{QStringLiteral("Connection lost")};
    }

    void noticesOnlyForRealChanges() {
        QFETCH(bool, windowVisible);
        QFETCH(QString, action);
        test::ControllerRig rig;
        TrayModel model(rig.controller());
        ConnectionNotifier notifier(model, rig.localizer);
        bool visible = false;
        notifier.setWindowVisibility([&visible] { return visible; });
        QStringList notices;
        connect(&notifier, &ConnectionNotifier::noticeRequested, this,
                [&notices](const ConnectionNotifier::Notice& notice) {
                    notices.append(notice.summary);
                });
        rig.manager.setNetworkID(kId);
        model.triggerPrimary();
        QTRY_COMPARE(notices, QStringList{QStringLiteral("Connected")}); // hidden: announced
        QCOMPARE(model.view().stateText, QStringLiteral("Connected · ") + kLabel);
        notices.clear();
        visible = windowVisible;
        QSignalSpy viewChanges(&model, &TrayModel::viewChanged);

        if (action == u"disconnect fails")
            rig.client.commandResult = HelperClientError::helperFailed(QStringLiteral("refused"));
        if (action == u"polls") {
            const qsizetype polls = rig.client.count(u"gatewayStatus");
            rig.manager.startStatusPolling(0.002);
            QTRY_VERIFY(rig.client.count(u"gatewayStatus") >= polls + 20);
        } else if (action == u"core stops") {
            rig.client.coreRunning = false;
            rig.manager.startStatusPolling(0.002);
        } else {
            model.triggerPrimary();
        }
        if (action == u"reconnect") {
            QTRY_VERIFY(!rig.manager.isRunning());
            model.triggerPrimary();
            QTRY_VERIFY(rig.manager.isRunning());
        }
        QTest::qWait(50);
        QTEST(notices, "notices");
        if (action == u"polls")
            QCOMPARE(viewChanges.count(), 0);
    }
};

QTEST_MAIN(tst_TrayModel)
#include "tst_TrayModel.moc"
