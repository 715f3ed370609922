// SPDX-License-Identifier: MIT
#include "manifest.h"

#include <json/json.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace DevServer {

namespace {

bool isAddress(const QString &text)
{
    return text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("https://"));
}

// A file directly in the packet folder: no folder part, no hidden or special names.
bool isServableName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/'))
           && !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0));
}

QString fileProblem(const QString &packetDir, const QString &name)
{
    if (!isServableName(name))
        return QStringLiteral("\"%1\" is not a plain file name").arg(name);
    if (!QFileInfo(QDir(packetDir).filePath(name)).isFile())
        return QStringLiteral("\"%1\" is not a file in %2").arg(name, packetDir);
    return QString();
}

QString text(const Json::Value &value)
{
    return QString::fromStdString(value.asString());
}

// Empty when module is sound, otherwise what is wrong with it.
QString readModule(const Json::Value &value, const QString &packetDir, ManifestModule &module)
{
    if (!value.isObject())
        return QStringLiteral("is not an object");
    static const QSet<QString> known{"id", "releaseDate", "packet", "version", "desc", "icon"};
    for (const std::string &member : value.getMemberNames()) {
        if (!known.contains(QString::fromStdString(member)))
            return QStringLiteral("has an unknown member \"%1\"")
                .arg(QString::fromStdString(member));
    }
    for (const char *member : {"id", "packet", "version", "desc", "icon"}) {
        if (value.isMember(member) && !value[member].isString())
            return QStringLiteral("\"%1\" is not a string").arg(QLatin1String(member));
    }
    module.id = text(value["id"]);
    if (module.id.isEmpty())
        return QStringLiteral("has no \"id\"");
    const Json::Value &date = value["releaseDate"];
    const bool whole = date.type() == Json::intValue || date.type() == Json::uintValue;
    if (!whole || !date.isInt64())
        return QStringLiteral("\"releaseDate\" is not a whole number");
    module.releaseDate = date.asInt64();
    module.packet = text(value["packet"]);
    QString problem = fileProblem(packetDir, module.packet);
    if (!problem.isEmpty())
        return QStringLiteral("\"packet\": ") + problem;
    module.version = text(value["version"]);
    module.desc = text(value["desc"]);
    module.icon = text(value["icon"]);
    if (!module.icon.isEmpty() && !isAddress(module.icon)) {
        problem = fileProblem(packetDir, module.icon);
        if (!problem.isEmpty())
            return QStringLiteral("\"icon\": ") + problem;
    }
    return QString();
}

} // namespace

bool Manifest::servesFile(const QString &name) const
{
    for (const ManifestModule &module : modules) {
        if (module.packet == name || (!isAddress(module.icon) && module.icon == name))
            return !name.isEmpty();
    }
    return false;
}

bool readManifest(const QString &file, const QString &packetDir, Manifest &manifest, QString &error)
{
    manifest = Manifest();
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(file, in.errorString());
        return false;
    }
    const QByteArray bytes = in.readAll();
    Json::Value root;
    std::string parseErrors;
    Json::CharReaderBuilder builder;
    builder["allowComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!reader->parse(bytes.constData(), bytes.constData() + bytes.size(), &root, &parseErrors)) {
        error = QStringLiteral("%1: not JSON: %2")
                    .arg(file, QString::fromStdString(parseErrors).trimmed());
        return false;
    }
    if (!root.isObject() || root.getMemberNames() != std::vector<std::string>{"modules"}
        || !root["modules"].isArray()) {
        error = QStringLiteral("%1: the top level must be an object with one member, the array "
                               "\"modules\"")
                    .arg(file);
        return false;
    }
    QSet<QString> ids;
    const Json::Value &modules = root["modules"];
    for (Json::ArrayIndex i = 0; i < modules.size(); ++i) {
        ManifestModule module;
        QString problem = readModule(modules[i], packetDir, module);
        if (problem.isEmpty() && ids.contains(module.id))
            problem = QStringLiteral("repeats the id \"%1\"").arg(module.id);
        if (!problem.isEmpty()) {
            error = QStringLiteral("%1: module %2 %3").arg(file).arg(i + 1).arg(problem);
            return false;
        }
        ids.insert(module.id);
        manifest.modules.append(module);
    }
    return true;
}

QString packetAddress(const QString &baseUrl, const QString &name)
{
    return baseUrl + QLatin1String(kPacketRoute)
           + QString::fromLatin1(QUrl::toPercentEncoding(name));
}

std::string versionAnswer(const Manifest &manifest, const QString &packetDir,
                          const QString &baseUrl)
{
    Json::Value upgrade(Json::arrayValue);
    for (const ManifestModule &module : manifest.modules) {
        const qint64 bytes = QFileInfo(QDir(packetDir).filePath(module.packet)).size();
        char size[64];
        std::snprintf(size, sizeof size, "%.6f", double(bytes) / (1024.0 * 1024.0));
        QString icon = baseUrl + QLatin1String(kDefaultIconRoute);
        if (isAddress(module.icon))
            icon = module.icon;
        else if (!module.icon.isEmpty())
            icon = packetAddress(baseUrl, module.icon);
        const std::string address = packetAddress(baseUrl, module.packet).toStdString();

        Json::Value entry(Json::objectValue);
        entry["ID"] = module.id.toStdString();
        entry["Version"] = module.version.toStdString();
        entry["ReleaseDate"] = Json::Int64(module.releaseDate);
        entry["Size"] = size;
        entry["Desc"] = module.desc.toStdString();
        entry["Url"] = address;
        entry["OutUrl"] = address;
        entry["IconUrl"] = icon.toStdString();
        upgrade.append(entry);
    }
    Json::Value root(Json::objectValue);
    root["retcode"] = 0;
    root["value"]["upgrade"] = upgrade;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    return Json::writeString(writer, root) + "\n";
}

std::string defaultIcon()
{
    static const char png[] = "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52"
                              "\x00\x00\x00\x10\x00\x00\x00\x10\x08\x06\x00\x00\x00\x1f\xf3\xff"
                              "\x61\x00\x00\x00\x19\x49\x44\x41\x54\x78\xda\x63\xd0\xca\xbf\xf6"
                              "\x9f\x12\xcc\x30\x6a\xc0\xa8\x01\xa3\x06\x0c\x17\x03\x00\x4b\x02"
                              "\x6e\x1f\xd0\x5a\x05\xed\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42"
                              "\x60\x82";
    return std::string(png, sizeof png - 1);
}

} // namespace DevServer
