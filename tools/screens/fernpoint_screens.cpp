// Renders the real main window in its main states, and its history popover in every language,
// and saves a PNG of each:
//   fernpoint-screens --out DIR [--check]
// against the helper on the system bus (DBUS_SYSTEM_BUS_ADDRESS), as the demo runs it.
// --check  exits 1 when any window shows a text key instead of its text.
// Nothing here can install: the installer's privileged step is a stand-in that refuses.
#include "ContentController.h"
#include "ContentView.h"
#include "GatewayManager.h"
#include "HelperClient.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "HelperJobProbe.h"
#include "HistoryPopover.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "PrivilegedRunner.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

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

// Points the home and the XDG folders of this process into a folder of its own.
void useHomeIn(const QString& home) {
    const std::pair<const char*, const char*> variables[] = {{"HOME", ""},
                                                             {"XDG_DATA_HOME", "/.local/share"},
                                                             {"XDG_CONFIG_HOME", "/.config"},
                                                             {"XDG_CACHE_HOME", "/.cache"},
                                                             {"XDG_STATE_HOME", "/.local/state"}};
    for (const auto& [name, folder] : variables) {
        QDir().mkpath(home + QLatin1StringView(folder));
        qputenv(name, (home + QLatin1StringView(folder)).toUtf8());
    }
}

// The texts of widget shown raw as a text key: a lower-case identifier with underscores.
QStringList rawKeysShown(const QWidget& root) {
    static const QRegularExpression key(QStringLiteral("^[a-z][a-z0-9]*(_[a-z0-9]+)+$"));
    QStringList texts;
    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&root))
            continue;
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts << button->text();
        if (const auto* field = qobject_cast<const QLineEdit*>(widget))
            texts << field->placeholderText();
        if (const auto* box = qobject_cast<const QGroupBox*>(widget))
            texts << box->title();
        texts << widget->accessibleName() << widget->accessibleDescription() << widget->toolTip();
    }
    return texts.filter(key);
}

// A dark scheme as desktops switch to it while the window is open.
QPalette darkPalette() {
    QPalette dark(QColor(0x3a, 0x3a, 0x3e), QColor(0x2b, 0x2b, 0x2e)); // button, window
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, QColor(0xec, 0xec, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x7c, 0xf6));
    return dark;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("FernPoint"));
    QCoreApplication::setApplicationName(QStringLiteral("fernpoint"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    const QStringList args = QCoreApplication::arguments();
    const bool check = args.contains(QStringLiteral("--check"));
    const qsizetype outIndex = args.indexOf(QStringLiteral("--out"));
    if (outIndex < 0 || outIndex + 1 >= args.size()) {
        std::fputs("usage: fernpoint-screens --out DIR [--check]\n", stderr);
        return 64;
    }
    const QDir out(args[outIndex + 1]);
    QDir().mkpath(out.path());

    // Every file of its own lives in a temporary home, so that the first shot is the empty window
    // whatever history the surrounding home holds.
    const QTemporaryDir home;
    useHomeIn(home.path());
    QSettings settings;
    settings.setValue(HelperInstaller::installedVersionKey, QString(contract::kVersion));

    BusNameProbe probe;
    RefusingRunner runner;
    HelperInstaller installer(probe, runner, settings, QStringLiteral("/nonexistent/helper"));
    Localizer localizer(QLocale(QStringLiteral("en_US")));

    GatewayManager manager(HelperClient::shared());
    NetworkProfileStore store;
    ContentController controller(manager, store, installer, localizer, settings);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("FernPoint"));
    auto* view = new ContentView(controller);
    window.setCentralWidget(view);
    controller.chooseLanguage(2);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    int failures = 0;
    QTextStream console(stdout);
    const auto shootWidget = [&](QWidget& widget, const QString& name) {
        QTest::qWait(150);
        const QString path = out.filePath(name + QStringLiteral(".png"));
        QStringList faults;
        if (!widget.grab().save(path))
            faults << QStringLiteral("cannot write ") + path;
        for (const QString& text : check ? rawKeysShown(widget) : QStringList())
            faults << QStringLiteral("raw key shown: ") + text;
        console << (faults.isEmpty() ? path : name + QStringLiteral(": ") + faults.join(u", "))
                << Qt::endl;
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
    if (!QTest::qWaitFor([&] { return manager.isRunning(); }, 30000)) {
        console << "the gateway did not connect; last error: "
                << manager.lastErrorMessage().value_or(QStringLiteral("none")) << Qt::endl;
        ++failures;
    }
    shoot(QStringLiteral("connected"));

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
        QApplication::setPalette(scheme == u"dark" ? darkPalette() : light);
        for (int i = 0; i < languages.size(); ++i) {
            controller.chooseLanguage(i + 1);
            const QString suffix = scheme + QLatin1Char('-') + languages[i];
            shoot(QStringLiteral("connected-") + suffix);
            controller.setShowHistoryPopover(true);
            auto* popover = view->findChild<HistoryPopover*>(QStringLiteral("historyPopover"));
            if (!QTest::qWaitForWindowExposed(popover))
                return 1;
            shootWidget(*popover, QStringLiteral("popover-") + suffix);
            controller.setShowHistoryPopover(false);
        }
    }

    console << "screenshots in " << out.absolutePath() << Qt::endl;
    return failures == 0 ? 0 : 1;
}
