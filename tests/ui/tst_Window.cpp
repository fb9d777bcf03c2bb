// The window's rules (ContentController) and its widgets (ContentView) over a helper in the
// process and a temporary home.
#include "ConnectionIndicator.h"
#include "ContentController.h"
#include "ElidedValueLabel.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "PanelStyle.h"
#include "StatusDot.h"
#include "StatusGroupBox.h"
#include "StatusRow.h"
#include "UiTestRig.h"

using namespace fernpoint;
using namespace fernpoint::test;
using C = PanelColor;

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

const QString kValidId = QStringLiteral("0123456789abcdef");
const QString kOlder = u"aaaaaaaaaaaaaaaa"_qs;
const QString kNewest = u"bbbbbbbbbbbbbbbb"_qs;

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

QJsonObject endpoint(const char* address, bool ok) {
    return {{u"endpoints"_qs, QString::fromLatin1(address)}, {u"ok"_qs, ok}};
}

// A connected gateway with every field filled in.
const QJsonObject kFullData{{u"conn_state"_qs, u"connected"_qs},
                            {u"network_name"_qs, u"Harbor Office"_qs},
                            {u"network_desc"_qs, u"Branch uplink"_qs},
                            {u"address_cidr"_qs, u"10.176.20.11/24"_qs},
                            {u"listen_port"_qs, 20619},
                            {u"state"_qs, u"running"_qs},
                            {u"peers"_qs, 7},
                            {u"last_policy_at"_qs, 86400},
                            {u"Nat"_qs, true},
                            {u"endpoints"_qs, QJsonArray{endpoint("203.0.113.7:20619", true),
                                                         endpoint("[2001:db8::7]:20619", false)}},
                            {u"mgmt_ips"_qs, QJsonArray{u"192.0.2.0/24"_qs, u"2001:db8::/64"_qs}}};

} // namespace

class tst_Window : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // A locale that groups digits: numbers in the status panel must not follow it.
        QLocale::setDefault(QLocale(u"de_DE"_qs));
    }

    // Each reply after a full snapshot: the rows (values "nat_…" in the process
    // language), the endpoints with their dots, and the indicator, which follows
    // the connection, not the core.
    void statusPanelShowsTheLatestSnapshot_data() {
        QTest::addColumn<QJsonObject>("data"); // empty: a reply without JSON
        QTest::addColumn<QString>("values");   // rows joined by "|"; empty: no snapshot shown
        QTest::addColumn<QStringList>("endpoints");
        QTest::addColumn<bool>("green");
        QTest::newRow("no JSON, helper running")
            << QJsonObject() << QString() << QStringList() << true;
        QTest::newRow("empty data")
            << QJsonObject{{u"x"_qs, 1}} << u"-|-|-|-|-|-|-|-|nat_off"_qs << QStringList() << false;
        QTest::newRow("everything")
            << kFullData
            << u"connected|Harbor Office|Branch "
               u"uplink|10.176.20.11/24|20619|running|7|"
               "1970-01-02 00:00:00|nat_on"_qs
            << QStringList{u"203.0.113.7:20619"_qs, u"[2001:db8::7]:20619"_qs} << true;
        QTest::newRow("port 0, plain digits, markup and keys verbatim")
            << QJsonObject{{u"listen_port"_qs, 0},
                           {u"peers"_qs, -1234567},
                           {u"network_name"_qs, u"status_row_nat"_qs},
                           {u"network_desc"_qs, u"<b>lab</b> & co"_qs}}
            << u"-|status_row_nat|<b>lab</b> & co|-|0|-|-1234567|-|nat_off"_qs << QStringList()
            << false;
        QTest::newRow("core running, not connected")
            << QJsonObject{{u"conn_state"_qs, u"disconnected"_qs}, {u"state"_qs, u"running"_qs}}
            << u"disconnected|-|-|-|-|running|-|-|nat_off"_qs << QStringList() << false;
    }
    void statusPanelShowsTheLatestSnapshot() {
        QFETCH(QJsonObject, data);
        QFETCH(QString, values);
        QFETCH(QStringList, endpoints);
        QFETCH(bool, green);
        TemporaryHome home;
        FakeHelperClient client;
        GatewayManager manager{client};
        Localizer localizer(QLocale(u"ja"_qs)); // the process in Japanese, the window in English
        localizer.setAppLanguage(u"en"_qs);
        StatusGroupBox box{manager, localizer};
        ConnectionIndicator indicator{manager, localizer};
        QVERIFY(publishData(manager, client, kFullData));
        QVERIFY(data.isEmpty() ? publishStatus(manager, client, {}, true)
                               : publishData(manager, client, data));

        QStringList expected = values.isEmpty() ? QStringList() : values.split(u'|');
        if (!expected.isEmpty())
            expected.last() = localizer.processText(expected.last());
        QStringList shown;
        const auto visible = [&box](const QWidget* widget) { return widget->isVisibleTo(&box); };
        const QList<StatusRow*> rows = box.findChildren<StatusRow*>();
        for (const StatusRow* row :
             visible(box.findChild<QWidget*>(u"snapshot"_qs)) ? rows : QList<StatusRow*>())
            shown.append(row->value());
        QCOMPARE(shown, expected);
        QCOMPARE(visible(box.findChild<QWidget*>(u"emptyText"_qs)), values.isEmpty());
        QStringList lines;
        QList<C> dots; // an endpoint's dot says whether it answered
        const QWidget* list = box.findChild<QWidget*>(u"endpoints"_qs);
        for (const ElidedValueLabel* line : list->findChildren<ElidedValueLabel*>())
            if (visible(line))
                lines.append(line->fullText());
        for (const StatusDot* dot : list->findChildren<StatusDot*>())
            if (visible(dot))
                dots.append(dot->color());
        QCOMPARE(lines, endpoints);
        QCOMPARE(dots, (endpoints.isEmpty() ? QList<C>() : QList<C>{C::Green, C::Red}));
        QCOMPARE(indicator.dot().color(), green ? C::Green : C::Gray);
        QCOMPARE(indicator.text(),
                 localizer.text(green ? "status_connected" : "status_disconnected"));
        if (!values.isEmpty()) // the connection row goes green with the indicator
            QCOMPARE(rows.first()->valueColor(), green ? C::Green : C::Primary);
    }
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

    // As the window appears a blank field gets the newest network. A snapshot carries no Network
    // ID: it is recorded only under the network known to run, the one started here, or else the
    // one filled in as the window appeared, unedited.
    void recordsOnlyTheRunningNetwork_data() {
        QTest::addColumn<QString>("field");     // as the window appears
        QTest::addColumn<QString>("start");     // by the main button: "", "ok" or "refused"
        QTest::addColumn<QStringList>("edits"); // of the field, in order, after both
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("recorded"); // empty: nothing
        const auto row = [](const char* name, const QString& field, const QString& start,
                            const QStringList& edits, const QString& recorded,
                            const QString& state = u"running"_qs) {
            QTest::newRow(name) << field << start << edits << state << recorded;
        };
        row("blank: filled in and recorded", {}, {}, {}, kNewest);
        row("spaces and tabs are blank", u" \t "_qs, {}, {}, kNewest);
        row("a line break is not blank", u"\n"_qs, {}, {}, {});
        row("filled in, then edited and typed back", {}, {}, {kOlder, kNewest}, {});
        row("typed, nothing started or filled in", kValidId, {}, {}, {});
        row("started", kValidId, u"ok"_qs, {}, kValidId);
        row("starting, blanks around the field", kValidId, u"ok"_qs,
            {u"  "_qs + kValidId + u"\t"_qs}, kValidId, u"starting"_qs);
        row("core stopped", kValidId, u"ok"_qs, {}, {}, u"stopped"_qs);
        row("another network typed while one runs", kValidId, u"ok"_qs, {kOlder}, {});
        row("the start failed", kValidId, u"refused"_qs, {}, {});
    }
    void recordsOnlyTheRunningNetwork() {
        QFETCH(QString, field);
        QFETCH(QString, start);
        QFETCH(QStringList, edits);
        QFETCH(QString, state);
        QFETCH(QString, recorded);
        ControllerRig rig;
        rig.store.upsertProfile(kOlder, std::nullopt, std::nullopt);
        rig.store.upsertProfile(kNewest, std::nullopt, std::nullopt);
        rig.client.holdStatus = true; // every status is answered below, by hand
        rig.controller().editNetworkID(field);
        rig.controller().appear();
        if (!start.isEmpty()) {
            if (start == u"refused")
                rig.client.commandResult = HelperClientError::helperFailed(u"refused"_qs);
            rig.controller().pressMainButton();
            QTRY_VERIFY(!rig.manager.isBusy());
            rig.client.commandResult = Nothing{};
        }
        for (const QString& edit : edits)
            rig.controller().editNetworkID(edit);
        QVERIFY(publishData(rig.manager, rig.client,
                            {{u"conn_state"_qs, u"connected"_qs},
                             {u"state"_qs, state},
                             {u"network_name"_qs, u"Lab"_qs}}));
        QStringList named;
        for (const NetworkProfile& profile : rig.store.profiles())
            if (profile.name == u"Lab")
                named << profile.networkID;
        QCOMPARE(named, recorded.isEmpty() ? QStringList() : QStringList{recorded});
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
    }

    // The coloured and dimmed texts stay readable on a dark window as on a light one.
    void coloursStayReadableInBothSchemes() {
        for (const QColor& window : {QColor(0x2b, 0x2b, 0x2e), QColor(Qt::white)})
            for (const C name : {C::Secondary, C::Green, C::Red})
                QVERIFY(contrast(PanelStyle::color(name, QPalette(window, window)), window) >= 3.0);
    }
};

QTEST_MAIN(tst_Window)
#include "tst_Window.moc"
