// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QVector>

#include <string>

// The modules a development server offers: a folder of packets and a manifest, a JSON file
//
//   {
//     "modules": [
//       {
//         "id": "Player",                  required, the module's id
//         "releaseDate": 20261201,         required integer; a larger number is newer
//         "packet": "Player-2.1.0.7z",     required, a file in the packet folder
//         "version": "2.1.0",              optional text shown to users
//         "desc": "Faster start",          optional
//         "icon": "player.png"             optional: a file in the folder or an http(s) address
//       }
//     ]
//   }
//
// Every other member is refused, so that a misspelt one is not silently lost. The size that
// the answer gives is the packet file's own.
namespace DevServer {

struct ManifestModule
{
    QString id;
    qint64 releaseDate = 0;
    QString packet;
    QString version;
    QString desc;
    QString icon;
};

struct Manifest
{
    QVector<ManifestModule> modules;

    // Whether name is a packet or an icon file of some module, and so may be served.
    bool servesFile(const QString &name) const;
};

// Reads and checks the manifest; false with a message that says what is wrong and where.
bool readManifest(const QString &file, const QString &packetDir, Manifest &manifest,
                  QString &error);

// The answer to a version query: every module with its packet and icon addresses under baseUrl
// ("https://host:port", no trailing "/"), and its size in megabytes as decimal text.
std::string versionAnswer(const Manifest &manifest, const QString &packetDir,
                          const QString &baseUrl);

// Where a packet or icon file is served, under baseUrl, and where the built-in icon is.
QString packetAddress(const QString &baseUrl, const QString &name);
constexpr char kPacketRoute[] = "/packets/";
constexpr char kDefaultIconRoute[] = "/icons/module.png";
// A small square PNG served for modules without an icon of their own.
std::string defaultIcon();

} // namespace DevServer
