#pragma once

// The window wired to a real helper client, for the fault tests.

#include "ContentController.h"
#include "ContentView.h"
#include "ErrorBanner.h"
#include "GatewayManager.h"
#include "HelperInstaller.h"
#include "Localizer.h"
#include "PrivateBus.h"
#include "UiTestFakes.h"

#include <QSettings>
#include <QSignalSpy>

#include <memory>

namespace fernpoint::test {

// The helper's reply to GatewayStatus while the core runs and is connected.
inline const QString kRunningStatusJson =
    QStringLiteral(R"({"ok":true,"data":{"conn_state":"connected","network_name":"Head office",)"
                   R"("state":"running","Nat":true,"peers":2}})");

// The main window's content on a given helper client, with a temporary home and an installer
// that finds the helper installed (it can never run anything).
struct WindowRig {
    explicit WindowRig(HelperClient& client)
        : settings(home.configHome() + QStringLiteral("/FernPoint/fernpoint.conf"),
                   QSettings::IniFormat)
        , installer(probe, runner, settings, QStringLiteral("/nonexistent/fernpoint-helper"))
        , localizer(QLocale(QStringLiteral("en_US"))) {
        settings.setValue(HelperInstaller::installedVersionKey,
                          QString(HelperInstaller::requiredHelperVersion));
        view = std::make_unique<ContentView>(client, installer, localizer, settings);
    }

    // Shows the window and waits until its helper check has been applied (which restarts the
    // 5 s polling; set the period a test needs after this).
    bool showAndSettle() {
        QSignalSpy checked(&view->controller(), &ContentController::helperCheckApplied);
        view->resize(420, 640);
        view->show();
        return checked.wait(5000) && checked.first().first().toBool();
    }

    GatewayManager& manager() { return view->manager(); }
    std::optional<QString> banner() const {
        return view->errorBanner()->isVisible() ? view->errorBanner()->message() : std::nullopt;
    }

    TemporaryHome home;
    QSettings settings;
    FakeJobProbe probe;
    FakeRunner runner;
    HelperInstaller installer;
    Localizer localizer;
    std::unique_ptr<ContentView> view;
};

} // namespace fernpoint::test
