#include "DBusHelperJobProbe.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace fernpoint;
using fernpoint::test::PrivateBus;

namespace {

const QString kName = QStringLiteral("com.lunacore.sdwan.fernpoint.helper");

bool writeActivationFile(const QString& folder, const QString& name) {
    QFile file(folder + QLatin1Char('/') + name + QStringLiteral(".service"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("[D-BUS Service]\nName=" + name.toUtf8() + "\nExec=/bin/false\n");
    return true;
}

} // namespace

class tst_DBusHelperJobProbe final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void presence_data() {
        QTest::addColumn<QString>("activatableName");
        QTest::addColumn<QString>("ownedName");
        QTest::addColumn<bool>("present");
        QTest::newRow("neither") << QString() << QString() << false;
        QTest::newRow("activatable") << kName << QString() << true;
        QTest::newRow("owned") << QString() << kName << true;
        QTest::newRow("a similar name activatable")
            << kName + QStringLiteral("2") << QString() << false;
        QTest::newRow("a similar name owned")
            << QString() << kName + QStringLiteral(".old") << false;
    }

    void presence() {
        QFETCH(QString, activatableName);
        QFETCH(QString, ownedName);
        QFETCH(bool, present);

        QTemporaryDir services;
        if (!activatableName.isEmpty())
            QVERIFY(writeActivationFile(services.path(), activatableName));
        PrivateBus bus(PrivateBus::Options{{services.path()}, {}, false});
        QVERIFY(bus.isRunning());

        const QString connectionName =
            QStringLiteral("probe-") + QString::fromLatin1(QTest::currentDataTag());
        {
            QDBusConnection connection =
                QDBusConnection::connectToBus(bus.address(), connectionName);
            QVERIFY(connection.isConnected());
            QDBusConnection owner = QDBusConnection::connectToBus(
                bus.address(), connectionName + QStringLiteral("-owner"));
            if (!ownedName.isEmpty())
                QVERIFY(owner.registerService(ownedName));
            DBusHelperJobProbe probe(connection);
            QCOMPARE(probe.isHelperJobPresent(), present);
        }
        QDBusConnection::disconnectFromBus(connectionName);
        QDBusConnection::disconnectFromBus(connectionName + QStringLiteral("-owner"));
    }

    void ownerGoneMeansAbsent() {
        PrivateBus bus;
        QVERIFY(bus.isRunning());
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("gone"));
        {
            QDBusConnection owner =
                QDBusConnection::connectToBus(bus.address(), QStringLiteral("gone-owner"));
            QVERIFY(owner.registerService(kName));
            QVERIFY(DBusHelperJobProbe(connection).isHelperJobPresent());
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("gone-owner"));
        QTRY_VERIFY(!DBusHelperJobProbe(connection).isHelperJobPresent());
        QDBusConnection::disconnectFromBus(QStringLiteral("gone"));
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
