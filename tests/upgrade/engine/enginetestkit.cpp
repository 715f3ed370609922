// SPDX-License-Identifier: MIT
#include "enginetestkit.h"

#include "outsidefiles.h"

#include <fcntl.h>
#include <httplib.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <chrono>

namespace EngineTest {

JobEnd::JobEnd(QThread &thread)
    : m_thread(thread)
{
    m_connection = QObject::connect(
        &thread, &QThread::finished, &thread,
        [this] { m_done.store(true, std::memory_order_release); }, Qt::DirectConnection);
}

JobEnd::~JobEnd()
{
    QObject::disconnect(m_connection);
}

bool JobEnd::wait(int timeoutMs)
{
    if (!m_thread.wait(timeoutMs)) {
        return false;
    }
    // finished is emitted before wait returns, so the flag is up already.
    return m_done.exchange(false, std::memory_order_acq_rel);
}

HttpServer::HttpServer()
    : m_server(std::make_unique<httplib::Server>())
{
    m_server->Get("/files/(.*)", [this](const httplib::Request &req, httplib::Response &res) {
        ++m_requests;
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_fetched[req.matches[1].str()];
        const auto it = m_files.find(req.matches[1].str());
        if (it == m_files.end()) {
            res.status = 404;
            res.set_content("not here", "text/plain");
            return;
        }
        res.set_content(it->second, "application/octet-stream");
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    for (int i = 0; i < 5000 && !m_server->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

HttpServer::~HttpServer()
{
    m_server->stop();
    m_thread.join();
}

void HttpServer::put(const std::string &name, std::string body)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files[name] = std::move(body);
}

void HttpServer::answer(const std::string &pattern, int status, const std::string &body)
{
    m_server->Get(pattern, [this, status, body](const httplib::Request &, httplib::Response &res) {
        ++m_requests;
        std::function<void()> gate;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            gate = m_gate;
        }
        if (gate) {
            gate();
        }
        res.status = status;
        res.set_content(body, "application/json");
    });
}

int HttpServer::fetched(const std::string &name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fetched[name];
}

void HttpServer::hold(std::function<void()> gate)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_gate = std::move(gate);
}

QString HttpServer::url(const QString &path) const
{
    return QString("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

CutShortServer::CutShortServer(int connections)
    : m_server(
        [](int fd, const std::atomic<bool> &) {
            // Promises 100000 bytes and sends 1000.
            TestSupport::RawServer::sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n"
                                                "Content-Type: application/octet-stream\r\n\r\n"
                                                    + std::string(1000, 'x'));
        },
        connections)
{}

CutShortServer::~CutShortServer() = default;

QString CutShortServer::url(const QString &path) const
{
    return QString("http://127.0.0.1:%1%2").arg(m_server.port()).arg(path);
}

bool make7z(const QString &archive, const QString &workDir, const QStringList &entries,
            const QStringList &flags)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    QStringList args{"a", "-bd", "-y"};
    args << flags << archive << "--" << entries;
    process.start(SEVENZIP_EXE, args);
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A 7z archive holding the given files (relative name, content).
QByteArray archiveOf(const QVector<QPair<QString, QByteArray>> &files)
{
    QTemporaryDir work;
    QStringList names;
    for (const auto &file : files) {
        writeFile(work.path() + "/in/" + file.first, file.second);
        names << file.first;
    }
    const QString archive = work.path() + "/out.7z";
    if (!make7z(archive, work.path() + "/in", names)) {
        return QByteArray();
    }
    return readFile(archive);
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(generator.bounded(256));
    }
    return bytes;
}

const QByteArray kBadName("bad\xff\xfe.so");

bool nameDecodable(const QByteArray &name)
{
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

bool writeRawNamed(const QString &dir, const QByteArray &name, const QByteArray &content)
{
    if (!QDir().mkpath(dir)) {
        return false;
    }
    const QByteArray path = QFile::encodeName(dir) + '/' + name;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool written
        = ::write(fd, content.constData(), static_cast<size_t>(content.size())) == content.size();
    return ::close(fd) == 0 && written;
}

bool rawExists(const QString &dir, const QByteArray &name)
{
    return ::access((QFile::encodeName(dir) + '/' + name).constData(), F_OK) == 0;
}

QMap<QString, QByteArray> treeDigest(const QString &root, const QStringList &skip)
{
    QMap<QString, QByteArray> digest;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString relative = base.relativeFilePath(it.filePath());
        if (skip.contains(relative.section('/', 0, 0))) {
            continue;
        }
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink()) {
            digest.insert(relative + '/', QByteArray());
        } else {
            digest.insert(
                relative,
                QCryptographicHash::hash(readFile(it.filePath()), QCryptographicHash::Md5).toHex());
        }
    }
    return digest;
}

QStringList listTree(const QString &root)
{
    return treeDigest(root).keys();
}

int runProgram(const QString &program, const QStringList &args, QString *out,
               const QStringList &env, int timeoutMs)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : env) {
        environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
    }
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000)) {
        return -1;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (out != nullptr) {
        *out = QString::fromUtf8(process.readAll());
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

ProbeApp::ProbeApp(bool withExtractor)
    : m_app(m_root.path() + "/app")
    , m_probe(m_app + "/probe")
{
    QDir().mkpath(m_app);
    QFile::copy(ENGINE_PROBE, m_probe);
    if (withExtractor) {
        QFile::link(SEVENZIP_EXE, m_app + "/" + OutsideFiles::kExtractor);
    }
}

ProbeApp::~ProbeApp()
{
    setImmutable(false);
}

QStringList ProbeApp::run(const QStringList &args, int *exitCode, const QStringList &env) const
{
    QString out;
    const int code = runProgram(m_probe, args, &out,
                                QStringList{QString("LD_LIBRARY_PATH=") + TEST_BIN_DIR} + env);
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    return out.split('\n', Qt::SkipEmptyParts);
}

bool ProbeApp::setImmutable(bool on)
{
    if (!on && !m_immutable) {
        return true;
    }
    const int fd = ::open(m_probe.toLocal8Bit().constData(), O_RDONLY);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    m_immutable = on && ok;
    return ok;
}

QStringList messagesOf(const QStringList &lines)
{
    QStringList messages;
    for (const QString &line : lines) {
        if (line.startsWith("msg: ")) {
            messages << line.mid(5);
        }
    }
    return messages;
}

int resultOf(const QStringList &lines)
{
    for (const QString &line : lines) {
        if (line.startsWith("result ")) {
            return line.mid(7).toInt();
        }
    }
    return -1;
}

} // namespace EngineTest
