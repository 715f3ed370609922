// SPDX-License-Identifier: MIT
// Benchmark driver of the upgrade engine. Modes:
//   serve <file> <port file>        serve <file> as /packet.bin on 127.0.0.1 until stdin closes
//   download <url> <size MB> <tmp>  one download job into <tmp>; prints seconds and peak memory
//   generate <dir> <count> <bytes>  <count> files of <bytes> in nested folders
//   install                         the installation job over the program directory
#include "cupgrade.h"

#include <httplib.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int serve(const std::string &file, const std::string &portFile)
{
    httplib::Server server;
    server.Get("/packet.bin", [&file](const httplib::Request &, httplib::Response &res) {
        std::ifstream probe(file, std::ios::binary | std::ios::ate);
        const size_t size = static_cast<size_t>(probe.tellg());
        auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
        res.set_content_provider(size, "application/octet-stream",
                                 [in](size_t offset, size_t length, httplib::DataSink &sink) {
                                     static thread_local std::vector<char> buffer(1 << 20);
                                     in->seekg(static_cast<std::streamoff>(offset));
                                     const size_t chunk = std::min(length, buffer.size());
                                     in->read(buffer.data(), static_cast<std::streamsize>(chunk));
                                     return sink.write(buffer.data(),
                                                       static_cast<size_t>(in->gcount()));
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&server] { server.listen_after_bind(); });
    {
        std::ofstream out(portFile);
        out << port << '\n';
    }
    // Ends when the script closes stdin (or dies).
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    server.stop();
    thread.join();
    return 0;
}

int download(const QString &url, double sizeMb, const QString &tmp)
{
    CUpgrade upgrade;
    upgrade.setTmpDir(tmp);
    ModuleVersion module;
    module.strUrl = url;
    module.dSize = sizeMb;
    QElapsedTimer timer;
    timer.start();
    const UpgradeOpError result = upgrade.downloadUpgradePacket({module});
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("result %d seconds %.3f peak_kib %ld\n", result, seconds, peakKiB());
    return result == UpgradeOpSuccess ? 0 : 1;
}

int generate(const QString &dir, int count, int bytes)
{
    QByteArray content(bytes, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (int i = 0; i < bytes; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        content[i] = static_cast<char>(x);
    }
    for (int i = 0; i < count; ++i) {
        const QString sub = QString("%1/d%2/e%3").arg(dir).arg(i % 10).arg((i / 10) % 10);
        QDir().mkpath(sub);
        QFile file(QString("%1/f%2.bin").arg(sub).arg(i));
        content[0] = static_cast<char>(i);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != bytes) {
            return 1;
        }
    }
    return 0;
}

int install()
{
    CUpgrade upgrade;
    QElapsedTimer timer;
    timer.start();
    const UpgradeOpError result = upgrade.upgradeTmpDirToDstDir();
    std::printf("result %d seconds %.3f peak_kib %ld\n", result, timer.nsecsElapsed() / 1e9,
                peakKiB());
    return result == UpgradeOpSuccess ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The engine's own messages would only slow the measured run down.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg) {
            std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        }
    });
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == "serve" && args.size() == 3) {
        return serve(args.at(1).toStdString(), args.at(2).toStdString());
    }
    if (mode == "download" && args.size() == 4) {
        return download(args.at(1), args.at(2).toDouble(), args.at(3));
    }
    if (mode == "generate" && args.size() == 4) {
        return generate(args.at(1), args.at(2).toInt(), args.at(3).toInt());
    }
    if (mode == "install" && args.size() == 1) {
        return install();
    }
    std::fprintf(stderr, "usage: see the head of driver.cpp\n");
    return 2;
}
