#include "ContentView.h"
#include "ErrorBanner.h"
#include "HistoryButton.h"
#include "HistoryPopover.h"
#include "MainButton.h"
#include "SegmentedPicker.h"
#include "ToggleSwitch.h"
#include "UiTestRig.h"
#include "WindowTexts.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace fernpoint;

namespace {

const QString kValidId = QStringLiteral("0123456789abcdef");

struct ViewRig : test::ControllerRig {
    ViewRig()
        : view(client, installer, localizer, settings) {}
    ContentView view;
};

} // namespace

class tst_ContentView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void bannerFollowsTheErrorLine_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("lines");
        QTest::newRow("absent") << false << QString() << 0;
        QTest::newRow("empty: icon only") << true << QString() << 0;
        QTest::newRow("long: two lines, elided")
            << true << QStringLiteral("XPC 通信错误：") + QString(600, QLatin1Char('x')) << 2;
        QTest::newRow("line breaks: at most two")
            << true << QStringLiteral("first\nsecond\nthird\nfourth") << 2;
    }

    void bannerFollowsTheErrorLine() {
        QFETCH(bool, present);
        QFETCH(QString, message);
        QFETCH(int, lines);
        ViewRig rig;
        rig.view.resize(640, 480);
        rig.view.show();
        rig.view.manager().setLastErrorMessage(present ? std::optional<QString>(message)
                                                       : std::nullopt);
        ErrorBanner* banner = rig.view.errorBanner();
        QCOMPARE(banner->isVisible(), present);
        if (!present)
            return;
        QCOMPARE(banner->message(), std::optional<QString>(message));
        const QStringList shown = banner->visibleLines();
        QCOMPARE(shown.size(), lines);
        if (message.size() > 100)
            QVERIFY(shown.last().endsWith(QChar(0x2026)));
        if (message.contains(QLatin1Char('\n')))
            QVERIFY(shown.last().startsWith(QStringLiteral("second")));
    }

    void languageSwitchRetranslatesInPlace() {
        ViewRig rig;
        ContentView& view = rig.view;
        view.show();
        QTest::keyClicks(view.networkIdField(), QStringLiteral(" ") + kValidId);
        rig.view.manager().setLastErrorMessage(QStringLiteral("Helper installation failed: x"));
        const ContentController* controller = &view.controller();
        const GatewayManager* manager = &view.manager();

        // The keyed texts a window without a status snapshot shows.
        const QStringList shownKeys = {
            QStringLiteral("network_id_label"),     QStringLiteral("network_id_placeholder"),
            QStringLiteral("history_button"),       QStringLiteral("button_connect"),
            QStringLiteral("nat_toggle_title"),     QStringLiteral("status_disconnected"),
            QStringLiteral("network_status_title"), QStringLiteral("network_status_empty")};
        Localizer english{QLocale(QStringLiteral("en_US"))};
        for (const int segment : {2, 1, 3, 0}) { // 0: the system's, English here
            const QToolButton* button = view.languagePicker()->segment(segment);
            QVERIFY(button);
            QTest::mouseClick(const_cast<QToolButton*>(button), Qt::LeftButton);
            QCOMPARE(view.languagePicker()->selectedIndex(), segment);

            const QStringList texts = test::visibleTexts(view);
            for (const QString& text : texts)
                QVERIFY2(!test::isRawKey(text), qPrintable(QStringLiteral("raw key: ") + text));
            Localizer expected{QLocale(QStringLiteral("en_US"))};
            expected.setAppLanguage(rig.settings.value(Localizer::kSettingKey).toString());
            for (const QString& key : shownKeys) {
                QVERIFY2(texts.contains(expected.text(key)), qPrintable(key));
                // Nothing of the previous language stays behind.
                if (segment == 1 || segment == 3)
                    QVERIFY2(!texts.contains(english.text(key)), qPrintable(key));
            }

            // Same objects, same form content, same banner.
            QCOMPARE(&view.controller(), controller);
            QCOMPARE(&view.manager(), manager);
            QCOMPARE(view.networkIdField()->text(), QStringLiteral(" ") + kValidId);
            QVERIFY(view.errorBanner()->isVisible());
            QCOMPARE(view.errorBanner()->message(),
                     std::optional<QString>(QStringLiteral("Helper installation failed: x")));
        }
    }

    void tabOrderAndKeyboard() {
        ViewRig rig;
        ContentView& view = rig.view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        // The chain of Tab stops, starting at the picker.
        QList<QWidget*> chain;
        QWidget* widget = view.languagePicker();
        do {
            if (widget->focusPolicy() & Qt::TabFocus && widget->isVisibleTo(&view))
                chain.append(widget);
            widget = widget->nextInFocusChain();
        } while (widget != view.languagePicker() && chain.size() < 5);
        const QList<QWidget*> expected = {view.languagePicker(), view.networkIdField(),
                                          view.historyButton(), view.mainButton(),
                                          view.natSwitch()};
        QCOMPARE(chain, expected);

        // Arrow keys move the picker's choice and store it.
        view.languagePicker()->setFocus();
        QTest::keyClick(view.languagePicker(), Qt::Key_Right);
        QCOMPARE(rig.settings.value(Localizer::kSettingKey).toString(), QStringLiteral("zhHans"));
        QTest::keyClick(view.languagePicker(), Qt::Key_Right);
        QCOMPARE(rig.settings.value(Localizer::kSettingKey).toString(), QStringLiteral("en"));

        // Space toggles the NAT switch through the guarded write.
        rig.client.calls.clear();
        view.natSwitch()->setFocus();
        QTest::keyClick(view.natSwitch(), Qt::Key_Space);
        QVERIFY(rig.view.manager().natEnabled());
        QTRY_VERIFY(rig.client.calls.contains(QStringLiteral("setNat 1")));
        QVERIFY(view.natSwitch()->isChecked());
    }

    void appearanceRunsOnEachShowNotOnRepaint() {
        ViewRig rig;
        ContentView& view = rig.view;
        QCOMPARE(rig.probe.calls, 0);
        view.show();
        QCOMPARE(rig.probe.calls, 1);
        view.repaint();
        QCOMPARE(rig.probe.calls, 1);
        view.hide();
        view.show();
        QCOMPARE(rig.probe.calls, 2);
    }

    void historyButtonOpensAndClosesThePopover() {
        ViewRig rig;
        ContentView& view = rig.view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        HistoryPopover* popover = view.historyPopover();

        QTest::mouseClick(view.historyButton(), Qt::LeftButton);
        QVERIFY(view.controller().showHistoryPopover());
        QTRY_VERIFY(popover->isVisible());

        // Closing the popover by itself clears the flag.
        popover->hide();
        QTRY_VERIFY(!view.controller().showHistoryPopover());
    }

    void mainButtonFollowsTheController() {
        ViewRig rig;
        ContentView& view = rig.view;
        view.show();
        QVERIFY(!view.mainButton()->isEnabled());
        QTest::keyClicks(view.networkIdField(), kValidId);
        QCOMPARE(rig.view.manager().networkID(), kValidId);
        QVERIFY(view.mainButton()->isEnabled());
        QVERIFY(!view.mainButton()->isDestructive());

        QTest::mouseClick(view.mainButton(), Qt::LeftButton);
        QTRY_VERIFY(view.mainButton()->isDestructive());
        QCOMPARE(view.mainButton()->text(), QStringLiteral("Disconnect"));
        QVERIFY(!view.natSwitch()->isEnabled());

        rig.client.holdCommands = true;
        QTest::mouseClick(view.mainButton(), Qt::LeftButton);
        QVERIFY(view.mainButton()->isBusy());
        QVERIFY(!view.mainButton()->isEnabled());
    }
};

QTEST_MAIN(tst_ContentView)
#include "tst_ContentView.moc"
