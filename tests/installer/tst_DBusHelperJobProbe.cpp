#include "DBusHelperJobProbe.h"
#include "HelperContract.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace fernpoint;
using fernpoint::test::PrivateBus;

namespace {

const QString kName = contract::kBusName;

} // namespace

class tst_DBusHelperJobProbe final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The job is present when its exact name is activatable or owned, and not after the owner
    // has gone.
    void presence_data() {
        QTest::addColumn<QString>("activatableName");
        QTest::addColumn<QString>("ownedName");
        QTest::addColumn<bool>("present");
        QTest::newRow("neither") << QString() << QString() << false;
        QTest::newRow("activatable") << kName << QString() << true;
        QTest::newRow("owned") << QString() << kName << true;
        QTest::newRow("a similar name owned")
            << QString() << kName + QStringLiteral(".old") << false;
    }

    void presence() {
        QFETCH(QString, activatableName);
        QFETCH(QString, ownedName);
        QFETCH(bool, present);
        QTemporaryDir services;
        if (!activatableName.isEmpty()) {
            QFile file(services.filePath(activatableName + QStringLiteral(".service")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[D-BUS Service]\nName=" + activatableName.toUtf8() + "\nExec=/bin/false\n");
        }
        PrivateBus bus(PrivateBus::Options{{services.path()}, {}, false});
        QVERIFY(bus.isRunning());
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("probe"));
        {
            QDBusConnection owner =
                QDBusConnection::connectToBus(bus.address(), QStringLiteral("owner"));
            if (!ownedName.isEmpty())
                QVERIFY(owner.registerService(ownedName));
            QCOMPARE(DBusHelperJobProbe(connection).isHelperJobPresent(), present);
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("owner"));
        QTRY_COMPARE(DBusHelperJobProbe(connection).isHelperJobPresent(), activatableName == kName);
        QDBusConnection::disconnectFromBus(QStringLiteral("probe"));
    }

    void unreachableBusMeansAbsent() {
        QDBusConnection connection = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/fernpoint-bus"), QStringLiteral("unreachable"));
        QVERIFY(!connection.isConnected());
        QVERIFY(!DBusHelperJobProbe(connection).isHelperJobPresent());
        QDBusConnection::disconnectFromBus(QStringLiteral("unreachable"));
    }
};

QTEST_GUILESS_MAIN(tst_DBusHelperJobProbe)
#include "tst_DBusHelperJobProbe.moc"
