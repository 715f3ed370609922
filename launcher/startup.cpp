// SPDX-License-Identifier: MIT
#include "startup.h"

#include "outsidefiles.h"

#include <hestal/hestal.h>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <vector>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

bool parseCommandLine(LaunchOptions *options)
{
    return parseCommandLine(options, QCoreApplication::arguments());
}

bool parseCommandLine(LaunchOptions *options, const QStringList &arguments)
{
    if (!options)
        return false;
    if (arguments.size() <= 1)
        return true;

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringLiteral("ur"), QStringLiteral("upgrade result."),
                                        QStringLiteral("upgradeResult")));
    parser.addOption(QCommandLineOption(QStringLiteral("crash")));
    if (!parser.parse(arguments))
        return false;

    if (parser.isSet(QStringLiteral("ur")))
        options->upgradeResult = parser.value(QStringLiteral("ur")).toLower().toInt(nullptr, 10);
    else if (parser.isSet(QStringLiteral("crash")))
        options->pluginArgument = "crash";
    return true;
}

bool setLibrarySearchPath()
{
    const QString entry
        = QCoreApplication::applicationDirPath() + QDir::separator() + QGetSolutionsDirPath();
    const QByteArray oldPath = qgetenv("PATH");
    QByteArray path = entry.toLocal8Bit();
    path += OutsideFiles::pathListSeparator().toLatin1();
    path += oldPath;
    return qputenv("PATH", path);
}

QString moduleFileName()
{
    // The buffer grows until the whole name fits; a cut name would start the wrong program.
    constexpr size_t kMaxLength = size_t(1) << 20;
#ifdef Q_OS_WIN
    std::vector<wchar_t> buffer(MAX_PATH);
    while (buffer.size() <= kMaxLength) {
        const DWORD length
            = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return QString();
        if (length < buffer.size())
            return QString::fromWCharArray(buffer.data(), static_cast<int>(length));
        buffer.resize(buffer.size() * 2);
    }
#else
    std::vector<char> buffer(256);
    while (buffer.size() <= kMaxLength) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return QString();
        if (static_cast<size_t>(length) < buffer.size())
            return QFile::decodeName(QByteArray(buffer.data(), static_cast<int>(length)));
        buffer.resize(buffer.size() * 2);
    }
#endif
    return QString();
}
