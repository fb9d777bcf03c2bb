// fernpoint-scripted-helper <bus address>
//
// A stand-in for the gateway helper in tests: it owns the helper's name on the given bus and
// answers as scripted through com.fernpoint.test.Script at /script (see ScriptedHelperProcess.h).

#include "ScriptedHelper.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTextStream>

#include <sys/prctl.h>

#include <csignal>

int main(int argc, char** argv) {
    // A helper outliving its test would keep the test's bus and folders busy.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QTextStream err(stderr);
    if (arguments.size() != 2) {
        err << "usage: fernpoint-scripted-helper <bus address>\n";
        return 2;
    }

    QDBusConnection bus =
        QDBusConnection::connectToBus(arguments.at(1), QStringLiteral("fernpoint-scripted-helper"));
    if (!bus.isConnected()) {
        err << "cannot connect to " << arguments.at(1) << ": " << bus.lastError().message() << '\n';
        return 1;
    }
    // Gone with its bus, like a real helper whose system bus went away.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &app,
                SLOT(quit()));

    fernpoint::test::ScriptedHelper helper;
    // Objects first, name last: once the name has an owner, every call is served.
    if (!bus.registerVirtualObject(QStringLiteral("/com/lunacore/sdwan/fernpoint/helper"),
                                   &helper) ||
        !bus.registerVirtualObject(QStringLiteral("/script"), &helper)) {
        err << "cannot register the helper objects\n";
        return 1;
    }
    if (!bus.registerService(QStringLiteral("com.lunacore.sdwan.fernpoint.helper"))) {
        err << "cannot own the helper name: " << bus.lastError().message() << '\n';
        return 1;
    }
    return app.exec();
}
