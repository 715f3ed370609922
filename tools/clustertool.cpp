// SPDX-License-Identifier: MIT
// Writes a server cluster file with our cipher from one whose enciphered attributes hold plain
// values, and prints one back with those attributes deciphered.
//
//   norvane-clustertool encode <plain.xml> <out.xml>
//   norvane-clustertool decode <in.xml>
//
// Both keep the document as it is (declaration, order, other content) and change only the
// enciphered attributes: "key", "path" and "prefix" of "Upgrade" and "svrurl" of each server.
#include "cupgrade.h"

#include <hestal/hestal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <quistal/quistal.h>

#include <cstdio>
#include <functional>

using ZorGUI::ZorDomNodeResolve;

namespace {

const char *const kUpgradeAttributes[] = {"key", "path", "prefix"};

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usage()
{
    err() << "usage: norvane-clustertool encode <plain.xml> <out.xml>\n"
             "       norvane-clustertool decode <in.xml>\n";
    err().flush();
    return 2;
}

// Runs change on each enciphered attribute of the document; false when the document lacks the
// elements that hold them or a change failed (every attribute is still visited).
bool forEachEnciphered(ZorDomNodeResolve &root,
                       const std::function<bool(ZorDomNodeResolve &, const QString &)> &change)
{
    ZorDomNodeResolve upgrade = root.FindChildByNodeName("Upgrade");
    ZorDomNodeResolve servers = root.FindChildByNodeName("Servers");
    if (upgrade.GetNodeName().isEmpty() || servers.GetNodeName().isEmpty()) {
        err() << "the document has no \"Upgrade\" or no \"Servers\" element\n";
        return false;
    }
    bool ok = true;
    for (const char *attribute : kUpgradeAttributes)
        ok = change(upgrade, attribute) && ok;
    for (int i = 0; i < servers.GetChildNodeCount(); ++i) {
        ZorDomNodeResolve server = servers.GetChild(i);
        if (!server.GetNodeName().isEmpty())
            ok = change(server, "svrurl") && ok;
    }
    return ok;
}

int encode(const QString &plainFile, const QString &outFile)
{
    ZorDomNodeResolve root;
    if (!root.LoadXML(plainFile)) {
        err() << "cannot read " << plainFile << "\n";
        return 1;
    }
    const bool changed = forEachEnciphered(root, [](ZorDomNodeResolve &node, const QString &name) {
        return CUpgrade::setAttributeEncrypt(node, name, node.GetAttribute(name, QString()));
    });
    if (!changed)
        return 1;

    // Written beside the target and checked with the engine's own reader first, so that a
    // file the engine would refuse never replaces a good one.
    const QString outDir = QFileInfo(outFile).absolutePath();
    QTemporaryDir scratch(outDir + "/.clustertool-XXXXXX");
    const QString candidate = scratch.filePath("candidate.xml");
    if (!scratch.isValid() || !root.SaveXML(candidate)) {
        err() << "cannot write into " << outDir << "\n";
        return 1;
    }
    ServerClusterInfo info;
    if (!CUpgrade::readServerClusterInfo(candidate, info)) {
        err() << "the enciphered file would not be accepted; nothing written\n";
        return 1;
    }
    QFile::remove(outFile);
    if (!QFile::rename(candidate, outFile)) {
        err() << "cannot write " << outFile << "\n";
        return 1;
    }
    return 0;
}

int decode(const QString &inFile)
{
    ZorDomNodeResolve root;
    if (!root.LoadXML(inFile)) {
        err() << "cannot read " << inFile << "\n";
        return 1;
    }
    const bool changed = forEachEnciphered(root, [](ZorDomNodeResolve &node, const QString &name) {
        const QString cipherText = node.GetAttribute(name, QString());
        if (cipherText.isEmpty())
            return true; // an empty value is stored as it is
        QString plain;
        if (!CUpgrade::getNodeAttributeDecrypt(node, name, plain))
            return false;
        if (plain.isEmpty()) {
            err() << "attribute " << name << " of " << node.GetNodeName() << " does not decipher\n";
            return false;
        }
        return node.SetAttribute(name, plain);
    });

    QTemporaryDir scratch;
    const QString plainFile = scratch.filePath("plain.xml");
    QFile file(plainFile);
    if (!scratch.isValid() || !root.SaveXML(plainFile) || !file.open(QIODevice::ReadOnly)) {
        err() << "cannot write a scratch copy\n";
        return 1;
    }
    const QByteArray text = file.readAll();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    std::fflush(stdout);
    return changed ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args.at(1) == "encode")
        return encode(args.at(2), args.at(3));
    if (args.size() == 3 && args.at(1) == "decode")
        return decode(args.at(2));
    return usage();
}
