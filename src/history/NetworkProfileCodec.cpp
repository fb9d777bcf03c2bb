#include "NetworkProfileCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace fernpoint {
namespace {

const QLatin1StringView kNetworkID("networkID");
const QLatin1StringView kName("name");
const QLatin1StringView kDesc("desc");
const QLatin1StringView kLastUsedAt("lastUsedAt");

DecodeResult failure(QString description) {
    return DecodeResult{std::nullopt, std::move(description)};
}

QString memberFault(qsizetype index, QLatin1StringView key, const char* fault) {
    return QStringLiteral("entry %1: member \"%2\" %3")
        .arg(index)
        .arg(key)
        .arg(QLatin1StringView(fault));
}

} // namespace

// QJsonDocument writes the members in key order and each number in the shortest form that reads
// back as the same double, so lastUsedAt survives a save and a load bit for bit.
QByteArray encodeProfiles(const QList<NetworkProfile>& profiles) {
    QJsonArray array;
    for (const NetworkProfile& profile : profiles) {
        array.append(QJsonObject{{kNetworkID, profile.networkID},
                                 {kName, profile.name},
                                 {kDesc, profile.desc},
                                 {kLastUsedAt, profile.lastUsedAt}});
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

DecodeResult decodeProfiles(const QByteArray& fileContent) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(fileContent, &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        return failure(QStringLiteral("not JSON: ") + error.errorString());
    if (!document.isArray())
        return failure(QStringLiteral("not a JSON array"));

    const QJsonArray array = document.array();
    QList<NetworkProfile> profiles;
    profiles.reserve(array.size());
    for (qsizetype index = 0; index < array.size(); ++index) {
        const QJsonValue element = array.at(index);
        if (!element.isObject())
            return failure(QStringLiteral("entry %1 is not an object").arg(index));
        const QJsonObject object = element.toObject();

        NetworkProfile profile;
        for (const auto& [key, target] :
             {std::pair{kNetworkID, &profile.networkID}, std::pair{kName, &profile.name},
              std::pair{kDesc, &profile.desc}}) {
            const auto found = object.constFind(key);
            if (found == object.constEnd())
                return failure(memberFault(index, key, "is missing"));
            if (!found->isString())
                return failure(memberFault(index, key, "is not a string"));
            *target = found->toString();
        }
        // Numbers written as integers are numbers too.
        const auto lastUsedAt = object.constFind(kLastUsedAt);
        if (lastUsedAt == object.constEnd())
            return failure(memberFault(index, kLastUsedAt, "is missing"));
        if (!lastUsedAt->isDouble())
            return failure(memberFault(index, kLastUsedAt, "is not a number"));
        profile.lastUsedAt = lastUsedAt->toDouble();

        profiles.append(std::move(profile));
    }
    return DecodeResult{std::move(profiles), QString()};
}

} // namespace fernpoint
