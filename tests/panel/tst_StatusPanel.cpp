#include "ConnectionIndicator.h"
#include "ElidedValueLabel.h"
#include "StatusDot.h"
#include "StatusGroupBox.h"
#include "StatusRow.h"
#include "UiTestRig.h"

using namespace fernpoint;
using C = PanelColor;

namespace {

QJsonObject endpoint(const char* address, bool ok) {
    return {{u"endpoints"_qs, QString::fromLatin1(address)}, {u"ok"_qs, ok}};
}

// A connected gateway with every field filled in, with some fields replaced.
QJsonObject fullData(const QJsonObject& changes = {}) {
    QJsonObject data{{u"conn_state"_qs, u"connected"_qs},
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
    for (auto it = changes.begin(); it != changes.end(); ++it)
        data.insert(it.key(), it.value());
    return data;
}

// The window's status panel and indicator over a controller behind a helper in the process.
struct Panel {
    explicit Panel(const QLocale& process = QLocale(u"en"_qs))
        : localizer(process) {}
    test::TemporaryHome home;
    test::FakeHelperClient client;
    GatewayManager manager{client};
    Localizer localizer;
    StatusGroupBox box{manager, localizer};
    ConnectionIndicator indicator{manager, localizer};

    bool publish(const QJsonObject& data) { return test::publishData(manager, client, data); }
    QWidget* part(const char* name) const { return box.findChild<QWidget*>(QLatin1String(name)); }
    QList<StatusRow*> rows() const {
        return part("snapshot")->isVisibleTo(&box) ? box.findChildren<StatusRow*>()
                                                   : QList<StatusRow*>();
    }
    QStringList values() const {
        QStringList shown;
        for (const StatusRow* row : rows())
            shown.append(row->value());
        return shown;
    }
    QStringList lines(const char* list) const { // the full texts of the lines a list shows
        QStringList texts;
        for (const ElidedValueLabel* line : part(list)->findChildren<ElidedValueLabel*>())
            if (line->isVisibleTo(&box))
                texts.append(line->fullText());
        return texts;
    }
};

} // namespace

class tst_StatusPanel final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // A locale that groups digits: numbers in the panel must not follow it.
        QLocale::setDefault(QLocale(u"de_DE"_qs));
    }

    // Each reply after a full snapshot: the rows (values "nat_…" in the process language), the
    // lists, and the indicator, which follows the connection state, not the core's.
    void showsTheLatestSnapshot_data() {
        QTest::addColumn<QJsonObject>("data"); // empty: a reply without JSON
        QTest::addColumn<QString>("values");   // rows joined by "|"; empty: no snapshot shown
        QTest::addColumn<QStringList>("endpoints");
        QTest::addColumn<bool>("green");
        QTest::newRow("no JSON, helper running")
            << QJsonObject() << QString() << QStringList() << true;
        QTest::newRow("empty data")
            << QJsonObject{{u"x"_qs, 1}} << u"-|-|-|-|-|-|-|-|nat_off"_qs << QStringList() << false;
        QTest::newRow("everything")
            << fullData()
            << u"connected|Harbor Office|Branch uplink|10.176.20.11/24|20619|running|7|"
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
    void showsTheLatestSnapshot() {
        QFETCH(QJsonObject, data);
        QFETCH(QString, values);
        QFETCH(QStringList, endpoints);
        QFETCH(bool, green);
        Panel panel;
        QVERIFY(panel.publish(fullData()));
        QVERIFY(data.isEmpty() ? test::publishStatus(panel.manager, panel.client, {}, true)
                               : panel.publish(data));
        QStringList expected = values.isEmpty() ? QStringList() : values.split(u'|');
        if (!expected.isEmpty())
            expected.last() = panel.localizer.processText(expected.last());
        QCOMPARE(panel.values(), expected);
        QCOMPARE(panel.part("emptyText")->isVisibleTo(&panel.box), values.isEmpty());
        QCOMPARE(panel.lines("endpoints"), endpoints);
        QList<C> dots; // an endpoint's dot says whether it answered
        for (const StatusDot* dot : panel.part("endpoints")->findChildren<StatusDot*>())
            if (dot->isVisibleTo(&panel.box))
                dots.append(dot->color());
        QCOMPARE(dots, (endpoints.isEmpty() ? QList<C>() : QList<C>{C::Green, C::Red}));
        QCOMPARE(panel.indicator.dot().color(), green ? C::Green : C::Gray);
        QCOMPARE(panel.indicator.text(),
                 panel.localizer.text(green ? "status_connected" : "status_disconnected"));
        if (!values.isEmpty()) // the connection row goes green with the indicator
            QCOMPARE(panel.rows().first()->valueColor(), green ? C::Green : C::Primary);
    }

    // Titles follow the window's language as it switches; the NAT value stays in the process's.
    // A value that turns from green back to primary is really drawn in the primary colour again.
    void languagesAndColoursAcrossUpdates() {
        Panel panel{QLocale(u"ja"_qs)};
        panel.localizer.setAppLanguage(u"en"_qs);
        const QJsonObject stopped = fullData({{u"conn_state"_qs, u"disconnected"_qs}});
        QVERIFY(panel.publish(stopped));
        const auto drawn = [&] {
            return panel.rows().first()->valueLabel().palette().color(QPalette::WindowText);
        };
        const QColor primary = drawn();
        QVERIFY(panel.publish(fullData()));
        QVERIFY(drawn() != primary);
        panel.localizer.setAppLanguage(u"zhHans"_qs);
        QVERIFY(panel.publish(stopped));
        QCOMPARE(drawn(), primary);
        QCOMPARE(panel.rows().last()->title(), panel.localizer.text("status_row_nat"));
        QCOMPARE(panel.box.title(), panel.localizer.text("network_status_title"));
        QCOMPARE(panel.values().last(), panel.localizer.processText("nat_on"));
        QVERIFY(panel.values().last() != panel.localizer.text("nat_on"));
    }
};

QTEST_MAIN(tst_StatusPanel)
#include "tst_StatusPanel.moc"
