#include "ConnectionIndicator.h"
#include "ElidedValueLabel.h"
#include "Localizer.h"
#include "PanelTestSupport.h"
#include "PrivateBus.h"
#include "StatusDot.h"
#include "StatusGroupBox.h"
#include "StatusRow.h"

#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QLabel>

using namespace fernpoint;
using C = PanelColor;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QStringList kRowKeys{
    QStringLiteral("status_row_conn_state"),   QStringLiteral("status_row_network_name"),
    QStringLiteral("status_row_network_desc"), QStringLiteral("status_row_local_mgmt"),
    QStringLiteral("status_row_listen_port"),  QStringLiteral("status_row_core_state"),
    QStringLiteral("status_row_peer_count"),   QStringLiteral("status_row_last_policy"),
    QStringLiteral("status_row_nat")};

QJsonObject endpoint(const QString& address, bool ok) {
    return QJsonObject{{QStringLiteral("endpoints"), address}, {QStringLiteral("ok"), ok}};
}

// A connected gateway with every field filled in, with some fields replaced.
QJsonObject fullData(const QJsonObject& changes = {}) {
    QJsonObject data{
        {QStringLiteral("conn_state"), QStringLiteral("connected")},
        {QStringLiteral("network_name"), QStringLiteral("Harbor Office")},
        {QStringLiteral("network_desc"), QStringLiteral("Branch uplink")},
        {QStringLiteral("address_cidr"), QStringLiteral("10.176.20.11/24")},
        {QStringLiteral("listen_port"), 20619},
        {QStringLiteral("state"), QStringLiteral("running")},
        {QStringLiteral("peers"), 7},
        {QStringLiteral("last_policy_at"), 86400},
        {QStringLiteral("Nat"), true},
        {QStringLiteral("endpoints"),
         QJsonArray{endpoint(QStringLiteral("203.0.113.7:20619"), true),
                    endpoint(QStringLiteral("[2001:db8::7]:20619"), false)}},
        {QStringLiteral("mgmt_ips"),
         QJsonArray{QStringLiteral("192.0.2.0/24"), QStringLiteral("2001:db8:1234::/64")}},
    };
    for (auto it = changes.begin(); it != changes.end(); ++it)
        data.insert(it.key(), it.value());
    return data;
}

// One window's worth of panel: the controller behind a fake helper, and both panel widgets.
struct Panel {
    explicit Panel(const QLocale& process = QLocale(QStringLiteral("en")))
        : localizer(process) {}

    test::TemporaryHome home;
    test::FakeHelperClient client;
    GatewayManager manager{client};
    Localizer localizer;
    StatusGroupBox box{manager, localizer};
    ConnectionIndicator indicator{manager, localizer};

    bool publish(const QJsonObject& data) { return test::publishData(manager, client, data); }
    template<typename T = QWidget> T* part(const char* name) const {
        return box.findChild<T*>(QString::fromLatin1(name));
    }
    bool shows(const char* name) const { return part(name)->isVisibleTo(&box); }
    // The rows while a snapshot shows; none otherwise.
    QList<StatusRow*> rows() const {
        return shows("snapshot") ? box.findChildren<StatusRow*>() : QList<StatusRow*>();
    }
    // The full texts of a list's lines, and the colours of its dots.
    QStringList lines(const char* list) const {
        QStringList texts;
        for (const ElidedValueLabel* line : part(list)->findChildren<ElidedValueLabel*>())
            texts.append(line->fullText());
        return texts;
    }
    QList<PanelColor> dots() const {
        QList<PanelColor> colours;
        for (const StatusDot* dot : part("endpoints")->findChildren<StatusDot*>())
            colours.append(dot->color());
        return colours;
    }
    template<typename Get> auto column(Get get) const {
        QList<decltype(get(*rows().first()))> shown;
        for (const StatusRow* row : rows())
            shown.append(get(*row));
        return shown;
    }
    QStringList titles() const {
        return column([](const StatusRow& r) { return r.title(); });
    }
    QStringList values() const {
        return column([](const StatusRow& r) { return r.value(); });
    }
    QColor drawnColour(int row) const {
        return rows().at(row)->valueLabel().palette().color(QPalette::WindowText);
    }
};

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
        QTest::addColumn<bool>("helperRunning");

        QTest::newRow("before the first reply") << false << false;
        QTest::newRow("reply without JSON, helper running") << true << true;
        QTest::newRow("reply without JSON, helper stopped") << true << false;
    }
    void withoutSnapshotOnlyTheEmptyTextShows() {
        QFETCH(bool, publishFirst);
        QFETCH(bool, helperRunning);
        Panel panel;
        if (publishFirst) {
            // A snapshot first, so that clearing it is seen too.
            QVERIFY(panel.publish(fullData()));
            QVERIFY(!panel.shows("emptyText"));
            QVERIFY(test::publishStatus(panel.manager, panel.client, std::nullopt, helperRunning));
        }
        QVERIFY(panel.shows("emptyText"));
        QVERIFY(panel.rows().isEmpty());
        QCOMPARE(panel.indicator.dot().color(), helperRunning ? C::Green : C::Gray);
    }

    void snapshotRows_data() {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QStringList>("values"); // "nat_…": the process language's text
        QTest::addColumn<QList<PanelColor>>("colours");

        const auto shown = [](const char* cells) { return QString::fromUtf8(cells).split(u'|'); };
        const QList<PanelColor> plain{C::Primary, C::Primary, C::Primary, C::Primary,  C::Primary,
                                      C::Primary, C::Primary, C::Primary, C::Secondary};
        QTest::newRow("empty data") << QJsonObject() << shown("-|-|-|-|-|-|-|-|nat_off") << plain;
        QTest::newRow("everything")
            << fullData()
            << shown("connected|Harbor Office|Branch uplink|10.176.20.11/24|20619|running|7|"
                     "1970-01-02 00:00:00|nat_on")
            << QList<PanelColor>{C::Green,   C::Primary, C::Primary, C::Primary, C::Primary,
                                 C::Primary, C::Primary, C::Primary, C::Green};
        QTest::newRow("port 0 is a value; plain digits, leading minus")
            << QJsonObject{{QStringLiteral("listen_port"), 0}, {QStringLiteral("peers"), -1234567}}
            << shown("-|-|-|-|0|-|-1234567|-|nat_off") << plain;
        QTest::newRow("values that look like keys or markup are shown verbatim")
            << QJsonObject{{QStringLiteral("network_name"), QStringLiteral("status_row_nat")},
                           {QStringLiteral("network_desc"), QStringLiteral("<b>lab</b> & co")},
                           {QStringLiteral("state"), QString()}}
            << shown("-|status_row_nat|<b>lab</b> & co|-|-||-|-|nat_off") << plain;
    }
    void snapshotRows() {
        QFETCH(QJsonObject, data);
        QFETCH(QStringList, values);
        QFETCH(QList<PanelColor>, colours);
        Panel panel;
        values.last() = panel.localizer.processText(values.last());
        QVERIFY(panel.publish(data));

        QVERIFY(!panel.shows("emptyText"));
        QCOMPARE(panel.values(), values);
        QCOMPARE(panel.column([](const StatusRow& r) { return r.valueColor(); }), colours);
    }

    void listsShowOnlyWhenNotEmpty_data() {
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QList<PanelColor>>("dots");
        QTest::addColumn<QStringList>("remote");

        const QStringList remote{QStringLiteral("192.0.2.0/24"),
                                 QStringLiteral("2001:db8:1234::/64")};
        QTest::newRow("both lists, one endpoint down")
            << fullData()
            << QStringList{QStringLiteral("203.0.113.7:20619"),
                           QStringLiteral("[2001:db8::7]:20619")}
            << QList<PanelColor>{C::Green, C::Red} << remote;
        QTest::newRow("remote management only, duplicates kept")
            << fullData({{QStringLiteral("endpoints"), QJsonArray()},
                         {QStringLiteral("mgmt_ips"),
                          QJsonArray{QStringLiteral("x/8"), QStringLiteral("x/8")}}})
            << QStringList() << QList<PanelColor>()
            << QStringList{QStringLiteral("x/8"), QStringLiteral("x/8")};
    }
    void listsShowOnlyWhenNotEmpty() {
        QFETCH(QJsonObject, data);
        QFETCH(QStringList, addresses);
        QFETCH(QList<PanelColor>, dots);
        QFETCH(QStringList, remote);
        Panel panel;
        // A longer snapshot first: the lists must shrink, not only grow.
        QJsonArray many;
        for (int i = 0; i < 4; ++i)
            many.append(endpoint(QStringLiteral("x:%1").arg(i), false));
        QVERIFY(panel.publish(fullData(
            {{QStringLiteral("endpoints"), many},
             {QStringLiteral("mgmt_ips"),
              QJsonArray{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}}})));
        QVERIFY(panel.publish(data));

        QCOMPARE(panel.shows("endpoints"), !addresses.isEmpty());
        QCOMPARE(panel.shows("remoteManagement"), !remote.isEmpty());
        QCOMPARE(panel.lines("endpoints"), addresses);
        QCOMPARE(panel.dots(), dots);
        QCOMPARE(panel.lines("remoteManagement"), remote);
    }

    void indicatorFollowsConnectionStateNotCoreState_data() {
        QTest::addColumn<QString>("connState");
        QTest::addColumn<QString>("coreState");
        QTest::addColumn<bool>("green");

        QTest::newRow("running, not connected")
            << QStringLiteral("disconnected") << QStringLiteral("running") << false;
        QTest::newRow("connected while the core says stopped")
            << QStringLiteral("connected") << QStringLiteral("stopped") << true;
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
        QCOMPARE(panel.rows().at(0)->valueColor(), green ? C::Green : C::Primary);
    }

    // Titles follow the window's language as it switches; the NAT value stays in the process's.
    void languagesOfTitlesAndNatValue() {
        Panel panel{QLocale(QStringLiteral("ja"))};
        panel.localizer.setAppLanguage(QStringLiteral("en"));
        QVERIFY(panel.publish(fullData()));
        const QString nat = panel.localizer.processText(QStringLiteral("nat_on"));
        QCOMPARE(panel.values().at(8), nat);
        QVERIFY(nat != panel.localizer.text(QStringLiteral("nat_on")));

        panel.localizer.setAppLanguage(QStringLiteral("zhHans"));
        const QStringList keys =
            QStringList{QStringLiteral("status_connected"), QStringLiteral("network_status_title"),
                        QStringLiteral("status_row_endpoints_title"),
                        QStringLiteral("status_row_remote_mgmt_title")} +
            kRowKeys;
        QStringList expected;
        for (const QString& key : keys)
            expected.append(panel.localizer.text(key));
        QCOMPARE(QStringList({panel.indicator.text(), panel.box.title(),
                              panel.part<QLabel>("endpointsHeading")->text(),
                              panel.part<QLabel>("remoteManagementHeading")->text()}) +
                     panel.titles(),
                 expected);
        QCOMPARE(panel.values().at(8), nat);
    }

    // Colours are set again on every update, on the same rows; they must come out the same each
    // time, and a value that turns from green back to primary must really be drawn in the primary
    // colour again.
    void repeatedUpdatesKeepTheDrawnColours() {
        Panel panel;
        const QJsonObject connected = fullData();
        const QJsonObject disconnected =
            fullData({{QStringLiteral("conn_state"), QStringLiteral("disconnected")}});
        QVERIFY(panel.publish(disconnected));
        const QList<StatusRow*> rows = panel.rows();
        const QColor primary = panel.drawnColour(0);
        const QColor natColour = panel.drawnColour(8);
        for (int i = 0; i < 5; ++i) {
            QVERIFY(panel.publish(connected));
            QVERIFY(panel.publish(disconnected));
        }
        QCOMPARE(panel.rows(), rows);
        QCOMPARE(panel.drawnColour(0), primary);
        QCOMPARE(panel.drawnColour(8), natColour);
        QVERIFY(natColour != panel.box.palette().color(QPalette::Window));
    }

    void longValuesAreElidedButCopiedWhole() {
        Panel panel;
        const QString description =
            QStringLiteral("Primary uplink for the harbour office with failover through the "
                           "second carrier, racked on the second floor next to the printers");
        QVERIFY(panel.publish(fullData({{QStringLiteral("network_desc"), description}})));
        panel.box.resize(360, panel.box.sizeHint().height());
        panel.box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel.box));

        const ElidedValueLabel& label = panel.rows().at(2)->valueLabel();
        QVERIFY(label.isElided());
        // Both ends stay readable.
        QVERIFY(label.text().startsWith(QStringLiteral("Primary")));
        QVERIFY(label.text().endsWith(QStringLiteral("printers")));
        QCOMPARE(label.toolTip(), description);

        QApplication::clipboard()->clear();
        QTest::keyClick(const_cast<ElidedValueLabel*>(&label), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), description);

        QVERIFY(panel.rows().at(4)->valueLabel().toolTip().isEmpty()); // short: whole
    }
};

QTEST_MAIN(StatusPanelTest)
#include "tst_StatusPanel.moc"
