// Renders the real main window in its main states, and its history popover in every language,
// and saves a PNG of each:
//   fernpoint-screens --out DIR [--fake] [--check]
// --fake   a helper living in this program (tests); without it the helper on the system bus
//          (DBUS_SYSTEM_BUS_ADDRESS) is used, as the demo does.
// --check  exits 1 when any window shows a text key instead of its text, or draws nothing.
// Nothing here can install: the installer's privileged step is a stand-in that refuses.
#include "ContentController.h"
#include "ContentView.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "HelperClient.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "HistoryPopover.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"
#include "UiTestFakes.h"
#include "WindowTexts.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QTextStream>

#include <cstdio>
#include <memory>

using namespace fernpoint;

namespace {

class BusNameProbe final : public HelperJobProbe {
public:
    bool isHelperJobPresent() override {
        QDBusConnectionInterface* bus = QDBusConnection::systemBus().interface();
        return bus && bus->isServiceRegistered(QString(contract::kBusName)).value();
    }
};

class RefusingRunner final : public PrivilegedRunner {
public:
    Outcome run(const QString&, const QStringList&) override {
        return {Outcome::Kind::AuthorizerMissing, 0, QString()};
    }
};

QPalette darkPalette() {
    QPalette p(QColor(0x3a, 0x3a, 0x3e), QColor(0x2b, 0x2b, 0x2e)); // button, window
    const QColor text(0xec, 0xec, 0xee);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(role, text);
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x7c, 0xf6));
    return p;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("FernPoint"));
    QCoreApplication::setApplicationName(QStringLiteral("fernpoint"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QStringList args = QCoreApplication::arguments();
    const bool fake = args.contains(QStringLiteral("--fake"));
    const bool check = args.contains(QStringLiteral("--check"));
    const qsizetype outIndex = args.indexOf(QStringLiteral("--out"));
    if (outIndex < 0 || outIndex + 1 >= args.size()) {
        std::fputs("usage: fernpoint-screens --out DIR [--fake] [--check]\n", stderr);
        return 64;
    }
    const QDir out(args[outIndex + 1]);
    QDir().mkpath(out.path());

    // Every file of its own lives in a temporary home, so that the first shot is the empty window
    // whatever history the surrounding home holds.
    const test::TemporaryHome home;
    QSettings settings;
    settings.setValue(HelperInstaller::installedVersionKey, QString(contract::kVersion));

    test::FakeHelperClient fakeClient;
    test::FakeJobProbe fakeProbe;
    BusNameProbe busProbe;
    RefusingRunner runner;
    HelperJobProbe& probe = fake ? static_cast<HelperJobProbe&>(fakeProbe) : busProbe;
    HelperClient& client = fake ? static_cast<HelperClient&>(fakeClient) : HelperClient::shared();
    HelperInstaller installer(probe, runner, settings, QStringLiteral("/nonexistent/helper"));
    Localizer localizer(QLocale(QStringLiteral("en_US")));

    GatewayManager manager(client);
    NetworkProfileStore store;
    ContentController controller(manager, store, installer, localizer, settings);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("FernPoint"));
    auto* view = new ContentView(controller);
    window.setCentralWidget(view);
    controller.chooseLanguage(2);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fputs("fernpoint-screens: the window never appeared\n", stderr);
        return 1;
    }

    int failures = 0;
    QTextStream console(stdout);
    const auto shootWidget = [&](QWidget& widget, const QString& name) {
        QTest::qWait(150);
        const QImage image = widget.grab().toImage();
        const QString path = out.filePath(name + QStringLiteral(".png"));
        QStringList faults;
        if (!image.save(path))
            faults << QStringLiteral("cannot write ") + path;
        QSet<QRgb> colours;
        for (int y = 0; check && y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                colours.insert(image.pixel(x, y));
        if (check && colours.size() < 20)
            faults << QStringLiteral("nothing drawn");
        for (const QString& text : check ? test::visibleTexts(widget) : QStringList())
            if (test::isRawKey(text))
                faults << QStringLiteral("raw key shown: ") + text;
        for (const QString& fault : faults)
            console << name << ": " << fault << Qt::endl;
        if (faults.isEmpty())
            console << path << Qt::endl;
        failures += int(faults.size());
    };
    const auto shoot = [&](const QString& name) {
        window.adjustSize();
        shootWidget(window, name);
    };

    shoot(QStringLiteral("empty"));

    auto* field = view->findChild<QLineEdit*>(QStringLiteral("networkIdField"));
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("8056c2e21c000001"));
    controller.pressMainButton();
    const bool connected = QTest::qWaitFor(
        [&] {
            const auto& status = manager.currentStatus();
            return status && status->isConnected;
        },
        30000);
    if (!connected) {
        console << "the gateway did not connect; last error: "
                << manager.lastErrorMessage().value_or(QStringLiteral("none")) << Qt::endl;
        ++failures;
    }
    shoot(QStringLiteral("connected"));

    if (fake) { // a longer history for the popover
        store.upsertProfile(QStringLiteral("a09acf0233d1e4b7"), QString(),
                            QStringLiteral("Lab bench, rack 3"));
        store.upsertProfile(QStringLiteral("17d709436c2c8f11"), QStringLiteral("Warehouse"),
                            QString());
    }
    controller.chooseLanguage(2);
    manager.setLastErrorMessage(
        localizer.processText(QStringLiteral("error_helper_install_failed_prefix")) +
        QStringLiteral("AuthorizationCopyRights 失败: -60006. The administrator prompt was "
                       "dismissed before the helper could be installed; open the window again "
                       "to retry the installation."));
    shoot(QStringLiteral("error-banner"));
    manager.setLastErrorMessage(std::nullopt);

    // The connected window and its open popover in each language, light and then dark: the
    // switch happens while the window is open, as when the desktop changes its scheme.
    const QStringList languages = {QStringLiteral("zhHans"), QStringLiteral("en"),
                                   QStringLiteral("ja")};
    const QPalette light = QApplication::palette();
    for (const QString& scheme : {QStringLiteral("light"), QStringLiteral("dark")}) {
        QApplication::setPalette(scheme == QLatin1StringView("dark") ? darkPalette() : light);
        for (int i = 0; i < languages.size(); ++i) {
            controller.chooseLanguage(i + 1);
            const QString suffix = scheme + QLatin1Char('-') + languages[i];
            shoot(QStringLiteral("connected-") + suffix);
            controller.setShowHistoryPopover(true);
            auto* popover = view->findChild<HistoryPopover*>(QStringLiteral("historyPopover"));
            if (QTest::qWaitForWindowExposed(popover)) {
                shootWidget(*popover, QStringLiteral("popover-") + suffix);
            } else {
                console << "the history popover never appeared" << Qt::endl;
                ++failures;
            }
            controller.setShowHistoryPopover(false);
        }
    }

    console << "screenshots in " << out.absolutePath() << Qt::endl;
    return failures == 0 ? 0 : 1;
}
