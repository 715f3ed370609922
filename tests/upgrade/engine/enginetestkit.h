// SPDX-License-Identifier: MIT
#pragma once

#include "messagecapture.h"
#include "rawserver.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

// Readable Qt texts in test failures.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace httplib {
class Server;
} // namespace httplib

namespace EngineTest {

// Waits for the end of a job of a thread. Qt's own hand-over in QThread::wait is invisible to a
// race checker when Qt itself is not instrumented, so the end of the thread is also passed on
// through an atomic flag set from its finished signal: what the job wrote is then visibly
// ordered before the test reads it.
class JobEnd
{
public:
    explicit JobEnd(QThread &thread);
    ~JobEnd();
    bool wait(int timeoutMs);

private:
    QThread &m_thread;
    QMetaObject::Connection m_connection;
    std::atomic<bool> m_done{false};
};

using TestSupport::MessageCapture;

// How the engine's debug stream shows a text value.
inline QString q(const QString &text)
{
    return '"' + text + '"';
}

// An HTTP server on 127.0.0.1 serving bodies from memory under "/files/<name>", and whatever
// else a test adds. Stops and joins in its destructor.
class HttpServer
{
public:
    HttpServer();
    ~HttpServer();
    void put(const std::string &name, std::string body);
    // Adds a GET handler answering text for every path matching pattern (a regular expression).
    void answer(const std::string &pattern, int status, const std::string &body);
    // Runs gate in every handler added by answer before it answers (to hold a request).
    void hold(std::function<void()> gate);
    QString url(const QString &path) const;
    int port() const { return m_port; }
    int requests() const { return m_requests.load(); }
    // How often /files/<name> was asked for.
    int fetched(const std::string &name);

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    std::map<std::string, std::string> m_files;
    std::function<void()> m_gate;
    std::map<std::string, int> m_fetched;
    std::atomic<int> m_requests{0};
};

// A server that answers every connection with a header announcing more body than it sends,
// then hangs up. At most a few connections, each bounded in time.
class CutShortServer
{
public:
    explicit CutShortServer(int connections = 1);
    ~CutShortServer();
    QString url(const QString &path) const;

private:
    TestSupport::RawServer m_server;
};

// Runs the extractor to make an archive of entries (paths relative to workDir) with extra flags.
bool make7z(const QString &archive, const QString &workDir, const QStringList &entries,
            const QStringList &flags = {});
// A 7z archive holding the given files (relative name, content); empty when that failed.
QByteArray archiveOf(const QVector<QPair<QString, QByteArray>> &files);
// Writes a file, creating its folders.
bool writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);
// Bytes that do not compress, so that an archive is about as big as its content.
QByteArray noise(int size, quint32 seed);

// A name that the file-name encoding cannot carry, and whether the current one carries it after
// all (then nothing about it can be shown).
extern const QByteArray kBadName;
bool nameDecodable(const QByteArray &name);
// Writes or finds the file dir/name, the name given as raw bytes.
bool writeRawNamed(const QString &dir, const QByteArray &name, const QByteArray &content);
bool rawExists(const QString &dir, const QByteArray &name);

// Every path under root (relative, folders with a trailing "/") with the MD5 of each file,
// leaving out the names in skip at the top level.
QMap<QString, QByteArray> treeDigest(const QString &root, const QStringList &skip = {});
// Paths of every file and folder under root, relative.
QStringList listTree(const QString &root);

// Runs a program with arguments and environment additions; its exit code, or -1 when it did
// not start or did not end in time. Output goes to out.
int runProgram(const QString &program, const QStringList &args, QString *out = nullptr,
               const QStringList &env = {}, int timeoutMs = 60000);

// A program directory of the test's own holding a copy of the engine's host program, with the
// extractor staged next to it or not. The host runs one job and prints its messages and result.
class ProbeApp
{
public:
    explicit ProbeApp(bool withExtractor);
    ~ProbeApp();

    QString root() const { return m_root.path(); }
    QString app() const { return m_app; }
    // The printed lines; the exit code goes to exitCode. env adds "NAME=value" entries.
    QStringList run(const QStringList &args, int *exitCode = nullptr,
                    const QStringList &env = {}) const;
    // Makes the program file unwritable even for root; false where the file system cannot.
    bool setImmutable(bool on);

private:
    QTemporaryDir m_root;
    QString m_app;
    QString m_probe;
    bool m_immutable = false;
};

// The messages among a host's printed lines, and its result (-1 when none was printed).
QStringList messagesOf(const QStringList &lines);
int resultOf(const QStringList &lines);

} // namespace EngineTest
