#pragma once

// What the fault tests share: the window wired to a real helper client, the helper's process ID
// from the bus, and the warning lines the client logs.

#include "ContentController.h"
#include "ContentView.h"
#include "ErrorBanner.h"
#include "GatewayManager.h"
#include "HelperInstaller.h"
#include "Localizer.h"
#include "PrivateBus.h"
#include "UiTestFakes.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QSettings>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

#include <memory>

namespace fernpoint::test {

// The helper's reply to GatewayStatus while the core runs and is connected.
inline const QString& runningStatusJson() {
    static const QString json = QStringLiteral(
        R"({"ok":true,"data":{"conn_state":"connected","network_name":"Head office",)"
        R"("network_desc":"Second floor","state":"running","Nat":true,"peers":2}})");
    return json;
}

// The process ID of a bus client, asked of the bus daemon itself.
inline qint64 processIdOf(const QString& busAddress, const QString& uniqueName) {
    const QString connectionName = QStringLiteral("fernpoint-faults-pid-query");
    qint64 pid = -1;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress, connectionName);
        const QDBusReply<uint> reply = bus.interface()->servicePid(uniqueName);
        if (reply.isValid())
            pid = reply.value();
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return pid;
}

// "unix:path=/tmp/...": the address without the daemon's GUID, as a system bus address is
// written. A new daemon on the same socket has a new GUID; this form reaches it all the same.
inline QString addressWithoutGuid(const QString& address) {
    return address.section(QLatin1Char(','), 0, 0);
}

// Every warning line logged while it lives (the client's interruption and invalidation lines).
class WarningCapture {
public:
    WarningCapture() {
        s_lines = &lines;
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& message) {
                if (type == QtWarningMsg && s_lines)
                    s_lines->append(message);
            });
    }
    ~WarningCapture() {
        qInstallMessageHandler(m_previous);
        s_lines = nullptr;
    }
    WarningCapture(const WarningCapture&) = delete;
    WarningCapture& operator=(const WarningCapture&) = delete;

    int count(const QString& line) const { return static_cast<int>(lines.count(line)); }

    QStringList lines;

private:
    static inline QStringList* s_lines = nullptr;
    QtMessageHandler m_previous = nullptr;
};

// The main window's content on a given helper client, with a temporary home and an installer
// that finds the helper installed (it can never run anything). After show() the window's helper
// check restarts the 5 s polling; pollEvery() then sets the period a test needs.
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

    // Shows the window and waits until its helper check has been applied.
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
