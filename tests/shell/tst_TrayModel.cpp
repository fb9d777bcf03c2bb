#include "ConnectionNotifier.h"
#include "TrayModel.h"
#include "UiTestRig.h"

#include <QSignalSpy>
#include <QTest>

using namespace fernpoint;

// The notice rules over the real controller and gateway manager, with a helper in the process that
// answers at once, so that twenty polls take milliseconds. What the desktop receives (the tray
// item, its menu, the notices) is checked by tst_tray_desktop.
class tst_TrayModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noticesOnlyForRealChanges_data() {
        QTest::addColumn<bool>("windowVisible");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("notices");
        const QStringList none;
        QTest::newRow("the user disconnects") << false << QStringLiteral("disconnect") << none;
        QTest::newRow("disconnect fails, hidden")
            << false << QStringLiteral("disconnect fails")
            << QStringList{QStringLiteral("Could not disconnect")};
        QTest::newRow("disconnect fails, shown")
            << true << QStringLiteral("disconnect fails") << none;
        QTest::newRow("connected again, shown") << true << QStringLiteral("reconnect") << none;
        QTest::newRow("20 polls without change") << false << QStringLiteral("polls") << none;
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
        // The window's rule: an ID one character short connects nothing.
        rig.manager.setNetworkID(QStringLiteral("8a1c93e0aa0b4f2"));
        QTRY_COMPARE(model.view().primaryText, QStringLiteral("Connect"));
        QVERIFY(!model.view().primaryEnabled);
        rig.manager.setNetworkID(QStringLiteral("8a1c93e0aa0b4f21"));
        model.triggerPrimary();
        QTRY_COMPARE(notices, QStringList{QStringLiteral("Connected")}); // hidden: announced
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
