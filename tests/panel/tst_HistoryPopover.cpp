#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "HistoryActions.h"
#include "HistoryPopover.h"
#include "HistoryPopoverRow.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace fernpoint;

namespace {

const QString kA = QStringLiteral("aaaaaaaaaaaaaaaa");
const QString kB = QStringLiteral("bbbbbbbbbbbbbbbb");
const QString kC = QStringLiteral("cccccccccccccccc");
const QString kD = QStringLiteral("dddddddddddddddd");

NetworkProfile profile(const QString& id, double usedAt, const QString& name = {},
                       const QString& desc = {}) {
    return NetworkProfile{id, name, desc, usedAt};
}

// A button standing for the window's history button, with the popover under it, over a store in a
// temporary home. Shown order of the three-entry history: kC, kB, kA.
struct Popover {
    explicit Popover(const QList<NetworkProfile>& profiles = {profile(kA, 10), profile(kB, 20),
                                                              profile(kC, 30)}) {
        store.setProfiles(profiles);
        anchor.move(200, 150);
        anchor.show();
    }

    test::TemporaryHome home;
    double now = 5000.0;
    NetworkProfileStore store{home.dataHome() + QStringLiteral("/FernPoint"),
                              [this] { return now += 1.0; }};
    test::FakeHelperClient client;
    GatewayManager manager{client};
    Localizer localizer{QLocale(QStringLiteral("en"))};
    QPushButton anchor{QStringLiteral("History")};
    HistoryPopover popover{store, manager, localizer};

    bool open() {
        popover.showBelow(&anchor);
        return QTest::qWaitForWindowExposed(&popover);
    }
    // A key as the keyboard sends it: to whatever has the focus.
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(popover.windowHandle(), Qt::Key(key), modifiers);
    }
    template<typename T = QWidget> T* part(const char* name) const {
        return popover.findChild<T*>(QString::fromLatin1(name));
    }
    bool shows(const char* name) const { return part(name)->isVisibleTo(&popover); }
    // The rows listed, in their order; a removed row leaves the list's layout at once and is
    // deleted later.
    QList<HistoryPopoverRow*> rows() const {
        QList<HistoryPopoverRow*> listed;
        const QLayout* layout = part(HistoryPopover::kListName)->layout();
        for (int i = 0; i < layout->count(); ++i)
            if (auto* row = qobject_cast<HistoryPopoverRow*>(layout->itemAt(i)->widget()))
                listed.append(row);
        return listed;
    }
    int currentRow() const {
        const QList<HistoryPopoverRow*> listed = rows();
        for (qsizetype i = 0; i < listed.size(); ++i)
            if (listed.at(i)->isCurrent())
                return int(i);
        return -1;
    }
    QStringList shownIds() const {
        QStringList ids;
        for (const HistoryPopoverRow* row : rows())
            ids.append(row->shownNetworkID());
        return ids;
    }
    QStringList storedIds() const {
        QStringList ids;
        for (const NetworkProfile& entry : store.profiles())
            ids.append(entry.networkID);
        return ids;
    }
    // What networks.json holds on the disk.
    QByteArray file() const {
        store.flush();
        QFile file(store.filePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
    }
    QStringList fileIds() const {
        QStringList ids;
        for (const QJsonValue& entry : QJsonDocument::fromJson(file()).array())
            ids.append(entry.toObject().value(QStringLiteral("networkID")).toString());
        return ids;
    }
    HistoryPopoverRow* row(const QString& id) const {
        for (HistoryPopoverRow* candidate : rows())
            if (candidate->networkID() == id)
                return candidate;
        return nullptr;
    }
};

} // namespace

class HistoryPopoverTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rowTitles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("desc");
        QTest::addColumn<QString>("title");

        QTest::newRow("name and description")
            << QStringLiteral("Harbor") << QStringLiteral("Uplink")
            << QStringLiteral("Harbor, Uplink");
        QTest::newRow("name only")
            << QStringLiteral("Harbor") << QString() << QStringLiteral("Harbor");
        QTest::newRow("description only")
            << QString() << QStringLiteral("Uplink") << QStringLiteral("Uplink");
        QTest::newRow("neither: the ID") << QString() << QString() << kA;
    }
    void rowTitles() {
        QFETCH(QString, name);
        QFETCH(QString, desc);
        QFETCH(QString, title);
        Popover p({profile(kA, 1.0, name, desc)});
        QVERIFY(p.open());
        QCOMPARE(p.rows().size(), 1);
        QCOMPARE(p.rows().first()->title(), title);
    }

    void pickFillsTheFieldAndCloses_data() {
        QTest::addColumn<QList<int>>("keys"); // none: a click on kB's row
        QTest::addColumn<QString>("picked");

        QTest::newRow("click on the second row") << QList<int>() << kB;
        QTest::newRow("Enter on the first row") << QList<int>{Qt::Key_Enter} << kC;
        QTest::newRow("Down past the end stays on the last")
            << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Enter}
            << kA;
    }
    void pickFillsTheFieldAndCloses() {
        QFETCH(QList<int>, keys);
        QFETCH(QString, picked);
        Popover p;
        p.manager.setNetworkID(QStringLiteral("typed before"));
        QVERIFY(p.open());
        const QByteArray fileBefore = p.file();
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);
        QSignalSpy storeChanges(&p.store, &NetworkProfileStore::profilesChanged);

        if (keys.isEmpty())
            QTest::mouseClick(p.row(kB), Qt::LeftButton, {}, QPoint(20, p.row(kB)->height() / 2));
        for (const int key : keys)
            p.press(key);

        QCOMPARE(p.manager.networkID(), picked);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!p.popover.isVisible());
        // The history waits until the network is next recorded; no connection is started.
        QCOMPARE(storeChanges.count(), 0);
        QCOMPARE(p.file(), fileBefore);
        QCOMPARE(p.client.count(u"startGateway"), 0);
    }

    void deleteOne_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("removed"); // kC: by the Delete key on the current row
        QTest::addColumn<QString>("fieldAfter");

        QTest::newRow("the entry in the field with blanks around")
            << QStringLiteral(" \t") + kB + QStringLiteral("\u3000 ") << kB << QString();
        QTest::newRow("another entry leaves the field") << kA << kB << kA;
        QTest::newRow("a line break is not trimmed here")
            << kB + QStringLiteral("\n") << kB << kB + QStringLiteral("\n");
        QTest::newRow("Delete key on the current row") << kC << kC << QString();
    }
    void deleteOne() {
        QFETCH(QString, field);
        QFETCH(QString, removed);
        QFETCH(QString, fieldAfter);
        Popover p;
        p.manager.setNetworkID(field);
        QVERIFY(p.open());
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);

        if (removed == kC)
            p.press(Qt::Key_Delete);
        else
            QTest::mouseClick(p.row(removed)->deleteButton(), Qt::LeftButton);

        QCOMPARE(p.manager.networkID(), fieldAfter);
        QStringList remaining{kA, kB, kC};
        remaining.removeOne(removed);
        QCOMPARE(p.storedIds(), remaining);
        QCOMPARE(p.fileIds(), remaining);
        // Still open, redrawn without the entry, and a current row still there for the keyboard.
        QVERIFY(p.popover.isVisible());
        QCOMPARE(closed.count(), 0);
        QCOMPARE(p.shownIds().size(), 2);
        QVERIFY(!p.shownIds().contains(removed));
    }

    void deletingTheLastEntryShowsTheEmptyText() {
        Popover p({profile(kA, 10), profile(kB, 20)});
        QVERIFY(p.open());
        p.press(Qt::Key_Down);
        p.press(Qt::Key_Delete);
        QCOMPARE(p.storedIds(), QStringList{kB});
        QCOMPARE(p.currentRow(), 0); // moved up to the row that is left
        p.press(Qt::Key_Delete);
        QVERIFY(p.fileIds().isEmpty());
        QVERIFY(p.shows("emptyText"));
        QVERIFY(p.rows().isEmpty());
        QVERIFY(!p.shows("clearAll"));
        QCOMPARE(p.currentRow(), -1);
        // Keys on an empty list do nothing harmful.
        for (const int key : {Qt::Key_Down, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Tab})
            p.press(key);
        QVERIFY(p.popover.isVisible());
    }

    void deletingAnEntryThatIsGoneChangesNothing() {
        Popover p({profile(kA, 10)});
        p.manager.setNetworkID(kB);
        HistoryActions actions(p.store, p.manager);
        QSignalSpy storeChanges(&p.store, &NetworkProfileStore::profilesChanged);
        QVERIFY(!actions.deleteHistory(kB));
        QCOMPARE(p.manager.networkID(), kB);
        QCOMPARE(storeChanges.count(), 0);
    }

    void clearAllEmptiesHistoryAndField_data() {
        QTest::addColumn<QString>("field");
        QTest::newRow("field holds an entry") << kB;
        QTest::newRow("field holds an ID never recorded") << kD;
    }
    void clearAllEmptiesHistoryAndField() {
        QFETCH(QString, field);
        Popover p;
        p.manager.setNetworkID(field);
        QVERIFY(p.open());
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);
        QTest::mouseClick(p.part("clearAll"), Qt::LeftButton);

        QVERIFY(p.manager.networkID().isEmpty());
        QVERIFY(p.store.profiles().isEmpty());
        QCOMPARE(p.file().trimmed(), QByteArray("[]"));
        QVERIFY(p.popover.isVisible());
        QCOMPARE(closed.count(), 0);
        QVERIFY(p.shows("emptyText"));
    }

    // Tab reaches the buttons that the mouse reaches, and Enter or Space presses them.
    void keyboardReachesEveryButton() {
        Popover p;
        p.manager.setNetworkID(kB);
        QVERIFY(p.open());
        const auto focused = [&] { return p.popover.focusWidget(); };
        const auto deleteOf = [&](int row) { return p.rows().at(row)->deleteButton(); };
        QCOMPARE(focused(), p.rows().at(0));
        const QList<QWidget*> cycle{deleteOf(0), p.part("clearAll"), p.rows().at(0)};
        for (QWidget* next : cycle) {
            p.press(Qt::Key_Tab);
            QCOMPARE(focused(), next);
        }
        p.press(Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(focused(), p.part("clearAll"));

        // The list keys still work, and take the focus back to the current row.
        p.press(Qt::Key_Down);
        QCOMPARE(p.currentRow(), 1);
        QCOMPARE(focused(), p.rows().at(1));
        p.press(Qt::Key_Tab);

        // Enter on kB's delete button: gone, with the field that held it; the focus stays on the
        // delete button of the row that is now current.
        p.press(Qt::Key_Enter);
        QCOMPARE(p.storedIds(), (QStringList{kA, kC}));
        QVERIFY(p.manager.networkID().isEmpty());
        QCOMPARE(focused(), deleteOf(1));
        p.press(Qt::Key_Space); // kA, the last row: the focus goes to the row left
        QCOMPARE(p.fileIds(), QStringList{kC});
        QCOMPARE(focused(), deleteOf(0));

        p.press(Qt::Key_Tab);
        p.press(Qt::Key_Return); // clear all
        QVERIFY(p.store.profiles().isEmpty());
        QCOMPARE(focused(), &p.popover);
    }

    // Each status poll records the running network while the popover may be open: the user's
    // row (by network), the scroll position and the focus stay; kept rows are not remade.
    void changesWhileOpenKeepTheUsersPlace_data() {
        QTest::addColumn<int>("recorded"); // upserted entry; -1: a new network; 9: remove current
        QTest::addColumn<int>("current");  // the entry current afterwards
        QTest::newRow("the newest network again: same rows") << 8 << 0;
        QTest::newRow("an older network moves to the top") << 3 << 0;
        QTest::newRow("a new network arrives") << -1 << 0;
        QTest::newRow("the current network is removed elsewhere") << 9 << 1;
    }
    void changesWhileOpenKeepTheUsersPlace() {
        QFETCH(int, recorded);
        QFETCH(int, current);
        QList<NetworkProfile> profiles;
        const auto id = [](int i) { return QStringLiteral("%1").arg(i, 16, 10, QLatin1Char('0')); };
        for (int i = 0; i < 9; ++i)
            profiles.append(profile(id(i), 10.0 * (i + 1)));
        Popover p(profiles);
        QVERIFY(p.open());
        p.press(Qt::Key_End); // entry 0, the oldest, at the bottom of a scrolled list
        QScrollBar* scroll = p.popover.findChild<QScrollArea*>()->verticalScrollBar();
        const int scrolled = scroll->value();
        QVERIFY(scrolled > 0);
        QMap<QString, QPointer<HistoryPopoverRow>> before;
        for (HistoryPopoverRow* row : p.rows())
            before.insert(row->networkID(), row);

        if (recorded == 9)
            p.store.removeAt(0); // the stored order is oldest first: entry 0
        else
            p.store.upsertProfile(recorded < 0 ? kD : id(recorded), std::nullopt, std::nullopt);

        HistoryPopoverRow* now = p.rows().at(p.currentRow());
        QCOMPARE(now->networkID(), id(current));
        QCOMPARE(p.popover.focusWidget(), now);
        if (recorded != 9)
            QCOMPARE(scroll->value(), scrolled);
        for (HistoryPopoverRow* row : p.rows())
            QVERIFY(!before.contains(row->networkID()) || before.value(row->networkID()) == row);
        p.press(Qt::Key_Delete);
        QVERIFY(!p.storedIds().contains(id(current)));
        QCOMPARE(p.storedIds().size(), recorded < 0 ? 9 : 7 + (recorded != 9));
    }

    void escapeClosesAndItOpensAgain() {
        Popover p;
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);
        for (int round = 1; round <= 2; ++round) {
            QVERIFY(p.open());
            QCOMPARE(p.currentRow(), 0); // each opening starts at the first row
            p.press(Qt::Key_Down);
            QCOMPARE(p.currentRow(), 1);
            p.press(Qt::Key_Escape);
            QVERIFY(!p.popover.isVisible());
            QCOMPARE(closed.count(), round);
        }
        QCOMPARE(p.storedIds(), (QStringList{kA, kB, kC}));
        QVERIFY(p.manager.networkID().isEmpty());
    }

    void retranslatesWhileOpen() {
        Popover p({profile(kA, 10)});
        QVERIFY(p.open());
        p.localizer.setAppLanguage(QStringLiteral("zhHans"));
        QCOMPARE(p.part<QLabel>("heading")->text(),
                 p.localizer.text(QStringLiteral("history_title")));
        QCOMPARE(p.rows().first()->deleteButton()->toolTip(),
                 p.localizer.text(QStringLiteral("history_delete_one")));
    }
};

QTEST_MAIN(HistoryPopoverTest)
#include "tst_HistoryPopover.moc"
