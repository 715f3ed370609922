// SPDX-License-Identifier: MIT
// Common services: solutions directory, debug log, text fitting, HTTP client and cipher.
#pragma once

#include "hestal_global.h"

#include <QByteArray>
#include <QFontMetrics>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>

// The solutions directory, relative to the program directory and ending with "/".
// HESTAL_SOLUTIONS_DIR, when set, is returned verbatim instead.
HESTAL_EXPORT QString QGetSolutionsDirPath();

// The process-wide debug log. It writes to HESTAL_DEBUGLOG when set, else to "Log/debug.log"
// under the working directory at the time of Init (the folder is created as needed). Every line
// starts with a timestamp. Calls are thread-safe.
class HESTAL_EXPORT CDebugLog
{
public:
    static CDebugLog *Instance();

    // Opens the file and appends "debug log started". 0 on success, -1 when the file cannot be
    // opened. Calling it again while started writes nothing and returns 0.
    int Init();
    // Appends "debug log stopped" and closes the file. 0 on success, -1 when not started.
    int UnInit();

    // Appends the text, one stamped line per line of it; false when the log is not started or
    // the write failed.
    bool Write(const QString &text);
    // The file in use, empty while not started.
    QString FilePath() const;

    CDebugLog(const CDebugLog &) = delete;
    CDebugLog &operator=(const CDebugLog &) = delete;

private:
    CDebugLog();
    ~CDebugLog();

    struct Private;
    std::unique_ptr<Private> d;
};

class HESTAL_EXPORT QCommon
{
public:
    // result receives text when it fits into width pixels, else a shorter form elided at the end.
    static void GetSuitableText(const QFontMetrics &metrics, int width, const QString &text,
                                QString &result);
};

// Result of a transfer. Only HTTP_ERROR_OK is success.
enum HTTP_ERROR {
    HTTP_ERROR_OK = 0,
    HTTP_ERROR_INIT = 1,       // the client could not be set up
    HTTP_ERROR_BAD_URL = 2,    // empty or unusable address
    HTTP_ERROR_CONNECT = 3,    // name lookup or connection failed
    HTTP_ERROR_TLS = 4,        // TLS handshake or certificate check failed
    HTTP_ERROR_TIMEOUT = 5,    // connect time-out or the transfer stayed below the low-speed limit
    HTTP_ERROR_STATUS = 6,     // the server answered with status 400 or more
    HTTP_ERROR_PARTIAL = 7,    // the body was cut short
    HTTP_ERROR_WRITE = 8,      // the write function refused a block
    HTTP_ERROR_TRANSFER = 9,   // any other transfer failure
    HTTP_ERROR_BAD_PARAM = 10, // a header with a line break, no write function, a bad map
};

// Called once per block of the body on the thread that called DownloadFile; answers
// size * count when it took the block, 0 to refuse it (which ends the transfer).
typedef size_t (*HttpWriteFunction)(void *data, size_t size, size_t count, void *user);

struct DonwloadFileParam
{
    HttpWriteFunction pWriteFunc;
    void *pUserData;
    void *pReserved; // must be null
};

// A blocking HTTP(S) client for one request at a time. Use: construct, InitData, setTimeOut,
// GetInfo or DownloadFile, destroy. TLS peers are verified against the system store and the
// extra CA file, if one is named.
//
// HESTAL_CONNECT_TO sends requests for one host and port to another, as
// "host:port:connect-host:connect-port" entries separated by "," or ";" (IPv6 hosts in brackets).
// The address, the Host header and the certificate check keep the name asked for, so a server
// known by name can be reached on loopback and is still verified. A malformed entry fails every
// request with HTTP_ERROR_BAD_PARAM and a warning that names it.
class HESTAL_EXPORT CHttp
{
public:
    CHttp();
    ~CHttp();
    CHttp(const CHttp &) = delete;
    CHttp &operator=(const CHttp &) = delete;

    // Clears the result of an earlier transfer and restores the default time-outs.
    void InitData();
    // connectTimeoutMs: time allowed to connect; lowSpeedLimit (bytes/s) and lowSpeedTime (s):
    // a transfer slower than the limit for that long is given up. Values <= 0 disable each.
    void setTimeOut(int connectTimeoutMs, int lowSpeedLimit, int lowSpeedTime);

    // GET url with the given header lines ("Name: value"); the body is kept for GetResult.
    HTTP_ERROR GetInfo(const QString &url, const QStringList &headers);
    // The body of the last GetInfo as UTF-8 text, also when it failed (whatever arrived).
    QString GetResult();
    // GET url, handing each block of the body to param.pWriteFunc.
    HTTP_ERROR DownloadFile(const QString &url, const DonwloadFileParam &param);

    // HTTP status of the last transfer, 0 when none was received.
    long GetStatusCode() const;
    // A readable reason for the last failure, empty after success.
    QString GetErrorText() const;

    // A PEM file of CA certificates trusted besides the system store, for every client in the
    // process. While no path is set here (or after an empty one), HESTAL_CA_FILE names it, if set.
    // A file that cannot be read makes every HTTPS transfer fail.
    static void SetExtraCaFile(const QString &pemPath);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

namespace Hestal {

enum ERR_CODE {
    ERR_OK = 0,
    ERR_CIPHER = 1, // the cipher library failed
};

// AES-256-CBC with PKCS#7 padding under the library's own fixed key and IV. The output is
// always a whole number of 16-byte blocks, one more than the input fills (an empty input gives
// one block).
HESTAL_EXPORT ERR_CODE AES_Encrypt(const QByteArray &in, QByteArray &out);
// Inverts AES_Encrypt. Input that is not a whole number of blocks, or whose padding does not
// check out, gives an empty out; nothing is reported. There is no integrity check: garbage whose
// last block happens to end in valid padding deciphers to garbage bytes.
HESTAL_EXPORT void AES_Decrypt(const QByteArray &in, QByteArray &out);

} // namespace Hestal
