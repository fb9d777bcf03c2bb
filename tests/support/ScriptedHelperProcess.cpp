#include "ScriptedHelperProcess.h"

#include "HelperContract.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QVariantMap>

namespace fernpoint::test {
namespace {

QString executable() {
    const QString overridden = qEnvironmentVariable("FERNPOINT_SCRIPTED_HELPER");
    return overridden.isEmpty() ? QStringLiteral(FERNPOINT_SCRIPTED_HELPER_PATH) : overridden;
}

} // namespace

ScriptedHelperProcess::Reply
ScriptedHelperProcess::Reply::answer(bool ok, const std::optional<QString>& text, bool isRunning) {
    Reply reply;
    reply.ok = ok;
    if (text)
        reply.texts = QStringList{*text};
    reply.isRunning = isRunning;
    return reply;
}

ScriptedHelperProcess::Reply ScriptedHelperProcess::Reply::with(Behaviour behaviour, int delayMs) {
    Reply reply;
    reply.behaviour = behaviour;
    reply.delayMs = delayMs;
    return reply;
}

ScriptedHelperProcess::ScriptedHelperProcess(QString busAddress)
    : m_busAddress(std::move(busAddress))
    , m_controlName(QStringLiteral("fernpoint-scripted-helper-control-%1")
                        .arg(reinterpret_cast<quintptr>(this), 0, 16)) {}

ScriptedHelperProcess::~ScriptedHelperProcess() {
    kill();
    QDBusConnection::disconnectFromBus(m_controlName);
}

bool ScriptedHelperProcess::start(int timeoutMs) {
    kill();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start(executable(), {m_busAddress});
    QDBusConnection control = QDBusConnection::connectToBus(m_busAddress, m_controlName);
    if (!m_process->waitForStarted(timeoutMs) || !control.isConnected())
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        // Another instance that is still going away may own the name for a moment; only the
        // name held by our process counts.
        const QString owner = control.interface()->serviceOwner(contract::kBusName);
        if (!owner.isEmpty() &&
            control.interface()->servicePid(owner).value() == uint(m_process->processId())) {
            m_uniqueName = owner;
            return true;
        }
        QThread::msleep(10);
    }
    return false;
}

void ScriptedHelperProcess::kill() {
    m_uniqueName.clear();
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
}

bool ScriptedHelperProcess::isRunning() const {
    return m_process && m_process->state() == QProcess::Running;
}

QDBusMessage ScriptedHelperProcess::control(const QString& member,
                                            const QVariantList& arguments) const {
    if (m_uniqueName.isEmpty())
        return {};
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_uniqueName, QStringLiteral("/script"),
                                       QStringLiteral("com.fernpoint.test.Script"), member);
    call.setArguments(arguments);
    return QDBusConnection(m_controlName).call(call);
}

bool ScriptedHelperProcess::setReply(const QString& method, const Reply& reply) {
    static const QStringList behaviours = {
        QStringLiteral("answer"), QStringLiteral("wrongSignature"), QStringLiteral("extraArgument"),
        QStringLiteral("exit"), QStringLiteral("abort")};
    const QVariantMap fields{{QStringLiteral("ok"), reply.ok},
                             {QStringLiteral("texts"), reply.texts},
                             {QStringLiteral("isRunning"), reply.isRunning},
                             {QStringLiteral("delayMs"), reply.delayMs},
                             {QStringLiteral("behaviour"), behaviours.at(int(reply.behaviour))}};
    return control(QStringLiteral("SetReply"), {method, fields}).type() ==
           QDBusMessage::ReplyMessage;
}

QList<ScriptedHelperProcess::Call> ScriptedHelperProcess::calls() const {
    const QDBusMessage reply = control(QStringLiteral("Calls"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QList<Call> calls;
    const auto array = QJsonDocument::fromJson(reply.arguments().at(0).toString().toUtf8()).array();
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        calls.append(Call{object.value(QStringLiteral("method")).toString(),
                          object.value(QStringLiteral("sender")).toString(),
                          object.value(QStringLiteral("arguments")).toArray().toVariantList()});
    }
    return calls;
}

bool ScriptedHelperProcess::releaseName() {
    return control(QStringLiteral("ReleaseName")).type() == QDBusMessage::ReplyMessage;
}

bool ScriptedHelperProcess::waitForCalls(int count, int timeoutMs) const {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (calls().size() >= count)
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return false;
}

bool ScriptedHelperProcess::waitForExit(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (m_process && !deadline.hasExpired()) {
        if (m_process->state() == QProcess::NotRunning || m_process->waitForFinished(10)) {
            m_uniqueName.clear();
            return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return !m_process;
}

} // namespace fernpoint::test
