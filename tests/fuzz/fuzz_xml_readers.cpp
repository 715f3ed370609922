// SPDX-License-Identifier: MIT
// Feeds arbitrary documents to the readers of the server cluster file and of the solution
// information file, which take a path, so each input goes through a scratch file first.
#include "cupgrade.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

QString scratchFile()
{
    static QTemporaryDir dir;
    return dir.filePath("input.xml");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = scratchFile();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }

    ServerClusterInfo info;
    if (CUpgrade::readServerClusterInfo(path, info)) {
        if (info.nCurrServer < 0 || info.nCurrServer >= info.vecServer.size())
            std::abort();
        const ServerInfo &current = info.vecServer.at(info.nCurrServer);
        if (current.strName.isEmpty() || current.strSvrUrl.isEmpty() || info.strKey.isEmpty())
            std::abort();
    }

    QVector<ModuleVersion> modules;
    if (CUpgrade::getModuleVersionFromSolutionInfoFile(path, modules)) {
        for (const ModuleVersion &m : modules) {
            if (m.strId.isEmpty() || m.nState < 0 || m.nState > 3)
                std::abort();
        }
    }
    return 0;
}
