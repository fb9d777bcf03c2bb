// fernpoint-scripted-helper <bus address>: the stand-in helper of ScriptedHelper.h as a program of
// its own, for tests that drive the whole desktop. Scripts come through com.fernpoint.test.Script
// at /script: SetReply(method, {ok, texts, isRunning, delayMs}) and Calls(), a JSON array of
// {method, arguments}.

#include "ScriptedHelper.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using fernpoint::test::ScriptedHelper;

namespace {

class Script final : public QDBusVirtualObject {
public:
    explicit Script(ScriptedHelper& helper)
        : m_helper(helper) {}
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.member() == u"SetReply" && message.signature() == u"sa{sv}") {
            const QString method = message.arguments().at(0).toString();
            const auto script = qdbus_cast<QVariantMap>(message.arguments().at(1));
            QVariantList answer{script.value(QStringLiteral("ok"), true).toBool(),
                                script.value(QStringLiteral("texts")).toStringList()};
            if (method == u"GatewayStatus")
                answer << script.value(QStringLiteral("isRunning")).toBool();
            m_helper.setReply(method, answer, script.value(QStringLiteral("delayMs")).toInt());
            return bus.send(message.createReply());
        }
        if (message.member() == u"Calls") {
            QJsonArray calls;
            for (const ScriptedHelper::Call& call : m_helper.calls())
                calls.append(QJsonObject{
                    {QStringLiteral("method"), call.method},
                    {QStringLiteral("arguments"), QJsonArray::fromVariantList(call.arguments)}});
            return bus.send(message.createReply(QString::fromUtf8(QJsonDocument(calls).toJson())));
        }
        return false;
    }

private:
    ScriptedHelper& m_helper;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ScriptedHelper helper(app.arguments().value(1));
    Script script(helper);
    if (!helper.isServing() ||
        !helper.connection().registerVirtualObject(QStringLiteral("/script"), &script))
        return 1;
    return app.exec();
}
