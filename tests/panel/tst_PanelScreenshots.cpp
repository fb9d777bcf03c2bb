#include "ConnectionIndicator.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "HistoryPopover.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "PanelTestSupport.h"
#include "PrivateBus.h"
#include "StatusGroupBox.h"

#include <QAbstractButton>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using namespace fernpoint;
using fernpoint::test::FakeHelperClient;

namespace {

// A text that still reads like one of our keys: the table had no entry for it.
const QRegularExpression kRawKey(QStringLiteral(
    R"(\b(status_row_\w+|history_\w+|network_\w+|nat_(on|off)|status_(dis)?connected)\b)"));

// Every text a user (or a screen reader) can meet in the widget tree.
QStringList visibleTexts(const QWidget& root) {
    QStringList texts;
    QList<const QWidget*> widgets{&root};
    for (const QWidget* child : root.findChildren<QWidget*>())
        widgets.append(child);
    for (const QWidget* widget : std::as_const(widgets)) {
        if (!widget->isVisibleTo(&root) && widget != &root)
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts.append(label->text());
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts.append(button->text());
        if (const auto* box = qobject_cast<const QGroupBox*>(widget))
            texts.append(box->title());
        texts.append(widget->toolTip());
        texts.append(widget->accessibleName());
    }
    texts.removeAll(QString());
    return texts;
}

QString screenshotDirectory(QTemporaryDir& fallback) {
    const QString chosen = qEnvironmentVariable("FERNPOINT_SCREENSHOT_DIR");
    if (chosen.isEmpty())
        return fallback.path();
    QDir().mkpath(chosen);
    return chosen;
}

// Distinct colours in an image: a blank or single-colour render has only a few.
int colourCount(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

} // namespace

class PanelScreenshotsTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1StringView("xcb"),
                 "runs on a real X display (Xvfb)");
        m_directory = screenshotDirectory(m_fallback);
        qInfo().noquote() << "screenshots in" << m_directory;
    }

    void connectedPanelAndOpenPopover_data() {
        QTest::addColumn<QString>("language");

        QTest::newRow("zhHans") << QStringLiteral("zhHans");
        QTest::newRow("en") << QStringLiteral("en");
        QTest::newRow("ja") << QStringLiteral("ja");
        QTest::newRow("system") << QStringLiteral("system");
    }
    void connectedPanelAndOpenPopover() {
        QFETCH(QString, language);

        fernpoint::test::TemporaryHome home;
        double now = 700000000.0;
        NetworkProfileStore store(home.dataHome() + QStringLiteral("/FernPoint"),
                                  [&now] { return now += 60.0; });
        store.upsertProfile(QStringLiteral("8056c2e21c000001"), QStringLiteral("Harbor Office"),
                            QStringLiteral("Branch uplink"));
        store.upsertProfile(QStringLiteral("a09acf0233d1e4b7"), QString(),
                            QStringLiteral("Lab bench, rack 3"));
        store.upsertProfile(QStringLiteral("17d709436c2c8f11"), QStringLiteral("Warehouse"),
                            QString());
        store.upsertProfile(QStringLiteral("e5cd7a9e1c3a77f0"), std::nullopt, std::nullopt);

        FakeHelperClient client;
        GatewayManager manager(client);
        Localizer localizer;
        localizer.setAppLanguage(language);
        manager.setNetworkID(QStringLiteral("8056c2e21c000001"));

        QWidget window;
        window.setWindowTitle(QStringLiteral("FernPoint panel"));
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(20, 20, 20, 20);
        layout->setSpacing(16);
        // Stands in for the window's history button, which anchors the popover.
        auto* anchor = new QPushButton(QStringLiteral("⟲ ▾"), &window);
        layout->addWidget(anchor, 0, Qt::AlignLeft);
        auto* indicator = new ConnectionIndicator(manager, localizer, &window);
        layout->addWidget(indicator);
        auto* box = new StatusGroupBox(manager, localizer, &window);
        layout->addWidget(box);
        window.resize(460, 560);
        window.move(40, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QVERIFY(fernpoint::test::publishData(manager, client, fernpoint::test::fullStatusData()));
        QVERIFY(manager.isRunning());

        HistoryPopover popover(store, manager, localizer, &window);
        popover.showBelow(anchor);
        QVERIFY(QTest::qWaitForWindowExposed(&popover));
        QTest::qWait(100);

        for (const QString& text : visibleTexts(window) + visibleTexts(popover)) {
            const QRegularExpressionMatch match = kRawKey.match(text);
            QVERIFY2(
                !match.hasMatch(),
                qPrintable(
                    QStringLiteral("%1 shows the raw key %2").arg(language, match.captured(1))));
        }

        const QImage panel = window.grab().toImage();
        const QImage shown = popover.grab().toImage();
        QVERIFY(colourCount(panel) > 20);
        QVERIFY(colourCount(shown) > 20);
        QVERIFY(panel.save(m_directory + QStringLiteral("/panel-%1.png").arg(language)));
        QVERIFY(shown.save(m_directory + QStringLiteral("/popover-%1.png").arg(language)));
        // What the X server shows: the window with the shaped popover over it.
        const QRect area =
            window.frameGeometry().united(popover.frameGeometry()).adjusted(-10, -10, 10, 10);
        const QPixmap screen =
            window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        QVERIFY(screen.save(m_directory + QStringLiteral("/screen-%1.png").arg(language)));

        popover.close();
    }

private:
    QTemporaryDir m_fallback;
    QString m_directory;
};

QTEST_MAIN(PanelScreenshotsTest)
#include "tst_PanelScreenshots.moc"
