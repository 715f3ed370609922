// SPDX-License-Identifier: MIT
// Reading and writing the server cluster file, whose addresses and request parameters are
// stored enciphered as hexadecimal text.
#include "cupgrade.h"
#include "upgradewarning.h"

#include <hestal/hestal.h>

#include <quistal/quistal.h>

using ZorGUI::ZorDomNodeResolve;

bool ServerClusterInfo::isValid() const
{
    if (nCurrServer < 0 || nCurrServer >= vecServer.size()) {
        UpgradeLog::warning() << "invalid ServerInfo";
        return false;
    }
    const ServerInfo &curr = vecServer.at(nCurrServer);
    if (curr.strName.isEmpty() || curr.strSvrUrl.isEmpty() || strPath.isEmpty() || strKey.isEmpty()
        || strPrefix.isEmpty()) {
        UpgradeLog::warning() << "invalid ServerInfo something is empty";
        return false;
    }
    return true;
}

bool CUpgrade::getNodeAttributeDecrypt(const ZorDomNodeResolve &node, const QString &attribute,
                                       QString &value)
{
    if (node.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "nameNode not exist!";
        return false;
    }
    const QString text = node.GetAttribute(attribute, QString());
    if (text.isEmpty()) {
        UpgradeLog::warning() << "get node attribute name failed!";
        return false;
    }
    QByteArray plain;
    Hestal::AES_Decrypt(QByteArray::fromHex(text.toUtf8()), plain);
    value = QString::fromUtf8(plain);
    return true;
}

bool CUpgrade::setAttributeEncrypt(ZorDomNodeResolve &node, const QString &attribute,
                                   const QString &value)
{
    if (node.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "nameNode not exist!";
        return false;
    }
    QString text;
    if (!value.isEmpty()) {
        QByteArray cipher;
        const Hestal::ERR_CODE code = Hestal::AES_Encrypt(value.toUtf8(), cipher);
        if (code != Hestal::ERR_OK) {
            UpgradeLog::warning() << "AES_Encrypt attribute value failed! code is "
                                  << static_cast<int>(code);
            return false;
        }
        text = QString::fromLatin1(cipher.toHex());
    }
    if (!node.SetAttribute(attribute, text)) {
        UpgradeLog::warning() << "set node attribute name failed!";
        return false;
    }
    return true;
}

namespace {

// The first child of that name, appended when there is none; empty name when that failed.
ZorDomNodeResolve findOrCreateChild(ZorDomNodeResolve &parent, const QString &nodeName)
{
    ZorDomNodeResolve child = parent.FindChildByNodeName(nodeName);
    if (child.GetNodeName().isEmpty())
        child = parent.CreateChildNode(nodeName);
    if (child.GetNodeName().isEmpty())
        UpgradeLog::warning() << "create node failed!";
    return child;
}

} // namespace

bool CUpgrade::setNodeAttributeEncrypt(ZorDomNodeResolve &parent, const QString &nodeName,
                                       const QString &attribute, const QString &value)
{
    ZorDomNodeResolve node = findOrCreateChild(parent, nodeName);
    if (node.GetNodeName().isEmpty())
        return false;
    if (!setAttributeEncrypt(node, attribute, value)) {
        UpgradeLog::warning() << "setNodeAttributeEncrypt node " << nodeName << " attribute "
                              << attribute << " failed!";
        return false;
    }
    return true;
}

bool CUpgrade::setChildNodeValue(ZorDomNodeResolve &parent, const QString &nodeName,
                                 const QString &value)
{
    ZorDomNodeResolve node = findOrCreateChild(parent, nodeName);
    if (node.GetNodeName().isEmpty())
        return false;
    if (!node.SetNodeValue(value)) {
        UpgradeLog::warning() << "set node " << nodeName << " value failed!";
        return false;
    }
    return true;
}

bool CUpgrade::readServerClusterInfo(const QString &file, ServerClusterInfo &info)
{
    ZorDomNodeResolve root;
    if (!root.LoadXML(file)) {
        UpgradeLog::warning() << "load file " << file << " failed!";
        return false;
    }

    const ZorDomNodeResolve upgrade = root.FindChildByNodeName("Upgrade");
    if (upgrade.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "get node Upgrade from file from " << file << " failed";
        return false;
    }
    const struct
    {
        const char *attribute;
        QString *value;
        const char *failure;
    } parameters[] = {
        {"prefix", &info.strPrefix, "get Node Upgrade Attribute prefix from "},
        {"key", &info.strKey, "get Node Upgrade Attribute key from "},
        {"path", &info.strPath, "get Node Upgrade Attribute path from "},
    };
    for (const auto &p : parameters) {
        if (!getNodeAttributeDecrypt(upgrade, p.attribute, *p.value)) {
            UpgradeLog::warning() << p.failure << file << " failed";
            return false;
        }
    }

    const ZorDomNodeResolve currServer = root.FindChildByNodeName("CurrServer");
    if (currServer.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "get node CurrServer from " << file << " failed";
        return false;
    }
    const QString currName = currServer.GetNodeValue();
    info.nCurrServer = -1;
    // The current index counts servers of this file only, so none may be left from before.
    info.vecServer.clear();

    const ZorDomNodeResolve servers = root.FindChildByNodeName("Servers");
    if (servers.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "get node Servers from " << file << " failed";
        return false;
    }
    const int count = servers.GetChildNodeCount();
    for (int i = 0; i < count; ++i) {
        const ZorDomNodeResolve server = servers.GetChild(i);
        if (server.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "get node Server from " << file << " failed";
            return false;
        }
        ServerInfo entry;
        entry.strName = server.GetAttribute("name", QString());
        if (entry.strName.isEmpty()) {
            UpgradeLog::warning() << "set Server node attribute name from " << file << " failed";
            return false;
        }
        if (!getNodeAttributeDecrypt(server, "svrurl", entry.strSvrUrl)) {
            UpgradeLog::warning() << "set Server node attribute svrurl from " << file << " failed";
            return false;
        }
        // A later server of the same name wins.
        if (entry.strName == currName)
            info.nCurrServer = i;
        info.vecServer.append(entry);
    }

    if (!info.isValid()) {
        UpgradeLog::warning() << "Curr Server Info Invalid in " << file;
        return false;
    }
    return true;
}

bool CUpgrade::saveServerClusterInfo(const ServerClusterInfo &info, const QString &file)
{
    if (!info.isValid()) {
        UpgradeLog::warning() << "current serverClusterInfo invaild!";
        return false;
    }

    ZorDomNodeResolve root;
    if (!root.CreateRootNode("UpgradeServer")) {
        UpgradeLog::warning() << "create root node UpgradeServer failed!";
        return false;
    }
    if (!setNodeAttributeEncrypt(root, "Upgrade", "key", info.strKey)) {
        UpgradeLog::warning() << "set Node Upgrade Attribute key failed!";
        return false;
    }
    if (!setNodeAttributeEncrypt(root, "Upgrade", "prefix", info.strPrefix)) {
        UpgradeLog::warning() << "set Node Upgrade Attribute prefix failed!";
        return false;
    }
    if (!setNodeAttributeEncrypt(root, "Upgrade", "path", info.strPath)) {
        UpgradeLog::warning() << "set Node Upgrade Attribute path failed!";
        return false;
    }
    if (!setChildNodeValue(root, "CurrServer", info.vecServer.at(info.nCurrServer).strName)) {
        UpgradeLog::warning() << "set node CurrServer value failed!";
        return false;
    }

    ZorDomNodeResolve servers = root.CreateChildNode("Servers");
    if (servers.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "create node failed!";
        UpgradeLog::warning() << "add node Servers failed!";
        return false;
    }
    for (const ServerInfo &entry : info.vecServer) {
        ZorDomNodeResolve server = servers.CreateChildNode("Server");
        if (server.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "create node failed!";
            UpgradeLog::warning() << "add node Server failed!";
            return false;
        }
        if (!server.SetAttribute("name", entry.strName)) {
            UpgradeLog::warning() << "set Server node attribute name failed!";
            return false;
        }
        if (!setAttributeEncrypt(server, "svrurl", entry.strSvrUrl)) {
            UpgradeLog::warning() << "set Server node attribute svrurl failed!";
            return false;
        }
    }

    // Saved only now, so a failure above leaves an existing file as it was.
    if (!root.SaveXML(file)) {
        UpgradeLog::warning() << "save Server Cluster Info to file " << file << " failed!";
        return false;
    }
    return true;
}
