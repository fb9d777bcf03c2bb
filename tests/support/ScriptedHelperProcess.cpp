#include "ScriptedHelperProcess.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QVariantMap>

namespace fernpoint::test {
namespace {

const QString kHelperName = QStringLiteral("com.lunacore.sdwan.fernpoint.helper");

QString executable() {
    const QString overridden = qEnvironmentVariable("FERNPOINT_SCRIPTED_HELPER");
    if (!overridden.isEmpty())
        return overridden;
#ifdef FERNPOINT_SCRIPTED_HELPER_PATH
    return QStringLiteral(FERNPOINT_SCRIPTED_HELPER_PATH);
#else
    return QStringLiteral("fernpoint-scripted-helper");
#endif
}

QString behaviourName(ScriptedHelperProcess::Reply::Behaviour behaviour) {
    using Behaviour = ScriptedHelperProcess::Reply::Behaviour;
    switch (behaviour) {
    case Behaviour::Answer:
        return QStringLiteral("answer");
    case Behaviour::WrongSignature:
        return QStringLiteral("wrongSignature");
    case Behaviour::ExtraArgument:
        return QStringLiteral("extraArgument");
    case Behaviour::Error:
        return QStringLiteral("error");
    case Behaviour::Silent:
        return QStringLiteral("silent");
    case Behaviour::Exit:
        return QStringLiteral("exit");
    case Behaviour::Abort:
        return QStringLiteral("abort");
    }
    return QStringLiteral("answer");
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
    if (!m_process->waitForStarted(timeoutMs))
        return false;

    QDBusConnection control = QDBusConnection::connectToBus(m_busAddress, m_controlName);
    if (!control.isConnected())
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        const QString owner = control.interface()->serviceOwner(kHelperName);
        // Another instance that is still going away may own the name for a moment; only the
        // name held by our process counts, and only our process's name ends up unique here.
        if (!owner.isEmpty()) {
            const uint pid = control.interface()->servicePid(owner);
            if (pid == uint(m_process->processId())) {
                m_uniqueName = owner;
                return true;
            }
        }
        QThread::msleep(10);
    }
    return false;
}

void ScriptedHelperProcess::kill() {
    m_uniqueName.clear();
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
}

bool ScriptedHelperProcess::restart(int timeoutMs) {
    kill();
    return start(timeoutMs);
}

bool ScriptedHelperProcess::isRunning() const {
    return m_process && m_process->state() == QProcess::Running;
}

bool ScriptedHelperProcess::setReply(const QString& method, const Reply& reply) {
    if (m_uniqueName.isEmpty())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(m_uniqueName, QStringLiteral("/script"),
                                                       QStringLiteral("com.fernpoint.test.Script"),
                                                       QStringLiteral("SetReply"));
    const QVariantMap fields{
        {QStringLiteral("ok"), reply.ok},
        {QStringLiteral("texts"), reply.texts},
        {QStringLiteral("isRunning"), reply.isRunning},
        {QStringLiteral("delayMs"), reply.delayMs},
        {QStringLiteral("behaviour"), behaviourName(reply.behaviour)},
        {QStringLiteral("errorName"), reply.errorName},
        {QStringLiteral("errorMessage"), reply.errorMessage},
    };
    call << method << fields;
    return QDBusConnection(m_controlName).call(call).type() == QDBusMessage::ReplyMessage;
}

QList<ScriptedHelperProcess::Call> ScriptedHelperProcess::calls() const {
    if (m_uniqueName.isEmpty())
        return {};
    const QDBusMessage reply =
        QDBusConnection(m_controlName)
            .call(QDBusMessage::createMethodCall(m_uniqueName, QStringLiteral("/script"),
                                                 QStringLiteral("com.fernpoint.test.Script"),
                                                 QStringLiteral("Calls")));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    QList<Call> calls;
    const QJsonArray array =
        QJsonDocument::fromJson(reply.arguments().at(0).toString().toUtf8()).array();
    for (const QJsonValue& value : array) {
        const QJsonObject object = value.toObject();
        calls.append(Call{object.value(QStringLiteral("method")).toString(),
                          object.value(QStringLiteral("sender")).toString(),
                          object.value(QStringLiteral("arguments")).toArray().toVariantList()});
    }
    return calls;
}

bool ScriptedHelperProcess::clearCalls() {
    return control(QStringLiteral("ClearCalls"));
}

bool ScriptedHelperProcess::releaseName() {
    return control(QStringLiteral("ReleaseName"));
}

bool ScriptedHelperProcess::control(const QString& member) const {
    if (m_uniqueName.isEmpty())
        return false;
    return QDBusConnection(m_controlName)
               .call(QDBusMessage::createMethodCall(m_uniqueName, QStringLiteral("/script"),
                                                    QStringLiteral("com.fernpoint.test.Script"),
                                                    member))
               .type() == QDBusMessage::ReplyMessage;
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
    if (!m_process)
        return true;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process->state() == QProcess::NotRunning || m_process->waitForFinished(10)) {
            m_uniqueName.clear();
            return true;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return false;
}

} // namespace fernpoint::test
