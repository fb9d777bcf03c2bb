// The window's rules (ContentController) and its widgets (ContentView) over a helper in the
// process and a temporary home.
#include "ContentController.h"
#include "ContentView.h"
#include "ErrorBanner.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "HistoryButton.h"
#include "HistoryPopover.h"
#include "MainButton.h"
#include "SegmentedPicker.h"
#include "ToggleSwitch.h"
#include "UiTestFakes.h"
#include "UiTestRig.h"
#include "WindowTexts.h"

using namespace fernpoint;
using namespace fernpoint::test;

namespace {

// The window's collaborators wired as in the application, but with a fake helper, a fake installer
// back end and a temporary home: nothing here can install.
struct ControllerRig {
    ControllerRig()
        : settings(home.configHome() + QStringLiteral("/FernPoint/fernpoint.conf"),
                   QSettings::IniFormat)
        , installer(probe, runner, settings, QStringLiteral("/nonexistent/fernpoint-helper"))
        , manager(client)
        , store(home.dataHome() + QStringLiteral("/FernPoint"), [this] { return ++clockTicks; })
        , localizer(QLocale(QStringLiteral("en_US"))) {
        settings.setValue(HelperInstaller::installedVersionKey, QString(contract::kVersion));
    }

    ContentController& controller() {
        if (!m_controller)
            m_controller =
                std::make_unique<ContentController>(manager, store, installer, localizer, settings);
        return *m_controller;
    }

    TemporaryHome home;
    QSettings settings;
    FakeJobProbe probe;
    FakeRunner runner;
    HelperInstaller installer;
    FakeHelperClient client;
    GatewayManager manager;
    double clockTicks = 1000.0;
    NetworkProfileStore store;
    Localizer localizer;

private:
    std::unique_ptr<ContentController> m_controller;
};

// The window's content over a ControllerRig, with its controls found by their object names.
struct ViewRig : ControllerRig {
    ViewRig()
        : view(controller()) {}
    template<typename T> T* part(const char* name) const {
        return view.findChild<T*>(QString::fromLatin1(name));
    }

    ContentView view;
    SegmentedPicker* const picker = part<SegmentedPicker>("languagePicker");
    ErrorBanner* const banner = part<ErrorBanner>("errorBanner");
    QLineEdit* const field = part<QLineEdit>("networkIdField");
    HistoryButton* const historyButton = part<HistoryButton>("historyButton");
    MainButton* const mainButton = part<MainButton>("mainButton");
    ToggleSwitch* const natSwitch = part<ToggleSwitch>("natSwitch");
};

const QString kValidId = QStringLiteral("0123456789abcdef");

bool connectWith(ControllerRig& rig) {
    rig.controller().editNetworkID(kValidId);
    rig.controller().pressMainButton();
    return QTest::qWaitFor([&] { return rig.manager.uiRunning() && !rig.manager.isBusy(); });
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

} // namespace

class tst_Window : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mainButtonRule_data() {
        QTest::addColumn<QString>("networkID");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("spaces around 16") << u" %1\t"_qs.arg(kValidId) << false << false << true;
        QTest::newRow("15 characters") << kValidId.left(15) << false << false << false;
        // Only spaces and tabs are trimmed: a line break counts as a character.
        QTest::newRow("line break + 15") << u"\n"_qs + kValidId.left(15) << false << false << true;
        QTest::newRow("16 characters of two UTF-16 units each")
            << QString::fromUtf8("😀").repeated(16) << false << false << true;
        QTest::newRow("8 characters, 16 UTF-16 units")
            << QString::fromUtf8("😀").repeated(8) << false << false << false;
        QTest::newRow("busy") << kValidId << false << true << false;
        // Clear all or a deleted entry empties the field; Disconnect must still work.
        QTest::newRow("running, empty field") << QString() << true << false << true;
        QTest::newRow("running and busy") << QString() << true << true << false;
    }
    void mainButtonRule() {
        QFETCH(QString, networkID);
        QFETCH(bool, running);
        QFETCH(bool, busy);
        ControllerRig rig;
        if (running)
            QVERIFY(connectWith(rig));
        if (busy) {
            rig.client.holdCommands = true; // an unanswered command keeps it busy
            rig.controller().editNetworkID(kValidId);
            rig.controller().pressMainButton();
        }
        rig.controller().editNetworkID(networkID);
        QTEST(rig.controller().mainButtonEnabled(), "enabled");
        if (running && !busy) {
            rig.controller().pressMainButton();
            QCOMPARE(rig.client.calls.last(), u"stopGateway"_qs);
        }
    }

    // The switch is locked while the core runs, connected or not yet.
    void natSwitchFollowsTheCore_data() {
        QTest::addColumn<QString>("core");
        QTest::newRow("stopped: stored and sent") << u"stopped"_qs;
        QTest::newRow("connected: dropped") << u"running"_qs;
        QTest::newRow("starting, not yet connected: dropped") << u"starting"_qs;
    }
    void natSwitchFollowsTheCore() {
        QFETCH(QString, core);
        ControllerRig rig;
        ContentController& controller = rig.controller();
        if (core == u"running")
            QVERIFY(connectWith(rig));
        if (core == u"starting")
            QVERIFY(publishData(rig.manager, rig.client, {{u"state"_qs, core}}));
        const bool locked = core != u"stopped";
        QCOMPARE(controller.natSwitchEnabled(), !locked);
        rig.client.calls.clear();
        QSignalSpy redraw(&controller, &ContentController::stateChanged);
        controller.changeNat(true);
        QCOMPARE(rig.manager.natEnabled(), !locked);
        QTRY_COMPARE(rig.client.count(u"setNat 1"), locked ? 0 : 1);
        QVERIFY(!redraw.isEmpty()); // a dropped change redraws the switch as it was
    }

    // A blank field gets the newest network as the window appears, and that network is recorded
    // on each poll while it runs, though this process did not start it.
    void appearanceFillsABlankField_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blank") << QString() << u"bbbbbbbbbbbbbbbb"_qs;
        QTest::newRow("spaces and tabs") << u" \t "_qs << u"bbbbbbbbbbbbbbbb"_qs;
        QTest::newRow("line break: not blank") << u"\n"_qs << u"\n"_qs;
    }
    void appearanceFillsABlankField() {
        QFETCH(QString, field);
        QFETCH(QString, expected);
        ControllerRig rig;
        rig.store.upsertProfile(u"aaaaaaaaaaaaaaaa"_qs, std::nullopt, std::nullopt);
        rig.store.upsertProfile(u"bbbbbbbbbbbbbbbb"_qs, std::nullopt, std::nullopt);
        rig.controller().editNetworkID(field);
        QSignalSpy applied(&rig.controller(), &ContentController::helperCheckApplied);
        rig.controller().appear();
        QCOMPARE(rig.manager.networkID(), expected);
        QVERIFY(applied.wait());
        rig.client.coreRunning = true;
        rig.manager.startStatusPolling(0.01);
        QTRY_COMPARE(rig.store.mostRecentProfile()->name,
                     field == u"\n" ? QString() : u"Fern Lab"_qs);
    }

    void helperCheckIsAppliedAfterAppearReturns_data() {
        QTest::addColumn<bool>("present");
        QTest::newRow("helper present: polling restarts") << true;
        QTest::newRow("install fails: a line in the process language") << false;
    }
    void helperCheckIsAppliedAfterAppearReturns() {
        QFETCH(bool, present);
        ControllerRig rig; // the process in English, the window in Japanese
        rig.settings.setValue(Localizer::kSettingKey, u"ja"_qs);
        rig.probe.present = present;
        ContentController& controller = rig.controller();
        QSignalSpy applied(&controller, &ContentController::helperCheckApplied);
        const auto timer = [&rig] { return rig.manager.findChild<QTimer*>(u"statusPollTimer"_qs); };
        const QTimer* constructionTimer = timer();
        controller.appear();
        // The check itself ran inside appear(), its outcome did not.
        QCOMPARE(rig.runner.calls, present ? 0 : 1);
        QVERIFY(applied.isEmpty() && timer() == constructionTimer);
        QTRY_COMPARE(applied.count(), 1);
        QCOMPARE(applied.first().first().toBool(), present);
        QCOMPARE(timer() != constructionTimer, present);
        QCOMPARE(controller.bannerText(),
                 present ? std::optional<QString>()
                         : std::optional(u"Helper installation failed: install step refused"_qs));
    }

    // The picker shows the stored language; another program's write is followed by the texts and
    // the picker together, also when the file did not exist and is made by a rename.
    void languageFollowsTheSetting_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("selected");
        QTest::newRow("absent: system") << QVariant() << 0;
        QTest::newRow("zhHans") << QVariant(u"zhHans"_qs) << 1;
        QTest::newRow("unknown: none") << QVariant(u"zh-Hans"_qs) << -1;
    }
    void languageFollowsTheSetting() {
        QFETCH(QVariant, stored);
        QFETCH(int, selected);
        ControllerRig rig; // with no value stored, its settings file is not written yet
        QVERIFY(QDir().mkpath(QFileInfo(rig.settings.fileName()).absolutePath()));
        if (stored.isValid()) {
            rig.settings.setValue(Localizer::kSettingKey, stored);
            rig.settings.sync();
        }
        ContentController& controller = rig.controller();
        QCOMPARE(controller.selectedLanguageIndex(), selected);
        for (const auto& [value, index] : {std::pair{u"ja"_qs, 3}, std::pair{u"zhHans"_qs, 1}}) {
            QSaveFile file(rig.settings.fileName());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General]\nAppLanguage=" + value.toUtf8() + '\n');
            QVERIFY(file.commit());
            QTRY_COMPARE(rig.localizer.appLanguage(), value);
            QCOMPARE(controller.selectedLanguageIndex(), index);
        }
        controller.chooseLanguage(2);
        QTest::qWait(100); // the watch seeing the window's own write undoes nothing
        QCOMPARE(rig.settings.value(Localizer::kSettingKey).toString(), u"en"_qs);
        QCOMPARE(rig.localizer.text("button_connect"), u"Connect"_qs);
    }

    void languageSwitchRetranslatesInPlace() {
        ViewRig rig;
        rig.view.resize(640, 480);
        rig.view.show();
        QTest::keyClicks(rig.field, u" "_qs + kValidId);
        const QString error = u"first\nsecond"_qs;
        rig.manager.setLastErrorMessage(error);
        const char* const keys[] = {"network_id_label",     "network_id_placeholder",
                                    "history_button",       "button_connect",
                                    "nat_toggle_title",     "status_disconnected",
                                    "network_status_title", "network_status_empty"};
        const Localizer english{QLocale(u"en_US"_qs)};
        for (const int segment : {2, 1, 3, 0}) { // 0: the system's, English here
            QTest::mouseClick(const_cast<QToolButton*>(rig.picker->segment(segment)),
                              Qt::LeftButton);
            QCOMPARE(rig.picker->selectedIndex(), segment);
            const QStringList texts = visibleTexts(rig.view);
            for (const QString& text : texts)
                QVERIFY2(!isRawKey(text), qPrintable(text));
            for (const char* key : keys) {
                QVERIFY2(texts.contains(rig.localizer.text(key)), key);
                QVERIFY2(segment % 2 == 0 || !texts.contains(english.text(key)), key);
            }
            QCOMPARE(rig.field->text(), u" "_qs + kValidId); // the form and the banner stay
            QCOMPARE(rig.banner->message(), std::optional(error));
        }
    }

    void keyboardAndButtons() {
        ViewRig rig;
        rig.view.resize(900, 600);
        rig.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.view));
        // The NAT switch is centred in its row of 380, itself 20 from the left.
        const QRect row = rig.natSwitch->parentWidget()->geometry();
        QVERIFY(row.left() == 20 && row.width() == 380);
        QVERIFY(qAbs(rig.natSwitch->geometry().center().x() - 190) <= 1);

        rig.natSwitch->setFocus(); // Space toggles the NAT switch through the guarded write
        QTest::keyClick(rig.natSwitch, Qt::Key_Space);
        QTRY_VERIFY(rig.client.calls.contains(u"setNat 1"_qs) && rig.natSwitch->isChecked());

        QVERIFY(!rig.mainButton->isEnabled());
        QTest::keyClicks(rig.field, kValidId);
        QVERIFY(rig.mainButton->isEnabled() && !rig.mainButton->isDestructive());
        QTest::mouseClick(rig.mainButton, Qt::LeftButton);
        QTRY_VERIFY(rig.mainButton->isDestructive() && !rig.natSwitch->isEnabled());
        QCOMPARE(rig.mainButton->text(), u"Disconnect"_qs);
        rig.client.holdCommands = true;
        QTest::mouseClick(rig.mainButton, Qt::LeftButton);
        QVERIFY(rig.mainButton->isBusy() && !rig.mainButton->isEnabled());
        rig.picker->setFocus(); // arrows move the picker's choice and store it
        QTest::keyClick(rig.picker, Qt::Key_Right);
        QCOMPARE(rig.settings.value(Localizer::kSettingKey).toString(), u"zhHans"_qs);
    }

    void appearanceRunsOnEachShowNotOnRepaint() {
        ViewRig rig;
        rig.view.show();
        rig.view.repaint();
        QCOMPARE(rig.probe.calls, 1);
        rig.view.hide();
        rig.view.show();
        QCOMPARE(rig.probe.calls, 2);
    }

    // Every text keeps a readable contrast across a light/dark switch, the dimmed ones of the
    // status rows and the popover included.
    void textsStayReadableAcrossALightDarkSwitch() {
        ViewRig rig;
        rig.view.show();
        QTest::keyClicks(rig.field, kValidId);
        QTest::mouseClick(rig.mainButton, Qt::LeftButton);
        QTRY_VERIFY(rig.manager.currentStatus());
        QTest::mouseClick(rig.historyButton, Qt::LeftButton);
        auto* popover = rig.part<HistoryPopover>("historyPopover");
        QTRY_VERIFY(popover && popover->isVisible());
        for (const QPalette& palette : {darkPalette(), QApplication::palette()}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            int checked = 0;
            for (const QLabel* label :
                 rig.view.findChildren<QLabel*>() + popover->findChildren<QLabel*>()) {
                if (!label->isVisible() || label->text().isEmpty())
                    continue;
                QVERIFY2(contrast(label->palette().color(QPalette::WindowText),
                                  palette.color(QPalette::Window)) >= 3.0,
                         qPrintable(label->text()));
                ++checked;
            }
            QVERIFY(checked > 20); // status rows, headings, popover rows
        }
    }
};

QTEST_MAIN(tst_Window)
#include "tst_Window.moc"
