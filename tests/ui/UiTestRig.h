#pragma once

#include "ContentController.h"
#include "ContentView.h"
#include "ErrorBanner.h"
#include "FakeHelperClient.h"
#include "GatewayManager.h"
#include "HelperContract.h"
#include "HelperInstaller.h"
#include "HistoryButton.h"
#include "Localizer.h"
#include "MainButton.h"
#include "NetworkProfileStore.h"
#include "PrivateBus.h"
#include "SegmentedPicker.h"
#include "ToggleSwitch.h"
#include "UiTestFakes.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace fernpoint::test {

// The window's collaborators wired as in the application, but with a fake helper (unless another
// client is given), a fake installer back end and a temporary home: nothing here can install.
struct ControllerRig {
    explicit ControllerRig(const QLocale& processLocale = QLocale(QStringLiteral("en_US")),
                           HelperClient* helper = nullptr)
        : settings(home.configHome() + QStringLiteral("/FernPoint/fernpoint.conf"),
                   QSettings::IniFormat)
        , installer(probe, runner, settings, QStringLiteral("/nonexistent/fernpoint-helper"))
        , manager(helper ? *helper : client)
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

// The window's content over a ControllerRig, with its controls found by their object names.
struct ViewRig : ControllerRig {
    explicit ViewRig(HelperClient* helper = nullptr)
        : ControllerRig(QLocale(QStringLiteral("en_US")), helper)
        , view(controller()) {}
    template<typename T> T* part(const char* name) const {
        return view.findChild<T*>(QString::fromLatin1(name));
    }

    ContentView view;
    SegmentedPicker* const picker = part<SegmentedPicker>("languagePicker");
    ErrorBanner* const banner = part<ErrorBanner>("errorBanner");
    QLineEdit* const field = part<QLineEdit>("networkIdField");
    HistoryButton* const historyButton = part<HistoryButton>("historyButton");
    MainButton* const mainButton = part<MainButton>("mainButton");
    ToggleSwitch* const natSwitch = part<ToggleSwitch>("natSwitch");
};

// Makes the manager ask for its status once (through a NAT command, which leaves the error line
// and the busy flag alone) and answers with the given reply; returns once it is published. The
// manager's own polls are held and never answered.
inline bool publishStatus(GatewayManager& manager, FakeHelperClient& client,
                          const std::optional<QString>& json, bool running = false) {
    QSignalSpy published(&manager, &GatewayManager::currentStatusChanged);
    client.holdStatus = true;
    client.heldStatus.clear();
    manager.applyNatSetting();
    if (!QTest::qWaitFor([&] { return !client.heldStatus.isEmpty(); }, 2000))
        return false;
    client.heldStatus.takeFirst()(GatewayStatus{true, json, running});
    return published.wait(2000) || published.count() > 0;
}

// The same with a status whose "data" object is given.
inline bool publishData(GatewayManager& manager, FakeHelperClient& client,
                        const QJsonObject& data) {
    const QJsonObject reply{{QStringLiteral("ok"), true}, {QStringLiteral("data"), data}};
    return publishStatus(manager, client,
                         QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)));
}

} // namespace fernpoint::test
