#pragma once

#include "ContentController.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "Localizer.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"
#include "UiTestFakes.h"

#include <QSettings>

#include <memory>

namespace fernpoint::test {

// The window's collaborators wired as in the application, but with a fake helper, a fake
// installer back end and a temporary home: nothing here can install or reach a real bus.
struct ControllerRig {
    explicit ControllerRig(const QLocale& processLocale = QLocale(QStringLiteral("en_US")))
        : settings(home.configHome() + QStringLiteral("/FernPoint/fernpoint.conf"),
                   QSettings::IniFormat)
        , installer(probe, runner, settings, QStringLiteral("/nonexistent/fernpoint-helper"))
        , manager(client)
        , store(home.dataHome() + QStringLiteral("/FernPoint"), [this] { return ++clockTicks; })
        , localizer(processLocale) {
        settings.setValue(HelperInstaller::installedVersionKey, QString(contract::kVersion));
    }

    ContentController& controller() {
        if (!m_controller)
            m_controller =
                std::make_unique<ContentController>(manager, store, installer, localizer, settings);
        return *m_controller;
    }

    TemporaryHome home;
    QSettings settings;
    FakeJobProbe probe;
    FakeRunner runner;
    HelperInstaller installer;
    FakeHelperClient client;
    GatewayManager manager;
    double clockTicks = 1000.0;
    NetworkProfileStore store;
    Localizer localizer;

private:
    std::unique_ptr<ContentController> m_controller;
};

} // namespace fernpoint::test
