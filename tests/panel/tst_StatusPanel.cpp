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

class tst_StatusPanel final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // A locale that groups digits: numbers in the panel must not follow it.
        QLocale::setDefault(QLocale(u"de_DE"_qs));
    }

    // Each reply after a full snapshot: the rows (values "nat_…" in the process
    // language), the endpoints with their dots, and the indicator, which follows
    // the connection, not the core.
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
    void showsTheLatestSnapshot() {
        QFETCH(QJsonObject, data);
        QFETCH(QString, values);
        QFETCH(QStringList, endpoints);
        QFETCH(bool, green);
        test::TemporaryHome home;
        test::FakeHelperClient client;
        GatewayManager manager{client};
        Localizer localizer(QLocale(u"ja"_qs)); // the process in Japanese, the window in English
        localizer.setAppLanguage(u"en"_qs);
        StatusGroupBox box{manager, localizer};
        ConnectionIndicator indicator{manager, localizer};
        QVERIFY(test::publishData(manager, client, kFullData));
        QVERIFY(data.isEmpty() ? test::publishStatus(manager, client, {}, true)
                               : test::publishData(manager, client, data));

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
        if (!values.isEmpty()) { // the connection row goes green with the indicator
            QCOMPARE(rows.first()->valueColor(), green ? C::Green : C::Primary);
            QCOMPARE(rows.last()->title(), localizer.text("status_row_nat"));
        }
    }
};

QTEST_MAIN(tst_StatusPanel)
#include "tst_StatusPanel.moc"
