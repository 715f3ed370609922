// SPDX-License-Identifier: MIT
// A development upgrade server: answers the launcher's version query from a folder of module
// packets and a manifest, and serves the packets, over HTTPS when given a certificate. It prints
// the bound port on stdout and one line per request on stderr; SIGINT or SIGTERM stop it.
#include "cupgrade.h"
#include "manifest.h"
#include "upgradetypes.h"
#include "versionquery.h"

#include <httplib.h>
#include <json/json.h>
#include <pthread.h>
#include <sys/socket.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

using namespace DevServer;

namespace {

constexpr char kProgram[] = "norvane-devserver";
constexpr size_t kBlockBytes = 256 * 1024;

const char kDescription[]
    = R"(Serves module packets to the launcher's upgrade engine for development and demos.

It answers the version query GET <base>/<number>, where <base> is the path of the current
server's address, the prefix and the path of the server cluster file, joined. The "token" header
must be the MD5 of "<path>/<number>" followed by the key, as 32 lowercase hex digits; a request
with a missing or wrong token gets 403. The answer lists every module of the manifest with the
address of its packet under /packets/ and the packet's size.

The manifest (default <packets>/manifest.json) is JSON:
  {"modules": [{"id": "Player", "releaseDate": 20261201, "packet": "Player-2.1.0.7z",
                "version": "2.1.0", "desc": "Faster start", "icon": "player.png"}]}
"id", "releaseDate" (a whole number; larger is newer) and "packet" (a file in the packet
folder) are required; "icon" is a file in the folder or an http(s) address. The manifest is read
again for every request, so packets can be replaced while the server runs.

Output: the bound port alone on the first line of stdout; notes and one line per request on
stderr (time, client, method, target, status, bytes, duration, note).

Clients reach the server under the name of the current server with the connect-to map of the
HTTP client, for example
  HESTAL_CONNECT_TO=upgrade.example.com:443:127.0.0.1:<port> HESTAL_CA_FILE=ca.pem)";

std::atomic<bool> g_stopping{false};

// Per request, on the worker thread that runs it from routing to the log line.
thread_local std::chrono::steady_clock::time_point t_started;
thread_local std::string t_note;

struct Config
{
    QString packetDir;
    QString manifestFile;
    QString listen;
    int port = 0;
    QString certFile;
    QString keyFile;
    QString publicUrl;
    std::string queryBase; // everything before "/<number>"
    QString tokenPath;     // what the token is computed over, before "/<number>"
    QString key;
    QString serverName;    // the current server of the cluster file
    QString serverAddress; // its address as the engine puts it after the scheme
    bool tls() const { return !certFile.isEmpty(); }
};

void note(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, text.toLocal8Bit().constData());
}

int usageError(const QString &text)
{
    note(text + QStringLiteral(" (see --help)"));
    return 2;
}

bool startsWith(const std::string &text, const std::string &head)
{
    return text.compare(0, head.size(), head) == 0;
}

void refuse(httplib::Response &res, int status, const std::string &reason)
{
    t_note = reason;
    res.status = status;
    Json::Value body(Json::objectValue);
    body["retcode"] = status;
    body["message"] = reason;
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    res.set_content(Json::writeString(writer, body) + "\n", "application/json; charset=utf-8");
}

bool loadManifest(const Config &config, Manifest &manifest, httplib::Response &res)
{
    QString error;
    if (readManifest(config.manifestFile, config.packetDir, manifest, error))
        return true;
    refuse(res, 500, error.toStdString());
    return false;
}

// An IPv6 address goes in brackets in addresses and in the connect-to map.
QString urlHost(const QString &address)
{
    return address.contains(QLatin1Char(':')) ? QLatin1Char('[') + address + QLatin1Char(']')
                                              : address;
}

// Where the answer's addresses point: the given public address, or the scheme and the host
// that the client asked for.
QString baseUrl(const Config &config, const httplib::Request &req)
{
    if (!config.publicUrl.isEmpty())
        return config.publicUrl;
    static const QRegularExpression hostForm(
        QStringLiteral("^[A-Za-z0-9.\\-]+(:[0-9]+)?$|^\\[[0-9A-Fa-f:.]+\\](:[0-9]+)?$"));
    QString host = QString::fromStdString(req.get_header_value("Host"));
    if (!hostForm.match(host).hasMatch())
        host = QStringLiteral("%1:%2").arg(urlHost(config.listen)).arg(config.port);
    return (config.tls() ? QStringLiteral("https://") : QStringLiteral("http://")) + host;
}

void answerQuery(const Config &config, const std::string &tail, const httplib::Request &req,
                 httplib::Response &res)
{
    if (!req.has_header("token"))
        return refuse(res, 403, "missing token");
    const QString expected = VersionQuery::requestToken(
        config.tokenPath + '/' + QString::fromStdString(tail), config.key);
    if (req.get_header_value("token") != expected.toStdString())
        return refuse(res, 403, "wrong token");
    Manifest manifest;
    if (!loadManifest(config, manifest, res))
        return;
    res.set_content(versionAnswer(manifest, config.packetDir, baseUrl(config, req)),
                    "application/json; charset=utf-8");
    t_note = "offered " + std::to_string(manifest.modules.size());
}

void servePacket(const Config &config, const QString &name, httplib::Response &res)
{
    Manifest manifest;
    if (!loadManifest(config, manifest, res))
        return;
    if (!manifest.servesFile(name))
        return refuse(res, 404, "not a file of the manifest");
    const QString path = QDir(config.packetDir).filePath(name);
    auto file
        = std::make_shared<std::ifstream>(QFile::encodeName(path).toStdString(), std::ios::binary);
    if (!*file)
        return refuse(res, 500, "cannot open " + path.toStdString());
    const auto size = static_cast<size_t>(QFileInfo(path).size());
    const std::string type
        = name.endsWith(QLatin1String(".png")) ? "image/png" : "application/octet-stream";
    if (size == 0)
        return res.set_content(std::string(), type);
    // Read block by block, so a big packet never sits in memory whole.
    res.set_content_provider(size, type,
                             [file](size_t offset, size_t length, httplib::DataSink &sink) {
                                 if (g_stopping)
                                     return false;
                                 std::string block(std::min(length, kBlockBytes), '\0');
                                 file->seekg(static_cast<std::streamoff>(offset));
                                 file->read(&block[0], static_cast<std::streamsize>(block.size()));
                                 if (file->gcount() != static_cast<std::streamsize>(block.size()))
                                     return false;
                                 return sink.write(block.data(), block.size());
                             });
}

void route(const Config &config, const httplib::Request &req, httplib::Response &res)
{
    static const QRegularExpression number(QStringLiteral("^-?[0-9]{1,19}$"));
    const std::string &path = req.path;
    const std::string queryHead = config.queryBase + "/";
    if (startsWith(path, queryHead)) {
        const std::string tail = path.substr(queryHead.size());
        bool fits = false;
        QString::fromStdString(tail).toLongLong(&fits);
        if (number.match(QString::fromStdString(tail)).hasMatch() && fits)
            return answerQuery(config, tail, req, res);
    } else if (startsWith(path, kPacketRoute)) {
        return servePacket(config, QString::fromStdString(path.substr(strlen(kPacketRoute))), res);
    } else if (path == kDefaultIconRoute) {
        return res.set_content(defaultIcon(), "image/png");
    }
    refuse(res, 404, "unknown path");
}

void logRequest(const httplib::Request &req, const httplib::Response &res)
{
    // A request that never reached routing (one that did not parse) has no start of its own.
    const auto now = std::chrono::steady_clock::now();
    const auto started = t_started == std::chrono::steady_clock::time_point() ? now : t_started;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - started).count();
    std::string text = t_note;
    for (char &c : text) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    t_started = std::chrono::steady_clock::time_point();
    t_note.clear();
    const size_t bytes = res.body.empty() ? res.content_length_ : res.body.size();
    const QByteArray when = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    // One call per line, so lines of parallel requests do not mix.
    std::fprintf(stderr, "%s %s:%d %s %s %d %zu %lldms%s%s\n", when.constData(),
                 req.remote_addr.c_str(), req.remote_port, req.method.c_str(), req.target.c_str(),
                 res.status, bytes, static_cast<long long>(ms), text.empty() ? "" : " ",
                 text.c_str());
}

// Fills config from the command line; 0 when the server can start, otherwise the exit code.
int configure(const QCoreApplication &app, Config &config)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    const QCommandLineOption packets("packets", "Folder of the module packets (required).", "dir");
    const QCommandLineOption manifest("manifest", "The manifest (default <dir>/manifest.json).",
                                      "file");
    const QCommandLineOption listen("listen", "Address to bind (default 127.0.0.1).", "address",
                                    "127.0.0.1");
    const QCommandLineOption port("port", "Port to bind; 0 (the default) takes a free one.", "n",
                                  "0");
    const QCommandLineOption cert("cert", "Serve HTTPS with this PEM certificate (chain).", "file");
    const QCommandLineOption key("key", "The PEM private key of --cert.", "file");
    const QCommandLineOption cluster(
        "cluster", "Server cluster file whose current server is served (default: the bundled one).",
        "file");
    const QCommandLineOption queryKey("query-key", "Token key, instead of the cluster file's.",
                                      "text");
    const QCommandLineOption queryPrefix("query-prefix", "Prefix, instead of the cluster file's.",
                                         "text");
    const QCommandLineOption queryPath("query-path", "Path, instead of the cluster file's.",
                                       "text");
    const QCommandLineOption publicUrl(
        "public-url", "Base of the packet addresses (default: the scheme and host asked for).",
        "url");
    parser.addOptions({packets, manifest, listen, port, cert, key, cluster, queryKey, queryPrefix,
                       queryPath, publicUrl});
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet("help")) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return -1;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    config.packetDir = parser.value(packets);
    if (config.packetDir.isEmpty())
        return usageError(QStringLiteral("--packets is required"));
    if (!QFileInfo(config.packetDir).isDir())
        return usageError(QStringLiteral("%1 is not a folder").arg(config.packetDir));
    config.manifestFile = parser.isSet(manifest)
                              ? parser.value(manifest)
                              : QDir(config.packetDir).filePath(QStringLiteral("manifest.json"));
    config.listen = parser.value(listen);
    bool portOk = false;
    config.port = parser.value(port).toInt(&portOk);
    if (!portOk || config.port < 0 || config.port > 65535)
        return usageError(QStringLiteral("--port must be 0 to 65535"));
    config.certFile = parser.value(cert);
    config.keyFile = parser.value(key);
    if (config.certFile.isEmpty() != config.keyFile.isEmpty())
        return usageError(QStringLiteral("--cert and --key go together"));
    config.publicUrl = parser.value(publicUrl);
    while (config.publicUrl.endsWith(QLatin1Char('/')))
        config.publicUrl.chop(1);

    const QString clusterFile = parser.isSet(cluster)
                                    ? parser.value(cluster)
                                    : QString::fromLatin1(kBundledServerClusterFile);
    ServerClusterInfo info;
    if (!CUpgrade::readServerClusterInfo(clusterFile, info))
        return usageError(
            QStringLiteral("cannot read the server cluster file %1").arg(clusterFile));
    const ServerInfo &current = info.vecServer.at(info.nCurrServer);
    config.serverName = current.strName;
    config.serverAddress = current.strSvrUrl;
    const QString prefix = parser.isSet(queryPrefix) ? parser.value(queryPrefix) : info.strPrefix;
    config.tokenPath = parser.isSet(queryPath) ? parser.value(queryPath) : info.strPath;
    config.key = parser.isSet(queryKey) ? parser.value(queryKey) : info.strKey;
    if (config.key.isEmpty())
        return usageError(QStringLiteral("the token key is empty"));
    // The engine puts the address right after the scheme; anything after its host is path.
    const int slash = config.serverAddress.indexOf(QLatin1Char('/'));
    const QString addressPath = slash < 0 ? QString() : config.serverAddress.mid(slash);
    config.queryBase = (addressPath + prefix + config.tokenPath).toStdString();

    Manifest checked;
    QString error;
    if (!readManifest(config.manifestFile, config.packetDir, checked, error)) {
        note(error);
        return 2;
    }
    note(QStringLiteral("%1 modules from %2").arg(checked.modules.size()).arg(config.packetDir));
    return 0;
}

// Tells a person how the launcher reaches this server, and warns when it would not.
void describe(const Config &config)
{
    const QString scheme = VersionQuery::requestScheme(config.serverName);
    const bool clientTls = scheme == QLatin1String("https://");
    QString host = config.serverAddress.section(QLatin1Char('/'), 0, 0);
    if (!host.contains(QLatin1Char(':')))
        host += clientTls ? QStringLiteral(":443") : QStringLiteral(":80");
    QString here = urlHost(config.listen);
    if (config.listen == QLatin1String("0.0.0.0"))
        here = QStringLiteral("127.0.0.1");
    else if (config.listen == QLatin1String("::"))
        here = QStringLiteral("[::1]");
    note(QStringLiteral("version query at %1/<number>; the launcher asks %2%3 (server \"%4\"); "
                        "reach this server with HESTAL_CONNECT_TO=%5:%6:%7")
             .arg(QString::fromStdString(config.queryBase), scheme, config.serverAddress,
                  config.serverName, host, here)
             .arg(config.port));
    if (clientTls != config.tls())
        note(QStringLiteral("warning: the launcher asks server \"%1\" over %2 but this server "
                            "speaks %3")
                 .arg(config.serverName, scheme,
                      config.tls() ? QStringLiteral("HTTPS") : QStringLiteral("plain HTTP")));
}

} // namespace

int main(int argc, char **argv)
{
    // Signals are taken by one thread with sigwait; every thread started later inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    Config config;
    if (const int code = configure(app, config))
        return code < 0 ? 0 : code;

    std::unique_ptr<httplib::Server> server;
    if (config.tls()) {
        server
            = std::make_unique<httplib::SSLServer>(QFile::encodeName(config.certFile).constData(),
                                                   QFile::encodeName(config.keyFile).constData());
    } else {
        server = std::make_unique<httplib::Server>();
    }
    if (!server->is_valid()) {
        note(QStringLiteral("cannot use the certificate %1 with the key %2")
                 .arg(config.certFile, config.keyFile));
        return 1;
    }
    // A client that keeps its connection open holds a stop back for no longer than this.
    server->set_keep_alive_timeout(1);
    server->set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_started = std::chrono::steady_clock::now();
        t_note.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server->Get(".*", [&config](const httplib::Request &req, httplib::Response &res) {
        route(config, req, res);
    });
    server->set_logger(&logRequest);
    // The library's default also shares the port with any other server on it, so a second
    // server would take half of the requests instead of failing to start.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    const std::string host = config.listen.toStdString();
    const int asked = config.port;
    if (asked == 0)
        config.port = server->bind_to_any_port(host);
    else if (!server->bind_to_port(host, asked))
        config.port = -1;
    if (config.port <= 0) {
        note(QStringLiteral("cannot bind %1 port %2").arg(config.listen).arg(asked));
        return 1;
    }
    std::printf("%d\n", config.port);
    std::fflush(stdout);
    describe(config);

    std::atomic<bool> listening{true};
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        if (!listening)
            return;
        g_stopping = true;
        note(QStringLiteral("%1, stopping").arg(QString::fromLatin1(strsignal(signal))));
        // stop() does nothing until the accept loop runs, so repeat it until the loop has ended.
        while (listening) {
            server->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const bool clean = server->listen_after_bind();
    listening = false;
    if (!g_stopping)
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    signalWaiter.join();
    if (!g_stopping) {
        note(QStringLiteral("the server ended by itself"));
        return 1;
    }
    note(QStringLiteral("stopped"));
    return clean ? 0 : 1;
}
