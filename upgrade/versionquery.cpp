// SPDX-License-Identifier: MIT
// The version query: one GET to the current upgrade server, answered with a JSON list of the
// modules on offer.
#include "versionquery.h"

#include "cupgrade.h"
#include "upgradewarning.h"

#include <hestal/hestal.h>
#include <json/json.h>

#include <QCryptographicHash>
#include <QRandomGenerator64>

#include <cmath>
#include <exception>
#include <limits>
#include <string>

namespace VersionQuery {

QString requestScheme(const QString &serverName)
{
    if (serverName == QLatin1String("test") || serverName == QLatin1String("inter"))
        return QStringLiteral("http://");
    return QStringLiteral("https://");
}

QString requestToken(const QString &requestPath, const QString &key)
{
    const QByteArray digest
        = QCryptographicHash::hash((requestPath + key).toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex());
}

namespace {

// Strings as they stand, booleans as "true" or "false", every other kind as empty text.
QString readText(const Json::Value &value)
{
    switch (value.type()) {
    case Json::stringValue: {
        const char *begin = nullptr;
        const char *end = nullptr;
        if (!value.getString(&begin, &end))
            return QString();
        return QString::fromUtf8(begin, static_cast<int>(end - begin));
    }
    case Json::booleanValue:
        return value.asBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return QString();
    }
}

// Integers as they are, reals cut to their whole part, booleans as 1 and 0, the rest 0. Values
// beyond the signed 64-bit range are held at its ends rather than wrapped.
qint64 readReleaseDate(const Json::Value &value)
{
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    switch (value.type()) {
    case Json::intValue:
        return value.asInt64();
    case Json::uintValue: {
        const Json::UInt64 u = value.asUInt64();
        return u > static_cast<Json::UInt64>(kMax) ? kMax : static_cast<qint64>(u);
    }
    case Json::realValue: {
        const double d = value.asDouble();
        if (std::isnan(d))
            return 0;
        if (d >= 9223372036854775808.0)
            return kMax;
        if (d < -9223372036854775808.0)
            return kMin;
        return static_cast<qint64>(d);
    }
    case Json::booleanValue:
        return value.asBool() ? 1 : 0;
    default:
        return 0;
    }
}

// A decimal number held in text; anything else, and a number that is not finite, gives 0.
double readSize(const Json::Value &value)
{
    bool ok = false;
    const double size = readText(value).toDouble(&ok);
    return ok && std::isfinite(size) ? size : 0.0;
}

// Counts only as an integer within the signed 32-bit range; reals and strings do not.
bool isErrorCode(const Json::Value &retcode)
{
    const bool integer = retcode.type() == Json::intValue || retcode.type() == Json::uintValue;
    return integer && retcode.isInt() && retcode.asInt() != 0;
}

bool readModule(const Json::Value &element, ModuleVersion &module)
{
    // A null element has no "ID" and fails like one without it.
    if (!element.isObject())
        return false;
    module.strId = readText(element["ID"]);
    if (module.strId.isEmpty())
        return false;
    module.strUrl = readText(element["OutUrl"]);
    if (module.strUrl.isEmpty())
        module.strUrl = readText(element["Url"]);
    if (module.strUrl.isEmpty())
        return false;
    module.strIconUrl = readText(element["IconUrl"]);
    if (module.strIconUrl.isEmpty())
        return false;
    module.strDesc = readText(element["Desc"]);
    module.llReleaseDate = readReleaseDate(element["ReleaseDate"]);
    module.dSize = readSize(element["Size"]);
    module.strVersion = readText(element["Version"]);
    return true;
}

AnswerResult readParsed(const Json::Value &parsed, QVector<ModuleVersion> &serverList)
{
    // A top level that is not an object reads as an empty one.
    static const Json::Value kEmptyObject(Json::objectValue);
    const Json::Value &root = parsed.isObject() ? parsed : kEmptyObject;

    if (isErrorCode(root["retcode"]))
        return AnswerResult::ErrorCode;

    const Json::Value &value = root["value"];
    if (!value.isNull() && !value.isObject())
        return AnswerResult::FormatError;
    if (value.isNull())
        return AnswerResult::Ok;
    const Json::Value &upgrade = value["upgrade"];
    if (!upgrade.isNull() && !upgrade.isArray())
        return AnswerResult::FormatError;
    if (upgrade.isNull())
        return AnswerResult::Ok;

    for (Json::ArrayIndex i = 0; i < upgrade.size(); ++i) {
        ModuleVersion module;
        if (!readModule(upgrade[i], module))
            return AnswerResult::FormatError;
        serverList.append(module);
    }
    return AnswerResult::Ok;
}

} // namespace

AnswerResult readVersionAnswer(const QString &body, QVector<ModuleVersion> &serverList)
{
    const QByteArray utf8 = body.toUtf8();
    const std::string text(utf8.constData(), static_cast<size_t>(utf8.size()));
    Json::Value parsed;
    try {
        // The reader gives up on very deep nesting by throwing; that is a body we cannot read.
        Json::Reader reader;
        if (!reader.parse(text, parsed, false))
            return AnswerResult::NotJson;
    } catch (const std::exception &) {
        return AnswerResult::NotJson;
    }
    return readParsed(parsed, serverList);
}

} // namespace VersionQuery

bool CUpgrade::getVersionInfoFromServer(const ServerClusterInfo &info,
                                        QVector<ModuleVersion> &serverList)
{
    if (!info.isValid()) {
        UpgradeLog::warning() << "Curr Server Info Invalid";
        return false;
    }

    CHttp http;
    http.InitData();
    http.setTimeOut(m_httpTimeOut.nConnectTimeOut, m_httpTimeOut.nLowSpeedLimit,
                    m_httpTimeOut.nLowSpeedTime);

    // A fresh tail per request, so that neither the address nor the token repeats.
    const qint64 tail = static_cast<qint64>(QRandomGenerator64::global()->generate());
    const ServerInfo &server = info.vecServer.at(info.nCurrServer);
    const QString requestPath = info.strPath + QLatin1Char('/') + QString::number(tail);
    const QString address = VersionQuery::requestScheme(server.strName) + server.strSvrUrl
                            + info.strPrefix + requestPath;
    const QStringList headers{QStringLiteral("token:")
                              + VersionQuery::requestToken(requestPath, info.strKey)};

    const HTTP_ERROR result = http.GetInfo(address, headers);
    const QString body = http.GetResult();
    if (result != HTTP_ERROR_OK) {
        UpgradeLog::warning() << "get " << address << " failed!"
                              << " result is " << body;
        return false;
    }

    switch (VersionQuery::readVersionAnswer(body, serverList)) {
    case VersionQuery::AnswerResult::Ok:
        return true;
    case VersionQuery::AnswerResult::NotJson:
        UpgradeLog::warning() << "parse json failed!";
        return false;
    case VersionQuery::AnswerResult::ErrorCode:
        UpgradeLog::warning() << "get json error failed!";
        return false;
    case VersionQuery::AnswerResult::FormatError:
        break;
    }
    UpgradeLog::warning() << "json format error failed!";
    return false;
}
