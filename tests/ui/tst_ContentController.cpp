#include "UiTestRig.h"

#include <QSaveFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace fernpoint;
using fernpoint::test::ControllerRig;

namespace {

const QTimer* pollTimer(const test::ControllerRig& rig) {
    return rig.manager.findChild<QTimer*>(QStringLiteral("statusPollTimer"));
}
const QString kValidId = QStringLiteral("0123456789abcdef");
} // namespace

class tst_ContentController : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mainButtonEnablingRule_data() {
        QTest::addColumn<QString>("networkID");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("enabled");

        QTest::newRow("16 hex with a space at each end")
            << QStringLiteral(" ") + kValidId + QStringLiteral(" ") << false << false << true;
        QTest::newRow("15 characters") << kValidId.left(15) << false << false << false;
        QTest::newRow("empty") << QString() << false << false << false;
        // The window trims spaces and tabs only: a line break counts as a character.
        QTest::newRow("line break + 15")
            << QStringLiteral("\n") + kValidId.left(15) << false << false << true;
        QTest::newRow("busy with a valid ID") << kValidId << false << true << false;
        // Clear all or a deleted entry empties the field; Disconnect must still work.
        QTest::newRow("running with an empty field") << QString() << true << false << true;
        QTest::newRow("running and busy") << QString() << true << true << false;
    }

    void mainButtonEnablingRule() {
        QFETCH(QString, networkID);
        QFETCH(bool, running);
        QFETCH(bool, busy);
        QFETCH(bool, enabled);
        ControllerRig rig;
        ContentController& controller = rig.controller();
        controller.editNetworkID(kValidId);
        if (running) {
            controller.pressMainButton();
            QTRY_VERIFY(rig.manager.uiRunning() && !rig.manager.isBusy());
        }
        if (busy) {
            // An unanswered command keeps the controller busy.
            rig.client.holdCommands = true;
            controller.pressMainButton();
            QVERIFY(rig.manager.isBusy());
        }
        controller.editNetworkID(networkID);
        QCOMPARE(rig.manager.networkID(), networkID); // written through untouched
        QCOMPARE(controller.mainButtonEnabled(), enabled);
        if (!running || busy)
            return;
        controller.pressMainButton();
        QCOMPARE(rig.client.calls.last(), QStringLiteral("stopGateway"));
    }

    void natChangeIsGuardedWhileRunning_data() {
        QTest::addColumn<bool>("running");
        QTest::newRow("stopped: stored and sent") << false;
        QTest::newRow("running: dropped") << true;
    }

    void natChangeIsGuardedWhileRunning() {
        QFETCH(bool, running);
        ControllerRig rig;
        ContentController& controller = rig.controller();
        if (running) {
            controller.editNetworkID(kValidId);
            controller.pressMainButton();
            QTRY_VERIFY(rig.manager.uiRunning());
            QVERIFY(!controller.natSwitchEnabled());
        }
        const bool before = rig.manager.natEnabled();
        rig.client.calls.clear();
        QSignalSpy redraw(&controller, &ContentController::stateChanged);

        controller.changeNat(!before);
        QTest::qWait(50);

        if (running) {
            QCOMPARE(rig.manager.natEnabled(), before);
            QCOMPARE(rig.client.count(u"setNat"), 0);
            // The switch must be told to show the controller's value again.
            QVERIFY(redraw.count() >= 1);
            QCOMPARE(controller.natSwitchChecked(), before);
        } else {
            QCOMPARE(rig.manager.natEnabled(), !before);
            QCOMPARE(rig.client.calls.filter(QStringLiteral("setNat")),
                     QStringList{QStringLiteral("setNat %1").arg(!before)});
        }
    }

    void mainButtonRecordsHistoryBeforeTheCommand_data() {
        QTest::addColumn<bool>("disconnect");
        QTest::addColumn<bool>("commandFails");
        QTest::newRow("connect") << false << false;
        QTest::newRow("connect that fails") << false << true;
        QTest::newRow("disconnect") << true << false;
    }

    void mainButtonRecordsHistoryBeforeTheCommand() {
        QFETCH(bool, disconnect);
        QFETCH(bool, commandFails);
        ControllerRig rig;
        ContentController& controller = rig.controller();
        const QString typed = QStringLiteral("  ") + kValidId + QStringLiteral(" ");
        controller.editNetworkID(typed);
        if (disconnect) {
            controller.pressMainButton();
            QTRY_VERIFY(rig.manager.uiRunning());
            QTRY_VERIFY(!rig.manager.isBusy());
            rig.store.setProfiles({});
        }
        if (commandFails)
            rig.client.commandResult = HelperClientError::helperFailed(QStringLiteral("refused"));
        rig.client.calls.clear();
        connect(&rig.store, &NetworkProfileStore::profilesChanged, &rig.store,
                [&rig] { rig.client.calls.append(QStringLiteral("history")); });

        controller.pressMainButton();

        const QString command = disconnect ? QStringLiteral("stopGateway")
                                           : QStringLiteral("startGateway %1 0").arg(kValidId);
        QTRY_VERIFY(rig.client.calls.contains(command));
        QCOMPARE(rig.client.calls.first(), QStringLiteral("history"));
        QCOMPARE(rig.store.profiles().size(), 1);
        QCOMPARE(rig.store.profiles().first().networkID, kValidId);
    }

    void appearanceFillsABlankField_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QStringList>("history"); // oldest first
        QTest::addColumn<QString>("expected");

        const QString older = QStringLiteral("aaaaaaaaaaaaaaaa");
        const QString newer = QStringLiteral("bbbbbbbbbbbbbbbb");
        QTest::newRow("blank field, history") << QString() << QStringList{older, newer} << newer;
        QTest::newRow("spaces and tabs only")
            << QStringLiteral(" \t ") << QStringList{older} << older;
        QTest::newRow("field with text")
            << QStringLiteral("abc") << QStringList{older} << QStringLiteral("abc");
        // A line break is not white space for the window: the field is not blank.
        QTest::newRow("line break only")
            << QStringLiteral("\n") << QStringList{older} << QStringLiteral("\n");
    }

    void appearanceFillsABlankField() {
        QFETCH(QString, field);
        QFETCH(QStringList, history);
        QFETCH(QString, expected);
        ControllerRig rig;
        for (const QString& id : history)
            rig.store.upsertProfile(id, std::nullopt, std::nullopt);
        ContentController& controller = rig.controller();
        controller.editNetworkID(field);

        controller.appear();
        QCOMPARE(rig.manager.networkID(), expected);
    }

    void helperCheckIsAppliedAfterAppearReturns_data() {
        QTest::addColumn<bool>("present");
        QTest::newRow("helper present: polling restarts") << true;
        QTest::newRow("install fails: a line in the process language") << false;
    }
    void helperCheckIsAppliedAfterAppearReturns() {
        QFETCH(bool, present);
        // The process runs in English while the window shows Japanese.
        ControllerRig rig;
        rig.settings.setValue(Localizer::kSettingKey, QStringLiteral("ja"));
        rig.probe.present = present;
        ContentController& controller = rig.controller();
        QSignalSpy applied(&controller, &ContentController::helperCheckApplied);
        const QTimer* constructionTimer = pollTimer(rig);

        controller.appear();
        // The check itself ran inside appear(), its outcome did not.
        QCOMPARE(rig.probe.calls, 1);
        QCOMPARE(rig.runner.calls, present ? 0 : 1);
        QCOMPARE(applied.count(), 0);
        QCOMPARE(pollTimer(rig), constructionTimer);
        QVERIFY(!rig.manager.lastErrorMessage());

        QTRY_COMPARE(applied.count(), 1);
        QCOMPARE(applied.first().first().toBool(), present);
        if (present) {
            QVERIFY(pollTimer(rig) != constructionTimer);
            QCOMPARE(pollTimer(rig)->interval(), 5000);
            QVERIFY(!rig.manager.lastErrorMessage());
            return;
        }
        const QString line = QStringLiteral("Helper installation failed: install step refused");
        QCOMPARE(rig.manager.lastErrorMessage(), std::optional<QString>(line));
        QCOMPARE(controller.bannerText(), std::optional<QString>(line));
        QCOMPARE(pollTimer(rig), constructionTimer); // polling is left as it was
        // The line keeps its language when the window switches.
        controller.chooseLanguage(1);
        QCOMPARE(controller.bannerText(), std::optional<QString>(line));
    }

    void languagePickerFollowsAndWritesTheSetting_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("selected");
        QTest::newRow("absent: system") << QVariant() << 0;
        QTest::newRow("zhHans") << QVariant(QStringLiteral("zhHans")) << 1;
        QTest::newRow("ja") << QVariant(QStringLiteral("ja")) << 3;
        QTest::newRow("unknown: none") << QVariant(QStringLiteral("zh-Hans")) << -1;
    }

    void languagePickerFollowsAndWritesTheSetting() {
        QFETCH(QVariant, stored);
        QFETCH(int, selected);
        ControllerRig rig;
        if (stored.isValid())
            rig.settings.setValue(Localizer::kSettingKey, stored);
        ContentController& controller = rig.controller();
        QCOMPARE(controller.selectedLanguageIndex(), selected);

        controller.chooseLanguage(3);
        QCOMPARE(rig.settings.value(Localizer::kSettingKey).toString(), QStringLiteral("ja"));
        QCOMPARE(controller.selectedLanguageIndex(), 3);
        QCOMPARE(rig.localizer.text(QStringLiteral("button_connect")), QStringLiteral("接続"));
    }

    // Another program writes the setting: the texts and the picker follow together, also after
    // the file was replaced by a rename (the second write is always in place).
    void followsTheSettingWrittenByAnotherProgram_data() {
        QTest::addColumn<bool>("replaced");
        QTest::newRow("rewritten in place") << false;
        QTest::newRow("replaced by a rename") << true;
    }
    void followsTheSettingWrittenByAnotherProgram() {
        QFETCH(bool, replaced);
        ControllerRig rig;
        rig.settings.sync();
        ContentController& controller = rig.controller();
        const QString path = rig.settings.fileName();
        for (const auto& [value, index] :
             {std::pair{QStringLiteral("ja"), 3}, std::pair{QStringLiteral("zhHans"), 1}}) {
            const QByteArray content = "[General]\nAppLanguage=" + value.toUtf8() + '\n';
            if (std::exchange(replaced, false)) {
                QSaveFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(content);
                QVERIFY(file.commit());
            } else {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                file.write(content);
            }
            QTRY_COMPARE(rig.localizer.appLanguage(), value);
            QCOMPARE(controller.selectedLanguageIndex(), index);
        }
        // The window's own choice is not undone by the watch seeing its write.
        controller.chooseLanguage(2);
        QTest::qWait(100);
        QCOMPARE(rig.localizer.appLanguage(), QStringLiteral("en"));
    }
};

QTEST_GUILESS_MAIN(tst_ContentController)
#include "tst_ContentController.moc"
