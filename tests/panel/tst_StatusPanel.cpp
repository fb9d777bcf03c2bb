#include "ConnectionIndicator.h"
#include "ElidedValueLabel.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "Localizer.h"
#include "PanelTestSupport.h"
#include "PrivateBus.h"
#include "StatusDot.h"
#include "StatusGroupBox.h"
#include "StatusRow.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

using namespace fernpoint;
using fernpoint::test::FakeHelperClient;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QStringList kRowKeys{
    QStringLiteral("status_row_conn_state"),   QStringLiteral("status_row_network_name"),
    QStringLiteral("status_row_network_desc"), QStringLiteral("status_row_local_mgmt"),
    QStringLiteral("status_row_listen_port"),  QStringLiteral("status_row_core_state"),
    QStringLiteral("status_row_peer_count"),   QStringLiteral("status_row_last_policy"),
    QStringLiteral("status_row_nat")};

// One window's worth of panel: the controller behind a fake helper, and both panel widgets.
struct Panel {
    explicit Panel(const QLocale& process = QLocale(QStringLiteral("en")))
        : localizer(process) {}

    fernpoint::test::TemporaryHome home;
    FakeHelperClient client;
    GatewayManager manager{client};
    Localizer localizer;
    StatusGroupBox box{manager, localizer};
    ConnectionIndicator indicator{manager, localizer};

    bool publish(const QJsonObject& data) {
        return fernpoint::test::publishData(manager, client, data);
    }
    QStringList titles() const {
        QStringList shown;
        for (const StatusRow* row : box.rows())
            shown.append(row->title());
        return shown;
    }
    QStringList values() const {
        QStringList shown;
        for (const StatusRow* row : box.rows())
            shown.append(row->value());
        return shown;
    }
    QList<PanelColor> colours() const {
        QList<PanelColor> shown;
        for (const StatusRow* row : box.rows())
            shown.append(row->valueColor());
        return shown;
    }
};

QJsonObject withField(QJsonObject data, const QString& key, const QJsonValue& value) {
    data.insert(key, value);
    return data;
}

using C = PanelColor;

} // namespace

class StatusPanelTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // A locale that groups digits: numbers in the panel must not follow it.
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    }

    void withoutSnapshotOnlyTheEmptyTextShows_data() {
        QTest::addColumn<bool>("publishFirst");
        QTest::addColumn<std::optional<QString>>("json");
        QTest::addColumn<bool>("helperRunning");
        QTest::addColumn<bool>("indicatorGreen");

        QTest::newRow("before the first reply")
            << false << std::optional<QString>() << false << false;
        QTest::newRow("reply without JSON, helper running")
            << true << std::optional<QString>() << true << true;
        QTest::newRow("reply without JSON, helper stopped")
            << true << std::optional<QString>() << false << false;
        QTest::newRow("unparseable JSON")
            << true << std::optional<QString>(QStringLiteral("{")) << true << false;
        QTest::newRow("status reports failure")
            << true
            << std::optional<QString>(QStringLiteral(
                   R"({"ok":false,"error":"core down","data":{"conn_state":"connected"}})"))
            << true << false;
    }
    void withoutSnapshotOnlyTheEmptyTextShows() {
        QFETCH(bool, publishFirst);
        QFETCH(std::optional<QString>, json);
        QFETCH(bool, helperRunning);
        QFETCH(bool, indicatorGreen);

        Panel panel;
        if (publishFirst) {
            // A snapshot first, so that clearing it is seen too.
            QVERIFY(panel.publish(fernpoint::test::fullStatusData()));
            QVERIFY(!panel.box.showsEmptyText());
            QVERIFY(
                fernpoint::test::publishStatus(panel.manager, panel.client, json, helperRunning));
        }

        QVERIFY(panel.box.showsEmptyText());
        QCOMPARE(panel.box.emptyText(),
                 panel.localizer.text(QStringLiteral("network_status_empty")));
        QVERIFY(panel.box.emptyText() != QStringLiteral("network_status_empty"));
        QVERIFY(panel.box.rows().isEmpty());
        QVERIFY(!panel.box.showsEndpoints());
        QVERIFY(!panel.box.showsRemoteManagement());
        QCOMPARE(panel.indicator.dot().color(), indicatorGreen ? C::Green : C::Gray);
    }

    void snapshotRows_data() {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QList<PanelColor>>("colours");

        const QString off = QStringLiteral("nat_off");
        const QString on = QStringLiteral("nat_on");
        const QString dash = QStringLiteral("-");
        const QList<PanelColor> plain{C::Primary, C::Primary, C::Primary, C::Primary,  C::Primary,
                                      C::Primary, C::Primary, C::Primary, C::Secondary};

        QTest::newRow("empty data")
            << QJsonObject() << QStringList{dash, dash, dash, dash, dash, dash, dash, dash, off}
            << plain;
        QTest::newRow("everything")
            << fernpoint::test::fullStatusData()
            << QStringList{QStringLiteral("connected"),
                           QStringLiteral("Harbor Office"),
                           QStringLiteral("Branch uplink, second floor rack"),
                           QStringLiteral("10.147.20.11/24"),
                           QStringLiteral("9993"),
                           QStringLiteral("running"),
                           QStringLiteral("7"),
                           QStringLiteral("1970-01-02 00:00:00"),
                           on}
            << QList<PanelColor>{C::Green,   C::Primary, C::Primary, C::Primary, C::Primary,
                                 C::Primary, C::Primary, C::Primary, C::Green};
        QTest::newRow("port 0 is a value, not absent")
            << QJsonObject{{QStringLiteral("listen_port"), 0}}
            << QStringList{dash, dash, dash, dash, QStringLiteral("0"), dash, dash, dash, off}
            << plain;
        QTest::newRow("plain digits: no grouping, leading minus")
            << QJsonObject{{QStringLiteral("listen_port"), 1234567}, {QStringLiteral("peers"), -42}}
            << QStringList{dash,
                           dash,
                           dash,
                           dash,
                           QStringLiteral("1234567"),
                           dash,
                           QStringLiteral("-42"),
                           dash,
                           off}
            << plain;
        QTest::newRow("state word in another case is shown as sent, not green")
            << QJsonObject{{QStringLiteral("conn_state"), QStringLiteral("Connected")}}
            << QStringList{QStringLiteral("Connected"),
                           dash,
                           dash,
                           dash,
                           dash,
                           dash,
                           dash,
                           dash,
                           off}
            << plain;
        QTest::newRow("values that look like keys or markup are shown verbatim")
            << QJsonObject{{QStringLiteral("network_name"), QStringLiteral("status_row_nat")},
                           {QStringLiteral("network_desc"), QStringLiteral("<b>lab</b> & co")},
                           {QStringLiteral("state"), QString()}}
            << QStringList{dash,
                           QStringLiteral("status_row_nat"),
                           QStringLiteral("<b>lab</b> & co"),
                           dash,
                           dash,
                           QString(),
                           dash,
                           dash,
                           off}
            << plain;
    }
    void snapshotRows() {
        QFETCH(QJsonObject, data);
        QFETCH(QStringList, values);
        QFETCH(QList<PanelColor>, colours);

        // The process and the window speak the same language here; row 9's value is a process
        // lookup, so expected keys are turned into that language's text.
        Panel panel;
        for (QString& value : values)
            if (value.startsWith(QLatin1StringView("nat_")))
                value = panel.localizer.processText(value);
        QVERIFY(panel.publish(data));

        QVERIFY(!panel.box.showsEmptyText());
        QCOMPARE(panel.values(), values);
        QCOMPARE(panel.colours(), colours);
        QStringList titles;
        for (const QString& key : kRowKeys)
            titles.append(panel.localizer.text(key));
        QCOMPARE(panel.titles(), titles);
    }

    void listsShowOnlyWhenNotEmpty_data() {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QList<PanelColor>>("dots");
        QTest::addColumn<QStringList>("remote");

        const QJsonObject full = fernpoint::test::fullStatusData();
        QTest::newRow("both lists, one endpoint down")
            << full
            << QStringList{QStringLiteral("203.0.113.7:9993"),
                           QStringLiteral("[2001:db8:85a3::8a2e:370:7334]:9993")}
            << QList<PanelColor>{C::Green, C::Red}
            << QStringList{QStringLiteral("192.0.2.0/24"),
                           QStringLiteral("2001:db8:1234:5678::/64")};
        const QJsonArray allUp{QJsonObject{{QStringLiteral("endpoints"), QStringLiteral("a:1")},
                                           {QStringLiteral("ok"), true}},
                               QJsonObject{{QStringLiteral("endpoints"), QStringLiteral("b:2")},
                                           {QStringLiteral("ok"), true}}};
        QTest::newRow("all reachable, no remote management")
            << withField(withField(full, QStringLiteral("endpoints"), allUp),
                         QStringLiteral("mgmt_ips"), QJsonArray())
            << QStringList{QStringLiteral("a:1"), QStringLiteral("b:2")}
            << QList<PanelColor>{C::Green, C::Green} << QStringList();
        QTest::newRow("remote management only")
            << withField(full, QStringLiteral("endpoints"), QJsonArray()) << QStringList()
            << QList<PanelColor>()
            << QStringList{QStringLiteral("192.0.2.0/24"),
                           QStringLiteral("2001:db8:1234:5678::/64")};
        QTest::newRow("duplicate remote entries both show")
            << withField(withField(full, QStringLiteral("endpoints"), QJsonArray()),
                         QStringLiteral("mgmt_ips"),
                         QJsonArray{QStringLiteral("192.0.2.0/24"), QStringLiteral("192.0.2.0/24")})
            << QStringList() << QList<PanelColor>()
            << QStringList{QStringLiteral("192.0.2.0/24"), QStringLiteral("192.0.2.0/24")};
    }
    void listsShowOnlyWhenNotEmpty() {
        QFETCH(QJsonObject, data);
        QFETCH(QStringList, addresses);
        QFETCH(QList<PanelColor>, dots);
        QFETCH(QStringList, remote);

        Panel panel;
        // A longer snapshot first: the lists must shrink, not only grow.
        QJsonObject longer = fernpoint::test::fullStatusData();
        QJsonArray manyEndpoints;
        for (int i = 0; i < 4; ++i)
            manyEndpoints.append(
                QJsonObject{{QStringLiteral("endpoints"), QStringLiteral("x:%1").arg(i)},
                            {QStringLiteral("ok"), false}});
        longer.insert(QStringLiteral("endpoints"), manyEndpoints);
        longer.insert(QStringLiteral("mgmt_ips"),
                      QJsonArray{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        QVERIFY(panel.publish(longer));
        QVERIFY(panel.publish(data));

        QCOMPARE(panel.box.showsEndpoints(), !addresses.isEmpty());
        QCOMPARE(panel.box.showsRemoteManagement(), !remote.isEmpty());
        QCOMPARE(panel.box.endpointAddresses(), addresses);
        QCOMPARE(panel.box.endpointColors(), dots);
        QCOMPARE(panel.box.remoteManagementEntries(), remote);
        if (!addresses.isEmpty())
            QCOMPARE(panel.box.endpointsHeading(),
                     panel.localizer.text(QStringLiteral("status_row_endpoints_title")));
        if (!remote.isEmpty())
            QCOMPARE(panel.box.remoteManagementHeading(),
                     panel.localizer.text(QStringLiteral("status_row_remote_mgmt_title")));
    }

    void indicatorFollowsConnectionStateNotCoreState_data() {
        QTest::addColumn<QString>("connState");
        QTest::addColumn<QString>("coreState");
        QTest::addColumn<bool>("green");

        QTest::newRow("starting, not yet connected")
            << QStringLiteral("connecting") << QStringLiteral("starting") << false;
        QTest::newRow("running, not connected")
            << QStringLiteral("disconnected") << QStringLiteral("running") << false;
        QTest::newRow("connected while the core says stopped")
            << QStringLiteral("connected") << QStringLiteral("stopped") << true;
        QTest::newRow("connected and running")
            << QStringLiteral("connected") << QStringLiteral("running") << true;
    }
    void indicatorFollowsConnectionStateNotCoreState() {
        QFETCH(QString, connState);
        QFETCH(QString, coreState);
        QFETCH(bool, green);

        Panel panel;
        QVERIFY(panel.publish(QJsonObject{{QStringLiteral("conn_state"), connState},
                                          {QStringLiteral("state"), coreState}}));

        QCOMPARE(panel.indicator.dot().color(), green ? C::Green : C::Gray);
        QCOMPARE(panel.indicator.textColor(), green ? C::Green : C::Secondary);
        QCOMPARE(panel.indicator.text(),
                 panel.localizer.text(green ? QStringLiteral("status_connected")
                                            : QStringLiteral("status_disconnected")));
        // Row 1 goes green together with the indicator.
        QCOMPARE(panel.box.rows().at(0)->valueColor(), green ? C::Green : C::Primary);
    }

    void natValueFollowsTheProcessLanguage_data() {
        QTest::addColumn<QString>("process");
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("nat");

        QTest::newRow("English process, Japanese window, NAT on")
            << QStringLiteral("en") << QStringLiteral("ja") << true;
        QTest::newRow("English process, Chinese window, NAT off")
            << QStringLiteral("en") << QStringLiteral("zhHans") << false;
        QTest::newRow("Japanese process, English window, NAT off")
            << QStringLiteral("ja") << QStringLiteral("en") << false;
    }
    void natValueFollowsTheProcessLanguage() {
        QFETCH(QString, process);
        QFETCH(QString, window);
        QFETCH(bool, nat);

        Panel panel{QLocale(process)};
        panel.localizer.setAppLanguage(window);
        QVERIFY(panel.publish(QJsonObject{{QStringLiteral("Nat"), nat}}));

        const QString key = nat ? QStringLiteral("nat_on") : QStringLiteral("nat_off");
        const StatusRow* natRow = panel.box.rows().at(8);
        QCOMPARE(natRow->value(), panel.localizer.processText(key));
        QVERIFY(natRow->value() != panel.localizer.text(key));
        QCOMPARE(natRow->title(), panel.localizer.text(QStringLiteral("status_row_nat")));
        QCOMPARE(panel.box.rows().at(6)->title(),
                 panel.localizer.text(QStringLiteral("status_row_peer_count")));
        QVERIFY(panel.box.rows().at(6)->title() !=
                Localizer(QLocale(process)).text(QStringLiteral("status_row_peer_count")));
    }

    void switchingLanguageRedrawsEveryKeyedText() {
        Panel panel;
        panel.localizer.setAppLanguage(QStringLiteral("en"));
        QVERIFY(panel.publish(fernpoint::test::fullStatusData()));
        const QStringList englishTitles = panel.titles();
        const QString englishIndicator = panel.indicator.text();
        const QString englishBoxTitle = panel.box.title();
        const QString englishEndpoints = panel.box.endpointsHeading();
        const QString englishRemote = panel.box.remoteManagementHeading();
        const QString natValue = panel.values().at(8);

        panel.localizer.setAppLanguage(QStringLiteral("ja"));

        const QStringList japaneseTitles = panel.titles();
        for (int i = 0; i < kRowKeys.size(); ++i) {
            QCOMPARE(japaneseTitles.at(i), panel.localizer.text(kRowKeys.at(i)));
            // NAT is the same word in both languages.
            if (kRowKeys.at(i) != QLatin1StringView("status_row_nat"))
                QVERIFY2(japaneseTitles.at(i) != englishTitles.at(i), qPrintable(kRowKeys.at(i)));
        }
        QVERIFY(panel.indicator.text() != englishIndicator);
        QVERIFY(panel.box.title() != englishBoxTitle);
        QCOMPARE(panel.box.title(), panel.localizer.text(QStringLiteral("network_status_title")));
        QVERIFY(panel.box.endpointsHeading() != englishEndpoints);
        QVERIFY(panel.box.remoteManagementHeading() != englishRemote);
        QCOMPARE(panel.values().at(8), natValue);
    }

    void snapshotsUpdateRowsInPlace() {
        Panel panel;
        QVERIFY(panel.publish(fernpoint::test::fullStatusData()));
        const QList<const StatusRow*> before = panel.box.rows();
        QVERIFY(panel.publish(
            withField(fernpoint::test::fullStatusData(), QStringLiteral("peers"), 8)));
        QCOMPARE(panel.box.rows(), before);
        QCOMPARE(panel.values().at(6), QStringLiteral("8"));
    }

    // Colours are set again on every update; they must come out the same each time, and a value
    // that turns from green back to primary must really be drawn in the primary colour again.
    void repeatedUpdatesKeepTheDrawnColours() {
        Panel panel;
        const QJsonObject connected = fernpoint::test::fullStatusData();
        const QJsonObject disconnected =
            withField(connected, QStringLiteral("conn_state"), QStringLiteral("disconnected"));
        QVERIFY(panel.publish(disconnected));
        const StatusRow* connection = panel.box.rows().at(0);
        const StatusRow* nat = panel.box.rows().at(8);
        const QColor primary = connection->valueLabel().palette().color(QPalette::WindowText);
        const QColor natColour = nat->valueLabel().palette().color(QPalette::WindowText);
        for (int i = 0; i < 5; ++i) {
            QVERIFY(panel.publish(connected));
            QVERIFY(panel.publish(disconnected));
        }
        QCOMPARE(connection->valueLabel().palette().color(QPalette::WindowText), primary);
        QCOMPARE(nat->valueLabel().palette().color(QPalette::WindowText), natColour);
        QVERIFY(natColour != panel.box.palette().color(QPalette::Window));
    }

    void longValuesAreElidedButCopiedWhole() {
        Panel panel;
        const QString description =
            QStringLiteral("Primary uplink for the harbour office with failover through the "
                           "second carrier, racked on the second floor next to the printers");
        QVERIFY(panel.publish(withField(fernpoint::test::fullStatusData(),
                                        QStringLiteral("network_desc"), description)));
        panel.box.resize(360, panel.box.sizeHint().height());
        panel.box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel.box));

        const ElidedValueLabel& label = panel.box.rows().at(2)->valueLabel();
        QVERIFY(label.isElided());
        QVERIFY(label.text().contains(QChar(0x2026)));
        // Both ends stay readable.
        QVERIFY(label.text().startsWith(QStringLiteral("Primary")));
        QVERIFY(label.text().endsWith(QStringLiteral("printers")));
        QCOMPARE(label.toolTip(), description);
        QVERIFY(label.width() <= panel.box.width());

        QApplication::clipboard()->clear();
        QTest::keyClick(const_cast<ElidedValueLabel*>(&label), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), description);

        // A short value is neither elided nor given a tooltip.
        const ElidedValueLabel& port = panel.box.rows().at(4)->valueLabel();
        QVERIFY(!port.isElided());
        QVERIFY(port.toolTip().isEmpty());
    }
};

QTEST_MAIN(StatusPanelTest)
#include "tst_StatusPanel.moc"
