#include "NetworkProfileCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLocale>

#include <cmath>

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

constexpr char kHex[] = "0123456789abcdef";

void appendEscapedUtf8(QByteArray& out, QStringView text) {
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += kHex[(c >> 4) & 0xf];
                out += kHex[c & 0xf];
            } else {
                out += c; // UTF-8 bytes of non-ASCII text go out unchanged
            }
        }
    }
}

void appendJsonString(QByteArray& out, const QString& text) {
    out += '"';
    // A lone surrogate (a hand-edited file may hold one as an escape) has no UTF-8 form: it is
    // written as an escape again, so that the text reads back unchanged.
    qsizetype start = 0;
    const qsizetype end = text.isValidUtf16() ? 0 : text.size();
    for (qsizetype i = 0; i < end; ++i) {
        const char16_t unit = text.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            appendEscapedUtf8(out, QStringView(text).sliced(start, i - start));
            out += "\\u";
            for (const int shift : {12, 8, 4, 0})
                out += kHex[(unit >> shift) & 0xf];
            start = i + 1;
        }
    }
    appendEscapedUtf8(out, QStringView(text).sliced(start));
    out += '"';
}

// The shortest text that reads back as the same double, so lastUsedAt survives a save and a
// load bit for bit; whole numbers of exactly representable size are written as integers
// (700000000, not 7e+08). JSON has no NaN or infinity; the clock never yields them, and a zero
// keeps the file readable if it ever did.
void appendJsonNumber(QByteArray& out, double value) {
    constexpr double kTwoToThe53 = 9007199254740992.0;
    if (!std::isfinite(value)) {
        out += '0';
    } else if (std::trunc(value) == value && std::fabs(value) < kTwoToThe53) {
        out += QByteArray::number(static_cast<qint64>(value));
    } else {
        out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
    }
}

} // namespace

// Written by hand rather than through QJsonObject: the file is rewritten on every status poll,
// and building a JSON object tree per entry cost ten times as much for a long history.
QByteArray encodeProfiles(const QList<NetworkProfile>& profiles) {
    QByteArray out;
    out.reserve(2 + profiles.size() * 96);
    out += '[';
    for (qsizetype i = 0; i < profiles.size(); ++i) {
        const NetworkProfile& profile = profiles.at(i);
        if (i > 0)
            out += ',';
        out += "{\"desc\":";
        appendJsonString(out, profile.desc);
        out += ",\"lastUsedAt\":";
        appendJsonNumber(out, profile.lastUsedAt);
        out += ",\"name\":";
        appendJsonString(out, profile.name);
        out += ",\"networkID\":";
        appendJsonString(out, profile.networkID);
        out += '}';
    }
    out += ']';
    return out;
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
