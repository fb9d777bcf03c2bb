#pragma once

#include <QDBusVirtualObject>
#include <QHash>
#include <QJsonArray>
#include <QString>
#include <QStringList>

namespace fernpoint::test {

// Serves the helper contract with scripted answers, and the test control interface beside it.
// Messages are handled raw so that answers of the wrong shape and late answers can be sent.
class ScriptedHelper final : public QDBusVirtualObject {
    Q_OBJECT

public:
    // What the helper does with the calls of one method.
    struct Script {
        bool ok = true;
        QStringList texts; // the "as" of the answer; no element = null
        bool isRunning = false;
        int delayMs = 0;
        QString behaviour = QStringLiteral("answer");
        QString errorName;
        QString errorMessage;
    };

    explicit ScriptedHelper(QObject* parent = nullptr);

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;
    QString introspect(const QString& path) const override;

private:
    bool handleHelperCall(const QDBusMessage& message, const QDBusConnection& connection);
    bool handleScriptCall(const QDBusMessage& message, const QDBusConnection& connection);

    QHash<QString, Script> m_scripts;
    QJsonArray m_calls;
};

} // namespace fernpoint::test
