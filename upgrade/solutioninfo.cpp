// SPDX-License-Identifier: MIT
// The solution information file: which modules are installed, in which version, and whether
// each takes part in updates.
#include "cupgrade.h"
#include "upgradewarning.h"

#include <QDir>
#include <QFileInfo>
#include <quistal/quistal.h>

using ZorGUI::ZorDomNodeResolve;

bool CUpgrade::getModuleVersionFromSolutionInfoFile(const QString &file,
                                                    QVector<ModuleVersion> &list)
{
    ZorDomNodeResolve root;
    if (!root.LoadXML(file)) {
        UpgradeLog::warning() << "load file " << file << " failed!";
        return false;
    }
    const ZorDomNodeResolve solutions = root.FindChildByNodeName("SolutionS");
    if (solutions.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "get node SolutionS from file failed";
        return false;
    }

    list.clear();
    const int count = solutions.GetChildNodeCount();
    for (int i = 0; i < count; ++i) {
        const ZorDomNodeResolve node = solutions.GetChild(i);
        if (node.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "get node Resolution from file failed";
            return false;
        }
        ModuleVersion module;
        if (!getModuleVersionFromNode(node, module)) {
            UpgradeLog::warning() << "get Modul eVersion from file failed";
            return false;
        }
        list.append(module);
    }
    return true;
}

bool CUpgrade::getModuleVersionFromNode(const ZorDomNodeResolve &node, ModuleVersion &module)
{
    module.strId = node.GetAttribute("id", QString());
    if (module.strId.isEmpty())
        return false;

    module.strVersion = node.FindChildByNodeName("Version").GetNodeValue();

    bool ok = false;
    const qint64 releaseDate
        = node.FindChildByNodeName("ReleaseDate").GetNodeValue().toLongLong(&ok);
    module.llReleaseDate = ok ? releaseDate : 0;

    const uint state = node.FindChildByNodeName("State").GetNodeValue().toUInt(&ok);
    module.nState = ok && state <= 3 ? static_cast<int>(state) : 0;

    module.strUrl = node.GetAttribute("name", QString());
    module.strDesc = node.FindChildByNodeName("Desc").GetNodeValue();

    const int size = node.FindChildByNodeName("Size").GetNodeValue().toInt(&ok);
    module.dSize = ok ? size : 0.0;
    return true;
}

bool CUpgrade::getUpdateModuleInfo(QVector<ModuleVersion> local,
                                   const QVector<ModuleVersion> &server,
                                   QVector<ModuleVersion> &needUpgrade)
{
    for (const ModuleVersion &installed : local) {
        // State 0 keeps a module out of updates.
        if (installed.nState == 0)
            continue;
        for (const ModuleVersion &offered : server) {
            if (installed.strId == offered.strId && installed.llReleaseDate < offered.llReleaseDate)
                needUpgrade.append(offered);
        }
    }
    return true;
}

bool CUpgrade::updateModuleVersionToSolution(ZorDomNodeResolve &solutions,
                                             const ModuleVersion &module)
{
    ZorDomNodeResolve element;
    ZorDomNodeResolve version;
    ZorDomNodeResolve releaseDate;
    ZorDomNodeResolve state;

    const int count = solutions.GetChildNodeCount();
    for (int i = 0; i < count && element.GetNodeName().isEmpty(); ++i) {
        const ZorDomNodeResolve child = solutions.GetChild(i);
        if (child.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "get Node Solution faield";
            return false;
        }
        if (child.GetAttribute("id", QString()) != module.strId)
            continue;
        version = child.FindChildByNodeName("Version");
        if (version.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "get ChildNode Version faield";
            return false;
        }
        releaseDate = child.FindChildByNodeName("ReleaseDate");
        if (releaseDate.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "get ChildNode ReleaseDate faield";
            return false;
        }
        state = child.FindChildByNodeName("State");
        if (state.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "get ChildNode State faield";
            return false;
        }
        element = child;
    }

    if (element.GetNodeName().isEmpty()) {
        // A module the file does not know yet: a new element with only what is written below.
        element = solutions.CreateChildNode("Solution");
        version = element.CreateChildNode("Version");
        if (version.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "Create ChildNode Version faield";
            return false;
        }
        releaseDate = element.CreateChildNode("ReleaseDate");
        if (releaseDate.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "Create ChildNode ReleaseDate faield";
            return false;
        }
        state = element.CreateChildNode("State");
        if (state.GetNodeName().isEmpty()) {
            UpgradeLog::warning() << "Create ChildNode State faield";
            return false;
        }
    }

    if (!element.SetAttribute("id", module.strId)) {
        UpgradeLog::warning() << "set attribute id faield";
        return false;
    }
    if (!version.SetNodeValue(module.strVersion)) {
        UpgradeLog::warning() << "set node version faield";
        return false;
    }
    if (!releaseDate.SetNodeValue(QString::number(module.llReleaseDate))) {
        UpgradeLog::warning() << "set node releasedate faield";
        return false;
    }
    if (!state.SetNodeValue(QString::number(module.nState))) {
        UpgradeLog::warning() << "set node state faield";
        return false;
    }
    return true;
}

bool CUpgrade::updateSolutionInfoFile(const QString &source, const QString &target,
                                      const QVector<ModuleVersion> &list)
{
    ZorDomNodeResolve root;
    if (!root.LoadXML(source)) {
        UpgradeLog::warning() << "load " << source << " failed";
        return false;
    }
    ZorDomNodeResolve solutions = root.FindChildByNodeName("SolutionS");
    if (solutions.GetNodeName().isEmpty()) {
        UpgradeLog::warning() << "get node SolutionS from file failed";
        return false;
    }
    for (const ModuleVersion &module : list) {
        if (!updateModuleVersionToSolution(solutions, module)) {
            UpgradeLog::warning() << "update ModuleVersion To Solution " << module.strId;
            return false;
        }
    }
    // Saved only after every module was written, so a failure leaves the target as it was.
    if (!root.SaveXML(target)) {
        UpgradeLog::warning() << "SaveXML file " << target << " failed";
        return false;
    }
    return true;
}

UpgradeOpError CUpgrade::upgradeInfoToSolutionInfoFile(const QString &packetDir,
                                                       const QString &solutionFile)
{
    const QString packetFile = packetDir + QDir::separator() + QFileInfo(solutionFile).fileName();

    QVector<ModuleVersion> newList;
    if (!getModuleVersionFromSolutionInfoFile(packetFile, newList)) {
        UpgradeLog::warning() << "getModuleVersionFromSolutionInfoFile from " << packetFile
                              << " failed!";
        return UpgradeOpReadSolutionFailed;
    }
    QVector<ModuleVersion> oldList;
    if (!getModuleVersionFromSolutionInfoFile(solutionFile, oldList)) {
        UpgradeLog::warning() << "getModuleVersionFromSolutionInfoFile from " << solutionFile
                              << " failed!";
        return UpgradeOpReadSolutionFailed;
    }

    QVector<ModuleVersion> merged = oldList;
    for (const ModuleVersion &packet : newList) {
        int found = -1;
        for (int i = 0; i < oldList.size() && found < 0; ++i) {
            if (oldList.at(i).strId == packet.strId)
                found = i;
        }
        if (found < 0) {
            merged.append(packet);
            continue;
        }
        ModuleVersion &module = merged[found];
        module.strVersion = packet.strVersion;
        module.llReleaseDate = packet.llReleaseDate;
        // An updated module takes part in later updates, unless it already had a state of its own.
        if (oldList.at(found).nState == 0)
            module.nState = 1;
    }

    if (!updateSolutionInfoFile(solutionFile, solutionFile, merged)) {
        UpgradeLog::warning() << "upgrade info to solution info file " << solutionFile
                              << " failed!";
        return UpgradeOpWriteSolutionFailed;
    }
    return UpgradeOpSuccess;
}

bool CUpgrade::writeSolutionInfoToPacket(const QString &solutionFile, const QString &rootDir,
                                         const QVector<ModuleVersion> &list)
{
    const QString packetDir = rootDir + QDir::separator() + "Tmp/Packet/";
    QDir dir(packetDir);
    if (dir.exists() && !dir.removeRecursively()) {
        UpgradeLog::warning() << "removeRecursively " << packetDir << "failed";
        return false;
    }
    if (!QDir().mkpath(packetDir)) {
        UpgradeLog::warning() << "mkpath " << packetDir << "failed";
        return false;
    }
    return updateSolutionInfoFile(solutionFile, packetDir + QFileInfo(solutionFile).fileName(),
                                  list);
}
