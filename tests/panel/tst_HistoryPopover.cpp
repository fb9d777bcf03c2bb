#include "HistoryPopover.h"
#include "HistoryPopoverRow.h"
#include "UiTestRig.h"

using namespace fernpoint;

namespace {

const QString kA = u"aaaaaaaaaaaaaaaa"_qs;
const QString kB = u"bbbbbbbbbbbbbbbb"_qs;
const QString kC = u"cccccccccccccccc"_qs;

NetworkProfile profile(const QString& id, double usedAt, const QString& name = {}) {
    return NetworkProfile{id, name, QString(), usedAt};
}

// The popover under a button standing for the window's, over a store in a temporary home. Shown
// order of the default history: kC, kB ("Harbor"), kA.
struct Popover {
    explicit Popover(const QList<NetworkProfile>& profiles = {
                         profile(kA, 10), profile(kB, 20, u"Harbor"_qs), profile(kC, 30)}) {
        store.setProfiles(profiles);
        anchor.move(200, 150);
        anchor.show();
    }
    test::TemporaryHome home;
    double now = 5000.0;
    NetworkProfileStore store{home.dataHome() + u"/FernPoint"_qs, [this] { return now += 1.0; }};
    test::FakeHelperClient client;
    GatewayManager manager{client};
    Localizer localizer{QLocale(u"en"_qs)};
    QPushButton anchor{u"History"_qs};
    HistoryPopover popover{store, manager, localizer};

    bool open() {
        popover.showBelow(&anchor);
        return QTest::qWaitForWindowExposed(&popover);
    }
    void press(int key) { QTest::keyClick(popover.windowHandle(), Qt::Key(key)); } // to the focus
    QWidget* part(const char* name) const {
        return popover.findChild<QWidget*>(QLatin1String(name));
    }
    // The rows listed, in order (a removed row leaves the layout at once, is deleted later).
    QList<HistoryPopoverRow*> rows() const {
        QList<HistoryPopoverRow*> listed;
        const QLayout* layout = part(HistoryPopover::kListName)->layout();
        for (int i = 0; i < layout->count(); ++i)
            if (auto* row = qobject_cast<HistoryPopoverRow*>(layout->itemAt(i)->widget()))
                listed.append(row);
        return listed;
    }
    HistoryPopoverRow* row(const QString& id) const {
        for (HistoryPopoverRow* candidate : rows())
            if (candidate->networkID() == id)
                return candidate;
        return nullptr;
    }
    QString current() const {
        for (const HistoryPopoverRow* row : rows())
            if (row->isCurrent())
                return row->shownNetworkID();
        return {};
    }
    QStringList storedIds() const {
        QStringList ids;
        for (const NetworkProfile& entry : store.profiles())
            ids.append(entry.networkID);
        return ids;
    }
};

} // namespace

class tst_HistoryPopover final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A pick puts the row's ID (not its title) into the field and closes (Escape only closes);
    // the history waits until the network is next recorded, and nothing connects.
    void pickFillsTheFieldAndCloses_data() {
        QTest::addColumn<QList<int>>("keys"); // none: a click on kB's row
        QTest::addColumn<QString>("picked");
        QTest::newRow("click") << QList<int>() << kB;
        QTest::newRow("Enter on the first row") << QList<int>{Qt::Key_Enter} << kC;
        QTest::newRow("Down, Enter") << QList<int>{Qt::Key_Down, Qt::Key_Return} << kB;
        QTest::newRow("Escape") << QList<int>{Qt::Key_Down, Qt::Key_Escape} << u"typed before"_qs;
    }
    void pickFillsTheFieldAndCloses() {
        QFETCH(QList<int>, keys);
        Popover p;
        p.manager.setNetworkID(u"typed before"_qs);
        QVERIFY(p.open());
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);
        QSignalSpy storeChanges(&p.store, &NetworkProfileStore::profilesChanged);
        if (keys.isEmpty())
            QTest::mouseClick(p.row(kB), Qt::LeftButton, {}, QPoint(20, p.row(kB)->height() / 2));
        for (const int key : keys)
            p.press(key);
        QTEST(p.manager.networkID(), "picked");
        QVERIFY(closed.count() == 1 && !p.popover.isVisible());
        QVERIFY(storeChanges.isEmpty() && p.client.calls.isEmpty());
    }

    void deleteOne_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("fieldAfter");
        QTest::newRow("the entry in the field, blanks around")
            << u" \t"_qs + kB + u"\u3000 "_qs << QString();
        QTest::newRow("another entry leaves the field") << kA << kA;
        QTest::newRow("a line break is not trimmed") << kB + u"\n"_qs << kB + u"\n"_qs;
    }
    void deleteOne() {
        QFETCH(QString, field);
        Popover p;
        p.manager.setNetworkID(field);
        QVERIFY(p.open());
        QTest::mouseClick(p.row(kB)->deleteButton(), Qt::LeftButton);
        QTEST(p.manager.networkID(), "fieldAfter");
        QCOMPARE(p.storedIds(), (QStringList{kA, kC}));
        QCOMPARE(p.rows().size(), 2); // redrawn without it, with a current row for the keys
        QVERIFY(p.popover.isVisible() && !p.row(kB) && !p.current().isEmpty());
    }

    // The last entries go by the keyboard or the mouse; Clear all empties the field too. The
    // empty text shows, and keys on the empty list do nothing harmful.
    void emptiedHistory_data() {
        QTest::addColumn<QList<int>>("keys"); // none: a click on Clear all
        QTest::newRow("Clear all clicked") << QList<int>();
        QTest::newRow("Delete on the current row, twice")
            << QList<int>{Qt::Key_Down, Qt::Key_Delete, Qt::Key_Delete};
        QTest::newRow("Enter on a row's delete button, Space on Clear all")
            << QList<int>{Qt::Key_Tab, Qt::Key_Enter, Qt::Key_Tab, Qt::Key_Space};
    }
    void emptiedHistory() {
        QFETCH(QList<int>, keys);
        Popover p({profile(kA, 10), profile(kB, 20)});
        p.manager.setNetworkID(kA + u" "_qs);
        QVERIFY(p.open());
        if (keys.isEmpty())
            QTest::mouseClick(p.part("clearAll"), Qt::LeftButton);
        for (const int key : keys)
            p.press(key);
        QVERIFY(p.store.profiles().isEmpty() && p.rows().isEmpty() &&
                p.manager.networkID().isEmpty());
        QVERIFY(p.part("emptyText")->isVisible() && !p.part("clearAll")->isVisible());
        QCOMPARE(p.popover.findChild<QLabel*>(u"emptyText"_qs)->text(), u"No networks yet"_qs);
        for (const int key : {Qt::Key_Down, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Tab})
            p.press(key);
        QVERIFY(p.popover.isVisible());
    }

    // Each status poll records the running network while the popover may be open: the user's
    // row (by network), the scroll position and the focus stay.
    void changesWhileOpenKeepTheUsersPlace_data() {
        QTest::addColumn<int>("recorded"); // the entry upserted; -1: a new one; 9: remove current
        QTest::addColumn<int>("current");  // the entry current afterwards
        QTest::newRow("the newest network again: same rows") << 8 << 0;
        QTest::newRow("an older network moves to the top") << 3 << 0;
        QTest::newRow("a new network arrives") << -1 << 0;
        QTest::newRow("the current network is removed elsewhere") << 9 << 1;
    }
    void changesWhileOpenKeepTheUsersPlace() {
        QFETCH(int, recorded);
        QFETCH(int, current);
        const auto id = [](int i) { return u"%1"_qs.arg(i, 16, 10, QLatin1Char('0')); };
        QList<NetworkProfile> profiles;
        for (int i = 0; i < 9; ++i)
            profiles.append(profile(id(i), 10.0 * (i + 1)));
        Popover p(profiles);
        QVERIFY(p.open());
        p.press(Qt::Key_End); // entry 0, the oldest, at the bottom of a scrolled list
        QScrollBar* scroll = p.popover.findChild<QScrollArea*>()->verticalScrollBar();
        const int scrolled = scroll->value();
        QVERIFY(scrolled > 0);

        if (recorded == 9)
            p.store.removeAt(0); // the stored order is oldest first: entry 0
        else
            p.store.upsertProfile(recorded < 0 ? kA : id(recorded), std::nullopt, std::nullopt);

        QCOMPARE(p.current(), id(current));
        QCOMPARE(p.popover.focusWidget(), p.row(id(current)));
        QVERIFY(recorded == 9 || scroll->value() == scrolled);
    }
};

QTEST_MAIN(tst_HistoryPopover)
#include "tst_HistoryPopover.moc"
