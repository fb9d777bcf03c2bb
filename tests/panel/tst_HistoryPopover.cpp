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
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace fernpoint;
using fernpoint::test::FakeHelperClient;

namespace {

const QString kA = QStringLiteral("aaaaaaaaaaaaaaaa");
const QString kB = QStringLiteral("bbbbbbbbbbbbbbbb");
const QString kC = QStringLiteral("cccccccccccccccc");
const QString kD = QStringLiteral("dddddddddddddddd");

NetworkProfile profile(const QString& id, double usedAt, const QString& name = {},
                       const QString& desc = {}) {
    return NetworkProfile{id, name, desc, usedAt};
}

// A window's history button with the popover under it, over a store in a temporary home.
struct Popover {
    explicit Popover(const QList<NetworkProfile>& profiles = {})
        : store(home.dataHome() + QStringLiteral("/FernPoint"), [this] { return now += 1.0; }) {
        store.setProfiles(profiles);
        anchor.setText(QStringLiteral("History"));
        anchor.move(200, 150);
        anchor.show();
    }

    fernpoint::test::TemporaryHome home;
    double now = 5000.0;
    NetworkProfileStore store;
    FakeHelperClient client;
    GatewayManager manager{client};
    Localizer localizer{QLocale(QStringLiteral("en"))};
    QPushButton anchor;
    HistoryPopover popover{store, manager, localizer};

    bool open() {
        popover.showBelow(&anchor);
        return QTest::qWaitForWindowExposed(&popover);
    }
    QStringList shownIds() const {
        QStringList ids;
        for (const HistoryPopoverRow* row : popover.rows())
            ids.append(row->shownNetworkID());
        return ids;
    }
    QStringList storedIds() const {
        QStringList ids;
        for (const NetworkProfile& entry : store.profiles())
            ids.append(entry.networkID);
        return ids;
    }
    // The IDs in networks.json, read back from the disk.
    QStringList fileIds() const {
        QFile file(store.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("<no file>")};
        QStringList ids;
        const QJsonArray entries = QJsonDocument::fromJson(file.readAll()).array();
        for (const QJsonValue& entry : entries)
            ids.append(entry.toObject().value(QStringLiteral("networkID")).toString());
        return ids;
    }
    HistoryPopoverRow* row(const QString& id) const {
        for (HistoryPopoverRow* candidate : popover.rows())
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
        QTest::newRow("a key-like name is not looked up")
            << QStringLiteral("history_title") << QString() << QStringLiteral("history_title");
    }
    void rowTitles() {
        QFETCH(QString, name);
        QFETCH(QString, desc);
        QFETCH(QString, title);

        Popover p({profile(kA, 1.0, name, desc)});
        QVERIFY(p.open());
        QCOMPARE(p.popover.rows().size(), 1);
        QCOMPARE(p.popover.rows().first()->title(), title);
        QCOMPARE(p.popover.rows().first()->shownNetworkID(), kA);
        QCOMPARE(p.popover.rows().first()->accessibleName(), title);
    }

    void emptyHistoryShowsOnlyTheEmptyText() {
        Popover p;
        QVERIFY(p.open());
        QCOMPARE(p.popover.headingText(), p.localizer.text(QStringLiteral("history_title")));
        QVERIFY(p.popover.showsEmptyText());
        QCOMPARE(p.popover.emptyText(), p.localizer.text(QStringLiteral("history_empty")));
        QVERIFY(p.popover.emptyText() != QStringLiteral("history_empty"));
        QVERIFY(p.popover.rows().isEmpty());
        QVERIFY(!p.popover.showsClearAll());
        QVERIFY(!p.popover.clearAllButton()->isVisible());
        QCOMPARE(p.popover.currentRow(), -1);
        // Keys on an empty list do nothing harmful.
        QTest::keyClick(&p.popover, Qt::Key_Down);
        QTest::keyClick(&p.popover, Qt::Key_Delete);
        QTest::keyClick(&p.popover, Qt::Key_Return);
        QVERIFY(p.popover.isVisible());
        QVERIFY(p.popover.height() >= 40);
    }

    void listsNewestFirst_data() {
        QTest::addColumn<QList<NetworkProfile>>("stored");
        QTest::addColumn<QStringList>("shown");

        QTest::newRow("stored oldest first")
            << QList<NetworkProfile>{profile(kA, 10), profile(kB, 20), profile(kC, 30)}
            << QStringList{kC, kB, kA};
        QTest::newRow("stored in no order")
            << QList<NetworkProfile>{profile(kB, 20), profile(kC, 5), profile(kA, 40)}
            << QStringList{kA, kB, kC};
        QTest::newRow("equal times keep stored order")
            << QList<NetworkProfile>{profile(kA, 10), profile(kB, 30), profile(kC, 20),
                                     profile(kD, 30)}
            << QStringList{kB, kD, kC, kA};
    }
    void listsNewestFirst() {
        QFETCH(QList<NetworkProfile>, stored);
        QFETCH(QStringList, shown);

        Popover p(stored);
        QVERIFY(p.open());
        QCOMPARE(p.shownIds(), shown);
        QVERIFY(p.popover.showsClearAll());
        QCOMPARE(p.popover.currentRow(), 0);
        QVERIFY(p.popover.rows().first()->isCurrent());
    }

    void pickFillsTheFieldAndCloses_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("picked");

        // Shown order: kC, kB, kA.
        QTest::newRow("click on the second row") << QStringLiteral("click") << kB;
        QTest::newRow("Enter on the first row") << QStringLiteral("enter") << kC;
        QTest::newRow("Down and Return") << QStringLiteral("down-return") << kB;
        QTest::newRow("Down, Down, Up and Enter") << QStringLiteral("down-down-up-enter") << kB;
        QTest::newRow("Down past the end stays on the last")
            << QStringLiteral("down-x5-enter") << kA;
    }
    void pickFillsTheFieldAndCloses() {
        QFETCH(QString, how);
        QFETCH(QString, picked);

        Popover p({profile(kA, 10), profile(kB, 20), profile(kC, 30)});
        p.manager.setNetworkID(QStringLiteral("typed before"));
        QVERIFY(p.open());
        const QByteArray fileBefore = [&] {
            QFile file(p.store.filePath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);
        QSignalSpy storeChanges(&p.store, &NetworkProfileStore::profilesChanged);

        if (how == QLatin1StringView("click")) {
            HistoryPopoverRow* row = p.row(kB);
            QVERIFY(row);
            QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(20, row->height() / 2));
        } else if (how == QLatin1StringView("enter")) {
            QTest::keyClick(&p.popover, Qt::Key_Enter);
        } else if (how == QLatin1StringView("down-return")) {
            QTest::keyClick(&p.popover, Qt::Key_Down);
            QTest::keyClick(&p.popover, Qt::Key_Return);
        } else if (how == QLatin1StringView("down-down-up-enter")) {
            QTest::keyClick(&p.popover, Qt::Key_Down);
            QTest::keyClick(&p.popover, Qt::Key_Down);
            QTest::keyClick(&p.popover, Qt::Key_Up);
            QTest::keyClick(&p.popover, Qt::Key_Enter);
        } else {
            for (int i = 0; i < 5; ++i)
                QTest::keyClick(&p.popover, Qt::Key_Down);
            QTest::keyClick(&p.popover, Qt::Key_Enter);
        }

        QCOMPARE(p.manager.networkID(), picked);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!p.popover.isVisible());
        // The history waits until the network is next recorded.
        QCOMPARE(storeChanges.count(), 0);
        QFile file(p.store.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), fileBefore);
        // No connection is started by a pick.
        QCOMPARE(p.client.callCount(QStringLiteral("startGateway")), 0);
    }

    void deleteOne_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<bool>("byKeyboard");
        QTest::addColumn<QString>("fieldAfter");

        // Shown order: kC, kB, kA; the keyboard deletes the current (first) row, kC.
        QTest::newRow("the entry in the field") << kB << kB << false << QString();
        QTest::newRow("the entry in the field with blanks around")
            << QStringLiteral(" \t") + kB + QStringLiteral("\u3000 ") << kB << false << QString();
        QTest::newRow("another entry leaves the field") << kA << kB << false << kA;
        QTest::newRow("a line break is not trimmed here")
            << kB + QStringLiteral("\n") << kB << false << kB + QStringLiteral("\n");
        QTest::newRow("the field in another case stays")
            << kB.toUpper() << kB << false << kB.toUpper();
        QTest::newRow("Delete key on the current row") << kC << kC << true << QString();
        QTest::newRow("Delete key, other field") << kA << kC << true << kA;
    }
    void deleteOne() {
        QFETCH(QString, field);
        QFETCH(QString, removed);
        QFETCH(bool, byKeyboard);
        QFETCH(QString, fieldAfter);

        Popover p({profile(kA, 10), profile(kB, 20), profile(kC, 30)});
        p.manager.setNetworkID(field);
        QVERIFY(p.open());
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);

        if (byKeyboard) {
            QTest::keyClick(&p.popover, Qt::Key_Delete);
        } else {
            HistoryPopoverRow* row = p.row(removed);
            QVERIFY(row);
            QCOMPARE(row->deleteButton()->toolTip(),
                     p.localizer.text(QStringLiteral("history_delete_one")));
            QCOMPARE(row->deleteButton()->accessibleName(), row->deleteButton()->toolTip());
            QTest::mouseClick(row->deleteButton(), Qt::LeftButton);
        }

        QCOMPARE(p.manager.networkID(), fieldAfter);
        QStringList remaining{kA, kB, kC};
        remaining.removeOne(removed);
        QCOMPARE(p.storedIds(), remaining);
        QCOMPARE(p.fileIds(), remaining);
        // Still open, redrawn without the entry, and a current row still there for the keyboard.
        QVERIFY(p.popover.isVisible());
        QCOMPARE(closed.count(), 0);
        QVERIFY(!p.shownIds().contains(removed));
        QCOMPARE(p.shownIds().size(), 2);
        QCOMPARE(p.popover.currentRow(), 0);
    }

    void deletingTheLastEntryShowsTheEmptyText() {
        Popover p({profile(kA, 10), profile(kB, 20)});
        QVERIFY(p.open());
        QTest::keyClick(&p.popover, Qt::Key_Down);
        QTest::keyClick(&p.popover, Qt::Key_Delete);
        QCOMPARE(p.storedIds(), QStringList{kB});
        // The current row moved up to the one that is left.
        QCOMPARE(p.popover.currentRow(), 0);
        QTest::keyClick(&p.popover, Qt::Key_Delete);
        QVERIFY(p.storedIds().isEmpty());
        QVERIFY(p.fileIds().isEmpty());
        QVERIFY(p.popover.isVisible());
        QVERIFY(p.popover.showsEmptyText());
        QVERIFY(!p.popover.showsClearAll());
    }

    void deletingAnEntryThatIsGoneChangesNothing() {
        Popover p({profile(kA, 10)});
        p.manager.setNetworkID(kB);
        HistoryActions actions(p.store, p.manager);
        QSignalSpy storeChanges(&p.store, &NetworkProfileStore::profilesChanged);
        QVERIFY(!actions.deleteHistory(kB));
        QCOMPARE(p.manager.networkID(), kB);
        QCOMPARE(storeChanges.count(), 0);
        // Only the first of two entries with the same ID goes.
        p.store.setProfiles(
            {profile(kA, 10, QStringLiteral("first")), profile(kA, 20, QStringLiteral("second"))});
        QVERIFY(actions.deleteHistory(kA));
        QCOMPARE(p.store.profiles().size(), 1);
        QCOMPARE(p.store.profiles().first().name, QStringLiteral("second"));
    }

    void clearAllEmptiesHistoryAndField_data() {
        QTest::addColumn<QString>("field");

        QTest::newRow("field holds an entry") << kB;
        QTest::newRow("field holds an ID never recorded") << kD;
        QTest::newRow("field holds anything") << QStringLiteral("  half typed");
        QTest::newRow("field already empty") << QString();
    }
    void clearAllEmptiesHistoryAndField() {
        QFETCH(QString, field);

        Popover p({profile(kA, 10), profile(kB, 20)});
        p.manager.setNetworkID(field);
        QVERIFY(p.open());
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);
        QCOMPARE(p.popover.clearAllButton()->text(),
                 p.localizer.text(QStringLiteral("history_clear_all")));
        QTest::mouseClick(p.popover.clearAllButton(), Qt::LeftButton);

        QVERIFY(p.manager.networkID().isEmpty());
        QVERIFY(p.store.profiles().isEmpty());
        QFile file(p.store.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().trimmed(), QByteArray("[]"));
        QVERIFY(p.popover.isVisible());
        QCOMPARE(closed.count(), 0);
        QVERIFY(p.popover.showsEmptyText());
        QVERIFY(!p.popover.showsClearAll());
    }

    void redrawsWhileOpenWhenTheHistoryChanges() {
        Popover p({profile(kA, 10), profile(kB, 20)});
        QVERIFY(p.open());
        p.store.upsertProfile(kC, QStringLiteral("New"), std::nullopt);
        QCOMPARE(p.shownIds(), (QStringList{kC, kB, kA}));
        QCOMPARE(p.popover.rows().first()->title(), QStringLiteral("New"));
        p.store.upsertProfile(kA, std::nullopt, std::nullopt);
        QCOMPARE(p.shownIds(), (QStringList{kA, kC, kB}));
        QVERIFY(p.popover.isVisible());
    }

    void escapeClosesAndItOpensAgain() {
        Popover p({profile(kA, 10), profile(kB, 20)});
        QSignalSpy closed(&p.popover, &HistoryPopover::closed);
        for (int round = 1; round <= 2; ++round) {
            QVERIFY(p.open());
            // Opening again starts at the first row.
            QCOMPARE(p.popover.currentRow(), 0);
            QTest::keyClick(&p.popover, Qt::Key_Down);
            QCOMPARE(p.popover.currentRow(), 1);
            QTest::keyClick(&p.popover, Qt::Key_Escape);
            QVERIFY(!p.popover.isVisible());
            QCOMPARE(closed.count(), round);
        }
        QCOMPARE(p.storedIds(), (QStringList{kA, kB}));
        QVERIFY(p.manager.networkID().isEmpty());
    }

    void isAReusablePopupBelowItsAnchor() {
        QList<NetworkProfile> many;
        for (int i = 0; i < 12; ++i)
            many.append(profile(QStringLiteral("%1").arg(i, 16, 10, QLatin1Char('0')), i,
                                QStringLiteral("Network %1").arg(i)));
        Popover p(many);
        QVERIFY(p.open());

        QVERIFY(p.popover.windowFlags().testFlag(Qt::Popup));
        QVERIFY(p.popover.testAttribute(Qt::WA_NoMouseReplay));
        QVERIFY(!p.popover.testAttribute(Qt::WA_DeleteOnClose));

        const QRect anchor(p.anchor.mapToGlobal(QPoint(0, 0)), p.anchor.size());
        const QRect frame = p.popover.frameGeometry();
        QVERIFY2(frame.top() > anchor.bottom() && frame.top() <= anchor.bottom() + 6,
                 "opens just below the anchor");
        QVERIFY(frame.left() < anchor.center().x() && frame.right() > anchor.center().x());
        QVERIFY(p.popover.width() >= 320 && p.popover.width() <= 380);

        // Twelve rows, six in view: the list scrolls instead of growing.
        const int rowHeight = p.popover.rows().first()->height();
        const auto* scroll = p.popover.findChild<QScrollArea*>();
        QVERIFY(scroll);
        QVERIFY(scroll->height() <= rowHeight * HistoryPopover::kVisibleRows + 2);
        QVERIFY(p.popover.height() < rowHeight * 9);
        // The keyboard scrolls the current row into view.
        QTest::keyClick(&p.popover, Qt::Key_End);
        QCOMPARE(p.popover.currentRow(), 11);
        const HistoryPopoverRow* last = p.popover.rows().last();
        const QPoint lastTop = last->mapTo(scroll->viewport(), QPoint(0, 0));
        QVERIFY(lastTop.y() >= 0 && lastTop.y() + last->height() <= scroll->viewport()->height());
    }

    void retranslatesWhileOpen() {
        Popover p({profile(kA, 10)});
        p.localizer.setAppLanguage(QStringLiteral("en"));
        QVERIFY(p.open());
        const QString english = p.popover.headingText();
        const QString englishDelete = p.popover.rows().first()->deleteButton()->toolTip();
        p.localizer.setAppLanguage(QStringLiteral("zhHans"));
        QVERIFY(p.popover.headingText() != english);
        QCOMPARE(p.popover.headingText(), p.localizer.text(QStringLiteral("history_title")));
        QVERIFY(p.popover.rows().first()->deleteButton()->toolTip() != englishDelete);
        QCOMPARE(p.popover.clearAllButton()->text(),
                 p.localizer.text(QStringLiteral("history_clear_all")));
    }
};

QTEST_MAIN(HistoryPopoverTest)
#include "tst_HistoryPopover.moc"
