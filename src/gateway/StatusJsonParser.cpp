#include "StatusJsonParser.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariant>

#include <cmath>
#include <limits>

namespace fernpoint {
namespace {

std::optional<QString> stringValue(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// Booleans are strict: the numbers 0 and 1 are not taken for false and true.
bool boolValue(const QJsonValue& value) {
    return value.isBool() && value.toBool();
}

// A JSON number with an integral value. The reader keeps integer literals that fit in 64 bits
// exactly; any other number arrives as a double, which counts only when it is integral and
// inside the int64 range (casting a double outside that range would be undefined behaviour).
std::optional<std::int64_t> integerValue(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const QVariant variant = value.toVariant();
    if (variant.typeId() == QMetaType::LongLong)
        return variant.toLongLong();
    const double number = value.toDouble();
    constexpr double kTwoToThe63 = 9223372036854775808.0;  // exactly representable
    if (!(number >= -kTwoToThe63 && number < kTwoToThe63)) // also false for NaN
        return std::nullopt;
    if (std::trunc(number) != number)
        return std::nullopt;
    return static_cast<std::int64_t>(number);
}

QList<EndpointStatus> endpointsFrom(const QJsonValue& value) {
    QList<EndpointStatus> endpoints;
    if (!value.isArray())
        return endpoints;
    const QJsonArray array = value.toArray();
    // The list is taken whole or not at all: one element that is not an object empties it.
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return {};
    }
    endpoints.reserve(array.size());
    for (const QJsonValue& element : array) {
        const QJsonObject object = element.toObject();
        if (object.isEmpty())
            continue;
        const std::optional<QString> address =
            stringValue(object.value(QLatin1StringView("endpoints")));
        if (!address)
            continue;
        endpoints.append(
            EndpointStatus{*address, boolValue(object.value(QLatin1StringView("ok")))});
    }
    return endpoints;
}

QList<QString> stringsFrom(const QJsonValue& value) {
    QList<QString> strings;
    if (!value.isArray())
        return strings;
    const QJsonArray array = value.toArray();
    strings.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isString())
            return {};
        strings.append(element.toString());
    }
    return strings;
}

GatewayStatusDetail snapshotFrom(const QJsonObject& data) {
    GatewayStatusDetail detail;
    if (const auto connState = stringValue(data.value(QLatin1StringView("conn_state"))))
        detail.statusText = *connState;
    detail.isConnected = detail.statusText == QLatin1StringView("connected");
    detail.networkName = stringValue(data.value(QLatin1StringView("network_name")));
    detail.networkDesc = stringValue(data.value(QLatin1StringView("network_desc")));
    detail.localMgmtCIDR = stringValue(data.value(QLatin1StringView("address_cidr")));
    detail.listenPort = integerValue(data.value(QLatin1StringView("listen_port")));
    detail.coreState = stringValue(data.value(QLatin1StringView("state")));
    detail.peerCount = integerValue(data.value(QLatin1StringView("peers")));
    detail.natEnabled = boolValue(data.value(QLatin1StringView("Nat")));
    if (const auto policyAt = integerValue(data.value(QLatin1StringView("last_policy_at")));
        policyAt && *policyAt > 0) {
        QString formatted = formatPolicyTime(*policyAt);
        if (!formatted.isEmpty())
            detail.lastPolicyAt = std::move(formatted);
    }
    detail.endpoints = endpointsFrom(data.value(QLatin1StringView("endpoints")));
    detail.remoteMgmtCIDRs = stringsFrom(data.value(QLatin1StringView("mgmt_ips")));
    return detail;
}

StatusParseOutcome outcome(StatusParseOutcome::Kind kind,
                           std::optional<QString> consoleLine = std::nullopt) {
    StatusParseOutcome result;
    result.kind = kind;
    result.consoleLine = std::move(consoleLine);
    return result;
}

} // namespace

StatusParseOutcome parseStatusJson(const QString& statusJSON) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(statusJSON.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) {
        return outcome(StatusParseOutcome::Kind::Unparseable,
                       QStringLiteral("❌ status JSON parse error: ") + error.errorString());
    }
    if (!document.isObject())
        return outcome(StatusParseOutcome::Kind::NotAnObject);

    const QJsonObject root = document.object();
    const QJsonValue ok = root.value(QLatin1StringView("ok"));
    // Only an explicit boolean false reports a failure; a missing "ok" or any other type is
    // success.
    if (ok.isBool() && !ok.toBool()) {
        const QJsonValue message = root.value(QLatin1StringView("error"));
        if (message.isString()) {
            return outcome(StatusParseOutcome::Kind::ReportedError,
                           QStringLiteral("status error: ") + message.toString());
        }
        return outcome(StatusParseOutcome::Kind::ReportedError);
    }

    const QJsonValue data = root.value(QLatin1StringView("data"));
    if (!data.isObject())
        return outcome(StatusParseOutcome::Kind::NoData);

    StatusParseOutcome result = outcome(StatusParseOutcome::Kind::Snapshot);
    result.snapshot = snapshotFrom(data.toObject());
    return result;
}

QString formatPolicyTime(std::int64_t secondsSinceEpoch) {
    // The date type counts milliseconds in 64 bits; beyond that no instant can be shown, and the
    // conversion to milliseconds must not overflow.
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 1000;
    if (secondsSinceEpoch > kLimit || secondsSinceEpoch < -kLimit)
        return {};
    const QDateTime instant = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC);
    if (!instant.isValid())
        return {};
    return instant.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace fernpoint
