// SPDX-License-Identifier: MIT
#include "connectto.h"

#include <curl/curl.h>
#include <hestal/hestal.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QUrl>

#include <memory>
#include <mutex>

namespace {

constexpr int kDefaultConnectMs = 20000;
constexpr int kDefaultLowSpeedLimit = 512;
constexpr int kDefaultLowSpeedTime = 20;
constexpr long kMaxRedirects = 5;
// GetInfo keeps the whole answer in memory; a version answer is a few kilobytes.
constexpr qsizetype kMaxBodyBytes = 64 * 1024 * 1024;

struct CurlDeleter
{
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;

struct SlistDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

bool appendLine(SlistPtr &list, const QByteArray &line)
{
    curl_slist *grown = curl_slist_append(list.get(), line.constData());
    if (!grown)
        return false;
    list.release();
    list.reset(grown);
    return true;
}

bool curlReady()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

QMutex g_caLock;
QString g_extraCa;

QString extraCaFile()
{
    QMutexLocker lock(&g_caLock);
    if (!g_extraCa.isEmpty())
        return g_extraCa;
    return qEnvironmentVariable("HESTAL_CA_FILE");
}

// Adds the extra CA file to the store that curl filled from the system, so both are trusted.
CURLcode addExtraCa(CURL *, void *sslCtx, void *user)
{
    const auto *path = static_cast<const QByteArray *>(user);
    X509_STORE *store = SSL_CTX_get_cert_store(static_cast<SSL_CTX *>(sslCtx));
    if (!store || X509_STORE_load_file(store, path->constData()) != 1)
        return CURLE_SSL_CACERT_BADFILE;
    return CURLE_OK;
}

HTTP_ERROR mapCurlCode(CURLcode code)
{
    switch (code) {
    case CURLE_OK:
        return HTTP_ERROR_OK;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return HTTP_ERROR_BAD_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return HTTP_ERROR_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return HTTP_ERROR_TIMEOUT;
    case CURLE_HTTP_RETURNED_ERROR:
        return HTTP_ERROR_STATUS;
    case CURLE_PARTIAL_FILE:
        return HTTP_ERROR_PARTIAL;
    case CURLE_WRITE_ERROR:
        return HTTP_ERROR_WRITE;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return HTTP_ERROR_TLS;
    case CURLE_FAILED_INIT:
    case CURLE_OUT_OF_MEMORY:
        return HTTP_ERROR_INIT;
    default:
        return HTTP_ERROR_TRANSFER;
    }
}

// Where the body goes during one transfer.
struct Sink
{
    QByteArray *buffer = nullptr;     // GetInfo: kept in memory
    HttpWriteFunction func = nullptr; // DownloadFile: handed on block by block
    void *user = nullptr;
    bool refused = false;
    CURL *handle = nullptr;
};

// The address a redirect answer points at, or null when the answer is no redirect.
const char *redirectTarget(CURL *handle)
{
    long status = 0;
    char *target = nullptr;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status < 300 || status > 399)
        return nullptr;
    curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &target);
    return target;
}

size_t onBody(char *data, size_t size, size_t count, void *userp)
{
    auto *sink = static_cast<Sink *>(userp);
    const size_t bytes = size * count;
    // The page of a redirect is not the answer asked for.
    if (redirectTarget(sink->handle))
        return bytes;
    if (sink->buffer) {
        if (bytes > size_t(kMaxBodyBytes - sink->buffer->size())) {
            sink->refused = true;
            return 0;
        }
        sink->buffer->append(data, qsizetype(bytes));
        return bytes;
    }
    size_t taken = 0;
    try {
        taken = sink->func(data, size, count, sink->user);
    } catch (...) {
        // An exception must not unwind through the C library.
        taken = 0;
    }
    if (taken != bytes) {
        sink->refused = true;
        return 0;
    }
    return bytes;
}

int portOf(const QUrl &url)
{
    return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443
                                                                                           : 80);
}

bool sameServer(const QUrl &a, const QUrl &b)
{
    return a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && portOf(a) == portOf(b);
}

bool headerIsSafe(const QString &header)
{
    return !header.contains(QLatin1Char('\r')) && !header.contains(QLatin1Char('\n'))
           && !header.contains(QChar(0));
}

} // namespace

struct CHttp::Private
{
    int connectMs = kDefaultConnectMs;
    int lowSpeedLimit = kDefaultLowSpeedLimit;
    int lowSpeedTime = kDefaultLowSpeedTime;
    QByteArray body;
    long status = 0;
    QString errorText;

    HTTP_ERROR perform(const QString &url, const QStringList &headers, Sink &sink,
                       bool failOnStatus);
    HTTP_ERROR fail(HTTP_ERROR code, const QString &text)
    {
        errorText = text;
        return code;
    }
};

HTTP_ERROR CHttp::Private::perform(const QString &url, const QStringList &headers, Sink &sink,
                                   bool failOnStatus)
{
    status = 0;
    errorText.clear();
    if (url.trimmed().isEmpty())
        return fail(HTTP_ERROR_BAD_URL, QStringLiteral("empty address"));
    if (!curlReady())
        return fail(HTTP_ERROR_INIT, QStringLiteral("curl_global_init failed"));
    CurlPtr curl(curl_easy_init());
    if (!curl)
        return fail(HTTP_ERROR_INIT, QStringLiteral("curl_easy_init failed"));

    SlistPtr headerList;
    for (const QString &header : headers) {
        if (!headerIsSafe(header))
            return fail(HTTP_ERROR_BAD_PARAM, QStringLiteral("header with a line break"));
        if (!appendLine(headerList, header.toUtf8()))
            return fail(HTTP_ERROR_INIT, QStringLiteral("out of memory"));
    }

    // A map that cannot be read fails the request: going to the real host instead would hide it.
    QList<QByteArray> connectTo;
    QString mapError;
    if (!ConnectTo::mapFromEnvironment(connectTo, mapError)) {
        qWarning().noquote() << mapError;
        return fail(HTTP_ERROR_BAD_PARAM, mapError);
    }
    SlistPtr connectList;
    for (const QByteArray &entry : connectTo) {
        if (!appendLine(connectList, entry))
            return fail(HTTP_ERROR_INIT, QStringLiteral("out of memory"));
    }

    const QByteArray urlBytes = url.toUtf8();
    const QByteArray caFile = QFile::encodeName(extraCaFile());
    char errorBuffer[CURL_ERROR_SIZE] = {};

    CURL *h = curl.get();
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed below, each checked before it is taken.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    // The engine runs on its own thread; signals are no way to time out there.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (connectMs > 0)
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(connectMs));
    if (lowSpeedLimit > 0 && lowSpeedTime > 0) {
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, long(lowSpeedLimit));
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(lowSpeedTime));
    }
    if (headerList)
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get());
    if (connectList)
        curl_easy_setopt(h, CURLOPT_CONNECT_TO, connectList.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    sink.handle = h;
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    // Larger blocks mean fewer writer calls and writes for big packets.
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
    if (failOnStatus)
        curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    if (!caFile.isEmpty()) {
        char *systemBundle = nullptr;
        curl_easy_getinfo(h, CURLINFO_CAINFO, &systemBundle);
        if (!systemBundle || !QFile::exists(QFile::decodeName(systemBundle))) {
            // No system bundle to add to: the extra file is the whole trust store.
            curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
        } else {
            // A store cached from an earlier transfer would not carry the extra certificates.
            curl_easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, 0L);
            if (curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &addExtraCa) != CURLE_OK
                || curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, &caFile) != CURLE_OK)
                curl_easy_setopt(h, CURLOPT_CAINFO, caFile.constData());
        }
    }

    CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // The address as curl understood it, so that both sides of each comparison are alike.
    char *effective = nullptr;
    curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective);
    const QUrl named(QString::fromUtf8(effective ? effective : ""));
    QUrl current = named;
    for (long hops = 0; code == CURLE_OK; ++hops) {
        const char *target = redirectTarget(h);
        if (!target)
            break;
        if (hops == kMaxRedirects) {
            code = CURLE_TOO_MANY_REDIRECTS;
            break;
        }
        const QByteArray nextBytes(target); // curl's copy goes with the next transfer
        const QUrl next(QString::fromUtf8(nextBytes));
        // A secure address stays secure: the caller's token would travel in clear text.
        if (current.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
            && next.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
            return fail(HTTP_ERROR_BAD_URL,
                        QStringLiteral("redirect from https to %1 refused").arg(next.scheme()));
        // The caller's headers are meant for the server it named, not for one it is sent on to.
        curl_easy_setopt(h, CURLOPT_HTTPHEADER,
                         sameServer(next, named) ? headerList.get() : nullptr);
        curl_easy_setopt(h, CURLOPT_URL, nextBytes.constData());
        current = next;
        errorBuffer[0] = 0;
        code = curl_easy_perform(h);
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    }

    if (code != CURLE_OK) {
        if (sink.refused)
            return fail(HTTP_ERROR_WRITE, QStringLiteral("a block of the body was refused"));
        const QString detail = errorBuffer[0] ? QString::fromUtf8(errorBuffer)
                                              : QString::fromUtf8(curl_easy_strerror(code));
        return fail(mapCurlCode(code), detail);
    }
    if (status >= 400)
        return fail(HTTP_ERROR_STATUS, QStringLiteral("HTTP status %1").arg(status));
    return HTTP_ERROR_OK;
}

CHttp::CHttp()
    : d(new Private)
{}

CHttp::~CHttp() = default;

void CHttp::InitData()
{
    d->connectMs = kDefaultConnectMs;
    d->lowSpeedLimit = kDefaultLowSpeedLimit;
    d->lowSpeedTime = kDefaultLowSpeedTime;
    d->body.clear();
    d->status = 0;
    d->errorText.clear();
}

void CHttp::setTimeOut(int connectTimeoutMs, int lowSpeedLimit, int lowSpeedTime)
{
    d->connectMs = connectTimeoutMs;
    d->lowSpeedLimit = lowSpeedLimit;
    d->lowSpeedTime = lowSpeedTime;
}

HTTP_ERROR CHttp::GetInfo(const QString &url, const QStringList &headers)
{
    d->body.clear();
    Sink sink;
    sink.buffer = &d->body;
    return d->perform(url, headers, sink, false);
}

QString CHttp::GetResult()
{
    return QString::fromUtf8(d->body);
}

HTTP_ERROR CHttp::DownloadFile(const QString &url, const DonwloadFileParam &param)
{
    d->body.clear();
    if (!param.pWriteFunc) {
        d->status = 0;
        return d->fail(HTTP_ERROR_BAD_PARAM, QStringLiteral("no write function"));
    }
    Sink sink;
    sink.func = param.pWriteFunc;
    sink.user = param.pUserData;
    // An error page is not the file asked for: stop before its body reaches the writer.
    return d->perform(url, QStringList(), sink, true);
}

long CHttp::GetStatusCode() const
{
    return d->status;
}

QString CHttp::GetErrorText() const
{
    return d->errorText;
}

void CHttp::SetExtraCaFile(const QString &pemPath)
{
    QMutexLocker lock(&g_caLock);
    g_extraCa = pemPath;
}
