#include "HistoryPopover.h"
#include "UiTestRig.h"
#include "WindowTexts.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace fernpoint;

namespace {

const QString kValidId = QStringLiteral("0123456789abcdef");
using test::ViewRig;

// The contrast ratio of two colours, 1 to 21.
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
        rig.manager.setLastErrorMessage(present ? std::optional<QString>(message) : std::nullopt);
        ErrorBanner* banner = rig.banner;
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
        QTest::keyClicks(rig.field, QStringLiteral(" ") + kValidId);
        rig.manager.setLastErrorMessage(QStringLiteral("Helper installation failed: x"));

        // The keyed texts a window without a status snapshot shows.
        const QStringList shownKeys = {
            QStringLiteral("network_id_label"),     QStringLiteral("network_id_placeholder"),
            QStringLiteral("history_button"),       QStringLiteral("button_connect"),
            QStringLiteral("nat_toggle_title"),     QStringLiteral("status_disconnected"),
            QStringLiteral("network_status_title"), QStringLiteral("network_status_empty")};
        Localizer english{QLocale(QStringLiteral("en_US"))};
        for (const int segment : {2, 1, 3, 0}) { // 0: the system's, English here
            const QToolButton* button = rig.picker->segment(segment);
            QVERIFY(button);
            QTest::mouseClick(const_cast<QToolButton*>(button), Qt::LeftButton);
            QCOMPARE(rig.picker->selectedIndex(), segment);

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

            // Same form content, same banner.
            QCOMPARE(rig.field->text(), QStringLiteral(" ") + kValidId);
            QVERIFY(rig.banner->isVisible());
            QCOMPARE(rig.banner->message(),
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
        QWidget* widget = rig.picker;
        do {
            if (widget->focusPolicy() & Qt::TabFocus && widget->isVisibleTo(&view))
                chain.append(widget);
            widget = widget->nextInFocusChain();
        } while (widget != rig.picker && chain.size() < 5);
        const QList<QWidget*> expected = {rig.picker, rig.field, rig.historyButton, rig.mainButton,
                                          rig.natSwitch};
        QCOMPARE(chain, expected);

        // Arrow keys move the picker's choice and store it.
        rig.picker->setFocus();
        QTest::keyClick(rig.picker, Qt::Key_Right);
        QCOMPARE(rig.settings.value(Localizer::kSettingKey).toString(), QStringLiteral("zhHans"));
        QTest::keyClick(rig.picker, Qt::Key_Right);
        QCOMPARE(rig.settings.value(Localizer::kSettingKey).toString(), QStringLiteral("en"));

        // Space toggles the NAT switch through the guarded write.
        rig.client.calls.clear();
        rig.natSwitch->setFocus();
        QTest::keyClick(rig.natSwitch, Qt::Key_Space);
        QVERIFY(rig.manager.natEnabled());
        QTRY_VERIFY(rig.client.calls.contains(QStringLiteral("setNat 1")));
        QVERIFY(rig.natSwitch->isChecked());
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

    // Every text keeps a readable contrast when the desktop switches between light and dark,
    // the dimmed ones of the status rows and the popover included.
    void textsStayReadableAcrossALightDarkSwitch() {
        ViewRig rig;
        rig.view.show();
        QTest::keyClicks(rig.field, kValidId);
        QTest::mouseClick(rig.mainButton, Qt::LeftButton);
        QTRY_VERIFY(rig.manager.currentStatus());
        QTest::mouseClick(rig.historyButton, Qt::LeftButton);
        auto* popover = rig.part<HistoryPopover>("historyPopover");
        QTRY_VERIFY(popover && popover->isVisible());

        const QPalette light = QApplication::palette();
        QPalette dark(QColor(0x3a, 0x3a, 0x3e), QColor(0x2b, 0x2b, 0x2e)); // button, window
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(0xec, 0xec, 0xee));
        dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
        for (const QPalette& palette : {dark, light}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            const QList<QLabel*> labels =
                rig.view.findChildren<QLabel*>() + popover->findChildren<QLabel*>();
            int checked = 0;
            for (const QLabel* label : labels) {
                if (!label->isVisible() || label->text().isEmpty())
                    continue;
                const QPalette& shown = label->palette();
                const double ratio =
                    contrast(shown.color(QPalette::WindowText), palette.color(QPalette::Window));
                QVERIFY2(ratio >= 3.0, qPrintable(label->text()));
                ++checked;
            }
            QVERIFY(checked > 20); // status rows, headings, popover rows
        }
    }

    void natSwitchIsCentredInItsRow() {
        ViewRig rig;
        rig.view.resize(900, 600);
        rig.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.view));
        const QRect row = rig.natSwitch->parentWidget()->geometry();
        QCOMPARE(row.width(), 380);
        QCOMPARE(row.left(), 20);
        QVERIFY(qAbs(rig.natSwitch->geometry().center().x() - 190) <= 1);
    }

    void mainButtonFollowsTheController() {
        ViewRig rig;
        ContentView& view = rig.view;
        view.show();
        QVERIFY(!rig.mainButton->isEnabled());
        QTest::keyClicks(rig.field, kValidId);
        QCOMPARE(rig.manager.networkID(), kValidId);
        QVERIFY(rig.mainButton->isEnabled());
        QVERIFY(!rig.mainButton->isDestructive());

        QTest::mouseClick(rig.mainButton, Qt::LeftButton);
        QTRY_VERIFY(rig.mainButton->isDestructive());
        QCOMPARE(rig.mainButton->text(), QStringLiteral("Disconnect"));
        QVERIFY(!rig.natSwitch->isEnabled());

        rig.client.holdCommands = true;
        QTest::mouseClick(rig.mainButton, Qt::LeftButton);
        QVERIFY(rig.mainButton->isBusy());
        QVERIFY(!rig.mainButton->isEnabled());
    }
};

QTEST_MAIN(tst_ContentView)
#include "tst_ContentView.moc"
