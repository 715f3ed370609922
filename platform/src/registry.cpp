// SPDX-License-Identifier: MIT
// The registry on SQLite: one table of keys (each under its parent, names without regard to
// case), one of values. SQLite errors become Win32 codes in one place, mapError().
#include "platform/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace {

constexpr int kSchemaVersion = 0x50524701; // marks a file as ours
constexpr int kBusyTimeoutMs = 60000;

struct Root
{
    HKEY handle;
    std::int64_t id;
    const char *name;
};
const Root kRoots[] = {{HKEY_CLASSES_ROOT, 1, "HKEY_CLASSES_ROOT"},
                       {HKEY_CURRENT_USER, 2, "HKEY_CURRENT_USER"},
                       {HKEY_LOCAL_MACHINE, 3, "HKEY_LOCAL_MACHINE"}};

struct OpenKey
{
    std::int64_t id;
};

struct Store
{
    sqlite3 *db = nullptr;
    std::string path;
    pid_t pid = 0;
    int depth = 0;
    std::map<const char *, sqlite3_stmt *> statements;
    std::set<OpenKey *> handles;
};

std::recursive_mutex g_mutex;
Store g_store;
thread_local std::string t_lastError;

// Holds the store for one call. A statement left stepped keeps its read lock on the file, which
// would stall other processes' writes; so the outermost call resets them all when it ends.
class Guard
{
public:
    Guard()
        : m_lock(g_mutex)
    {
        ++s_depth;
    }
    ~Guard()
    {
        if (--s_depth == 0)
            for (auto &st : g_store.statements)
                sqlite3_reset(st.second);
    }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

private:
    std::lock_guard<std::recursive_mutex> m_lock;
    static inline int s_depth = 0;
};

LONG fail(LONG code, const std::string &text)
{
    t_lastError = text;
    return code;
}

LONG mapError(int rc, const char *what)
{
    const char *detail = g_store.db ? sqlite3_errmsg(g_store.db) : sqlite3_errstr(rc);
    const std::string where = "registry file " + g_store.path;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return fail(ERROR_BUSY, where + " stayed locked by another process while " + what);
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return fail(ERROR_ACCESS_DENIED, where + " cannot be written (" + what + "): " + detail);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
        return fail(ERROR_BADDB, where + " is damaged or not a registry (" + what + "): " + detail);
    case SQLITE_CANTOPEN:
        return fail(ERROR_CANTOPEN, where + " cannot be opened: " + detail);
    case SQLITE_NOMEM:
        return fail(ERROR_OUTOFMEMORY, where + ": out of memory while " + what);
    case SQLITE_FULL:
    case SQLITE_IOERR:
        return fail(ERROR_CANTWRITE, where + ": input/output error while " + what + ": " + detail);
    default:
        return fail(ERROR_CANTREAD, where + ": " + what + " failed: " + detail);
    }
}

std::string defaultPath()
{
    std::string base;
    if (const char *xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char *home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        base = "/tmp";
    return base + "/norvane/platform-registry.sqlite";
}

std::string currentPath()
{
    const char *env = std::getenv("PLATFORM_REGISTRY");
    return env && *env ? std::string(env) : defaultPath();
}

void makeParentDirs(const std::string &path)
{
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1))
        ::mkdir(path.substr(0, pos).c_str(), 0700);
}

void closeStore()
{
    for (auto &s : g_store.statements)
        sqlite3_finalize(s.second);
    g_store.statements.clear();
    if (g_store.db)
        sqlite3_close_v2(g_store.db);
    g_store.db = nullptr;
    g_store.depth = 0;
}

// A statement of each kind is prepared once per open file.
sqlite3_stmt *statement(const char *sql)
{
    auto it = g_store.statements.find(sql);
    if (it != g_store.statements.end()) {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
        return it->second;
    }
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(g_store.db, sql, -1, &st, nullptr) != SQLITE_OK)
        return nullptr;
    g_store.statements[sql] = st;
    return st;
}

int exec(const char *sql)
{
    return sqlite3_exec(g_store.db, sql, nullptr, nullptr, nullptr);
}

LONG createSchema()
{
    int rc = exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return mapError(rc, "creating the registry");
    rc = exec("CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
              " name TEXT NOT NULL COLLATE NOCASE, protected INTEGER NOT NULL DEFAULT 0,"
              " UNIQUE(parent, name));"
              "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE"
              " NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name));"
              "INSERT OR IGNORE INTO keys(id, parent, name) VALUES"
              " (1, 0, 'HKEY_CLASSES_ROOT'), (2, 0, 'HKEY_CURRENT_USER'),"
              " (3, 0, 'HKEY_LOCAL_MACHINE');");
    if (rc == SQLITE_OK) {
        const std::string v = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
        rc = exec(v.c_str());
    }
    if (rc != SQLITE_OK) {
        const LONG err = mapError(rc, "creating the registry");
        exec("ROLLBACK");
        return err;
    }
    rc = exec("COMMIT");
    if (rc != SQLITE_OK) {
        const LONG err = mapError(rc, "creating the registry");
        exec("ROLLBACK");
        return err;
    }
    return ERROR_SUCCESS;
}

int userVersion(int *version)
{
    sqlite3_stmt *st = nullptr;
    int rc = sqlite3_prepare_v2(g_store.db, "PRAGMA user_version", -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            *version = sqlite3_column_int(st, 0);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(st);
    return rc;
}

LONG checkFile()
{
    int version = 0;
    int rc = userVersion(&version);
    if (rc != SQLITE_OK)
        return mapError(rc, "reading the registry");
    if (version == 0) {
        // Empty (new) file, or somebody else's database.
        sqlite3_stmt *st = nullptr;
        rc = sqlite3_prepare_v2(g_store.db, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr);
        int tables = 0;
        if (rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            tables = sqlite3_column_int(st, 0);
        else
            rc = sqlite3_errcode(g_store.db);
        sqlite3_finalize(st);
        if (rc != SQLITE_OK)
            return mapError(rc, "reading the registry");
        if (tables > 0)
            return fail(ERROR_BADDB,
                        "registry file " + g_store.path + " is a database but not a registry");
        const LONG err = createSchema();
        if (err != ERROR_SUCCESS)
            return err;
        rc = userVersion(&version);
        if (rc != SQLITE_OK)
            return mapError(rc, "reading the registry");
    }
    if (version != kSchemaVersion)
        return fail(ERROR_BADDB, "registry file " + g_store.path + " is not a registry we know");
    // A damaged page shows here rather than half-way through a registration.
    sqlite3_stmt *st = nullptr;
    rc = sqlite3_prepare_v2(g_store.db, "PRAGMA quick_check", -1, &st, nullptr);
    std::string verdict;
    if (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        verdict = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        rc = SQLITE_OK;
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_OK)
        return mapError(rc, "checking the registry");
    if (verdict != "ok")
        return fail(ERROR_BADDB, "registry file " + g_store.path + " is damaged: " + verdict);
    return ERROR_SUCCESS;
}

// Opens the file named now; reopens when the name changed outside a transaction.
LONG ensureOpen()
{
    const std::string path = currentPath();
    if (g_store.db && g_store.pid != ::getpid()) {
        // A forked child must not use its parent's connection; it opens its own.
        g_store.db = nullptr;
        g_store.statements.clear();
        g_store.depth = 0;
    }
    if (g_store.db && (g_store.path == path || g_store.depth > 0))
        return ERROR_SUCCESS;
    closeStore();
    g_store.path = path;
    g_store.pid = ::getpid();
    if (!std::getenv("PLATFORM_REGISTRY"))
        makeParentDirs(path);
    int rc = sqlite3_open_v2(path.c_str(), &g_store.db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        const LONG err = mapError(rc, "opening");
        closeStore();
        return err;
    }
    sqlite3_busy_timeout(g_store.db, kBusyTimeoutMs);
    const LONG err = checkFile();
    if (err != ERROR_SUCCESS)
        closeStore();
    return err;
}

LONG beginScope()
{
    const LONG err = ensureOpen();
    if (err != ERROR_SUCCESS)
        return err;
    const std::string sql = g_store.depth == 0 ? std::string("BEGIN IMMEDIATE")
                                               : "SAVEPOINT s" + std::to_string(g_store.depth);
    const int rc = exec(sql.c_str());
    if (rc != SQLITE_OK)
        return mapError(rc, "starting a registration");
    ++g_store.depth;
    return ERROR_SUCCESS;
}

LONG endScope(bool commit)
{
    if (!g_store.db || g_store.depth == 0)
        return fail(ERROR_INVALID_PARAMETER, "no registry transaction to end");
    --g_store.depth;
    if (g_store.depth > 0) {
        const std::string sp = "s" + std::to_string(g_store.depth);
        if (!commit)
            exec(("ROLLBACK TO " + sp).c_str());
        const int rc = exec(("RELEASE " + sp).c_str());
        return rc == SQLITE_OK ? ERROR_SUCCESS : mapError(rc, "ending a registration step");
    }
    if (!commit) {
        exec("ROLLBACK");
        return ERROR_SUCCESS;
    }
    const int rc = exec("COMMIT");
    if (rc != SQLITE_OK) {
        const LONG err = mapError(rc, "committing a registration");
        exec("ROLLBACK");
        return err;
    }
    return ERROR_SUCCESS;
}

// One write call's own scope.
struct Scope
{
    LONG status;
    bool ok = false;
    Scope()
        : status(beginScope())
    {}
    ~Scope()
    {
        if (status == ERROR_SUCCESS)
            endScope(ok);
    }
    LONG done(LONG result)
    {
        if (result != ERROR_SUCCESS)
            return result;
        const LONG err = endScope(true);
        status = ERROR_INVALID_HANDLE; // ended
        return err;
    }
};

std::vector<std::string> splitPath(LPCSTR sub)
{
    std::vector<std::string> parts;
    if (!sub)
        return parts;
    std::string cur;
    for (const char *p = sub;; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
            if (!*p)
                break;
        } else {
            cur.push_back(*p);
        }
    }
    return parts;
}

bool keyExists(std::int64_t id)
{
    sqlite3_stmt *st = statement("SELECT 1 FROM keys WHERE id = ?");
    if (!st)
        return false;
    sqlite3_bind_int64(st, 1, id);
    return sqlite3_step(st) == SQLITE_ROW;
}

LONG baseId(HKEY h, std::int64_t *id)
{
    for (const Root &r : kRoots) {
        if (r.handle == h) {
            *id = r.id;
            return ERROR_SUCCESS;
        }
    }
    auto *k = reinterpret_cast<OpenKey *>(h);
    if (!h || !g_store.handles.count(k))
        return fail(ERROR_INVALID_HANDLE, "not an open registry key");
    if (!keyExists(k->id))
        return fail(ERROR_KEY_DELETED, "the key was deleted");
    *id = k->id;
    return ERROR_SUCCESS;
}

LONG stepError(sqlite3_stmt *st, const char *what)
{
    (void)st;
    return mapError(sqlite3_errcode(g_store.db), what);
}

// Denied when the key or any key above it is protected.
LONG checkWritable(std::int64_t id)
{
    for (std::int64_t cur = id; cur != 0;) {
        sqlite3_stmt *st = statement("SELECT parent, protected FROM keys WHERE id = ?");
        if (!st)
            return stepError(st, "reading a key");
        sqlite3_bind_int64(st, 1, cur);
        const int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE ? fail(ERROR_KEY_DELETED, "the key was deleted")
                                     : stepError(st, "reading a key");
        if (sqlite3_column_int(st, 1))
            return fail(ERROR_ACCESS_DENIED, "the key or one above it may not be changed");
        cur = sqlite3_column_int64(st, 0);
    }
    return ERROR_SUCCESS;
}

LONG resolve(HKEY h, LPCSTR sub, bool create, std::int64_t *out, bool *created)
{
    std::int64_t id = 0;
    LONG err = baseId(h, &id);
    if (err != ERROR_SUCCESS)
        return err;
    if (created)
        *created = false;
    for (const std::string &name : splitPath(sub)) {
        if (name.size() > 255)
            return fail(ERROR_INVALID_PARAMETER, "key name longer than 255 characters");
        sqlite3_stmt *st = statement("SELECT id FROM keys WHERE parent = ? AND name = ?");
        if (!st)
            return stepError(st, "finding a key");
        sqlite3_bind_int64(st, 1, id);
        sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            id = sqlite3_column_int64(st, 0);
            continue;
        }
        if (rc != SQLITE_DONE)
            return stepError(st, "finding a key");
        if (!create)
            return fail(ERROR_FILE_NOT_FOUND, "no key " + name);
        if ((err = checkWritable(id)) != ERROR_SUCCESS)
            return err;
        sqlite3_stmt *ins = statement("INSERT INTO keys(parent, name) VALUES(?, ?)");
        if (!ins)
            return stepError(ins, "creating a key");
        sqlite3_bind_int64(ins, 1, id);
        sqlite3_bind_text(ins, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(ins) != SQLITE_DONE)
            return stepError(ins, "creating a key");
        id = sqlite3_last_insert_rowid(g_store.db);
        if (created)
            *created = true;
    }
    *out = id;
    return ERROR_SUCCESS;
}

HKEY newHandle(std::int64_t id)
{
    auto *k = new OpenKey{id};
    g_store.handles.insert(k);
    return reinterpret_cast<HKEY>(k);
}

bool isStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

LONG setValue(std::int64_t key, const char *name, DWORD type, const BYTE *data, DWORD cb)
{
    LONG err = checkWritable(key);
    if (err != ERROR_SUCCESS)
        return err;
    // Strings are kept without their terminator; queries give it back.
    if (isStringType(type))
        while (cb > 0 && data[cb - 1] == 0)
            --cb;
    sqlite3_stmt *st = statement("INSERT OR REPLACE INTO vals(key, name, type, data)"
                                 " VALUES(?, ?, ?, ?)");
    if (!st)
        return stepError(st, "setting a value");
    sqlite3_bind_int64(st, 1, key);
    sqlite3_bind_text(st, 2, name ? name : "", -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 3, static_cast<int>(type));
    sqlite3_bind_blob(st, 4, cb ? static_cast<const void *>(data) : "", static_cast<int>(cb),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(st) != SQLITE_DONE)
        return stepError(st, "setting a value");
    return ERROR_SUCCESS;
}

struct Value
{
    DWORD type = REG_NONE;
    std::string data;
};

LONG getValue(std::int64_t key, const char *name, Value *v)
{
    sqlite3_stmt *st = statement("SELECT type, data FROM vals WHERE key = ? AND name = ?");
    if (!st)
        return stepError(st, "reading a value");
    sqlite3_bind_int64(st, 1, key);
    sqlite3_bind_text(st, 2, name ? name : "", -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE)
        return fail(ERROR_FILE_NOT_FOUND, std::string("no value ") + (name && *name ? name : "@"));
    if (rc != SQLITE_ROW)
        return stepError(st, "reading a value");
    v->type = static_cast<DWORD>(sqlite3_column_int(st, 0));
    const void *blob = sqlite3_column_blob(st, 1);
    v->data.assign(static_cast<const char *>(blob),
                   static_cast<std::size_t>(sqlite3_column_bytes(st, 1)));
    if (isStringType(v->type))
        v->data.push_back('\0');
    return ERROR_SUCCESS;
}

LONG copyOut(const std::string &data, BYTE *out, DWORD *cb)
{
    const DWORD need = static_cast<DWORD>(data.size());
    if (!cb)
        return out ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!out) {
        *cb = need;
        return ERROR_SUCCESS;
    }
    if (*cb < need) {
        *cb = need;
        return ERROR_MORE_DATA;
    }
    std::memcpy(out, data.data(), need);
    *cb = need;
    return ERROR_SUCCESS;
}

// Every key of the subtree of id, id first.
LONG subtree(std::int64_t id, std::vector<std::int64_t> *ids)
{
    sqlite3_stmt *st = statement("WITH RECURSIVE sub(id) AS (SELECT ? UNION ALL SELECT k.id FROM"
                                 " keys k JOIN sub ON k.parent = sub.id) SELECT sub.id, k.protected"
                                 " FROM sub JOIN keys k ON k.id = sub.id");
    if (!st)
        return stepError(st, "reading a key tree");
    sqlite3_bind_int64(st, 1, id);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        if (sqlite3_column_int(st, 1))
            return fail(ERROR_ACCESS_DENIED, "a key in the tree may not be changed");
        ids->push_back(sqlite3_column_int64(st, 0));
    }
    return rc == SQLITE_DONE ? ERROR_SUCCESS : stepError(st, "reading a key tree");
}

LONG deleteKeys(const std::vector<std::int64_t> &ids, bool includeFirst)
{
    for (std::size_t i = includeFirst ? 0 : 1; i < ids.size(); ++i) {
        sqlite3_stmt *v = statement("DELETE FROM vals WHERE key = ?");
        if (!v)
            return stepError(v, "deleting values");
        sqlite3_bind_int64(v, 1, ids[i]);
        if (sqlite3_step(v) != SQLITE_DONE)
            return stepError(v, "deleting values");
        sqlite3_stmt *k = statement("DELETE FROM keys WHERE id = ?");
        if (!k)
            return stepError(k, "deleting a key");
        sqlite3_bind_int64(k, 1, ids[i]);
        if (sqlite3_step(k) != SQLITE_DONE)
            return stepError(k, "deleting a key");
    }
    return ERROR_SUCCESS;
}

LONG enumName(const char *sql, std::int64_t key, DWORD index, std::string *name)
{
    sqlite3_stmt *st = statement(sql);
    if (!st)
        return stepError(st, "listing");
    sqlite3_bind_int64(st, 1, key);
    sqlite3_bind_int64(st, 2, index);
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (rc != SQLITE_ROW)
        return stepError(st, "listing");
    name->assign(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    return ERROR_SUCCESS;
}

const char *kEnumKeys = "SELECT name FROM keys WHERE parent = ? ORDER BY name LIMIT 1 OFFSET ?";
const char *kEnumValues = "SELECT name FROM vals WHERE key = ? ORDER BY name LIMIT 1 OFFSET ?";

LONG copyName(const std::string &name, LPSTR out, DWORD *cch)
{
    if (!out || !cch)
        return ERROR_INVALID_PARAMETER;
    if (*cch < name.size() + 1)
        return ERROR_MORE_DATA;
    std::memcpy(out, name.c_str(), name.size() + 1);
    *cch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// Opens the file and finds an existing key, for the calls that only read.
LONG findKey(HKEY hKey, LPCSTR lpSubKey, std::int64_t *id)
{
    const LONG err = ensureOpen();
    return err != ERROR_SUCCESS ? err : resolve(hKey, lpSubKey, false, id, nullptr);
}

// The name at index among a key's sub-keys (kEnumKeys) or values (kEnumValues).
LONG nameAt(HKEY hKey, const char *sql, DWORD index, std::int64_t *id, std::string *name)
{
    const LONG err = findKey(hKey, nullptr, id);
    return err != ERROR_SUCCESS ? err : enumName(sql, *id, index, name);
}

LONG done(LONG err)
{
    if (err == ERROR_SUCCESS)
        t_lastError.clear();
    return err;
}

// A call that changes one key, as one unit: the key is found (or made), then body changes it.
template <class Body>
LONG changeKey(HKEY hKey, LPCSTR lpSubKey, bool create, Body body)
{
    Guard lock;
    Scope scope;
    if (scope.status != ERROR_SUCCESS)
        return scope.status;
    std::int64_t id = 0;
    LONG err = resolve(hKey, lpSubKey, create, &id, nullptr);
    if (err == ERROR_SUCCESS)
        err = body(id);
    return done(scope.done(err));
}

} // namespace

extern "C" LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, void *,
                                PHKEY phkResult, DWORD *lpdwDisposition)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Guard lock;
    Scope scope;
    if (scope.status != ERROR_SUCCESS)
        return scope.status;
    std::int64_t id = 0;
    bool created = false;
    const LONG err = scope.done(resolve(hKey, lpSubKey, true, &id, &created));
    if (err != ERROR_SUCCESS)
        return err;
    *phkResult = newHandle(id);
    if (lpdwDisposition)
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return done(ERROR_SUCCESS);
}

extern "C" LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, phkResult,
                           nullptr);
}

extern "C" LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    Guard lock;
    std::int64_t id = 0;
    LONG err = findKey(hKey, lpSubKey, &id);
    if (err != ERROR_SUCCESS)
        return err;
    *phkResult = newHandle(id);
    return done(ERROR_SUCCESS);
}

extern "C" LONG RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    return RegOpenKeyExA(hKey, lpSubKey, 0, KEY_ALL_ACCESS, phkResult);
}

extern "C" LONG RegCloseKey(HKEY hKey)
{
    for (const Root &r : kRoots)
        if (r.handle == hKey)
            return ERROR_SUCCESS;
    Guard lock;
    auto *k = reinterpret_cast<OpenKey *>(hKey);
    if (!g_store.handles.erase(k))
        return ERROR_INVALID_HANDLE;
    delete k;
    return ERROR_SUCCESS;
}

extern "C" LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                               const BYTE *lpData, DWORD cbData)
{
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    return changeKey(hKey, nullptr, false, [&](std::int64_t id) -> LONG {
        return setValue(id, lpValueName, dwType, lpData, cbData);
    });
}

extern "C" LONG RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData, DWORD)
{
    if (dwType != REG_SZ || !lpData)
        return ERROR_INVALID_PARAMETER;
    return changeKey(hKey, lpSubKey, true, [&](std::int64_t id) -> LONG {
        return setValue(id, nullptr, REG_SZ, reinterpret_cast<const BYTE *>(lpData),
                        static_cast<DWORD>(std::strlen(lpData)));
    });
}

extern "C" LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD *, DWORD *lpType,
                                 BYTE *lpData, DWORD *lpcbData)
{
    Guard lock;
    std::int64_t id = 0;
    LONG err = findKey(hKey, nullptr, &id);
    if (err != ERROR_SUCCESS)
        return err;
    Value v;
    if ((err = getValue(id, lpValueName, &v)) != ERROR_SUCCESS)
        return err;
    if (lpType)
        *lpType = v.type;
    return done(copyOut(v.data, lpData, lpcbData));
}

extern "C" LONG RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG *lpcbData)
{
    Guard lock;
    std::int64_t id = 0;
    LONG err = findKey(hKey, lpSubKey, &id);
    if (err != ERROR_SUCCESS)
        return err;
    Value v;
    err = getValue(id, nullptr, &v);
    if (err == ERROR_FILE_NOT_FOUND)
        v.data = std::string(1, '\0'); // a key without a default value reads as empty
    else if (err != ERROR_SUCCESS)
        return err;
    else if (!isStringType(v.type))
        return fail(ERROR_INVALID_PARAMETER, "the default value is not text");
    DWORD cb = lpcbData ? static_cast<DWORD>(*lpcbData) : 0;
    err = copyOut(v.data, reinterpret_cast<BYTE *>(lpData), lpcbData ? &cb : nullptr);
    if (lpcbData)
        *lpcbData = static_cast<LONG>(cb);
    return done(err);
}

extern "C" LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    return changeKey(hKey, nullptr, false, [&](std::int64_t id) -> LONG {
        LONG err = checkWritable(id);
        if (err != ERROR_SUCCESS)
            return err;
        sqlite3_stmt *st = statement("DELETE FROM vals WHERE key = ? AND name = ?");
        if (!st)
            return stepError(st, "deleting a value");
        sqlite3_bind_int64(st, 1, id);
        sqlite3_bind_text(st, 2, lpValueName ? lpValueName : "", -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) != SQLITE_DONE)
            return stepError(st, "deleting a value");
        return sqlite3_changes(g_store.db) == 0 ? fail(ERROR_FILE_NOT_FOUND, "no such value")
                                                : ERROR_SUCCESS;
    });
}

namespace {

LONG deleteKey(HKEY hKey, LPCSTR lpSubKey, bool tree)
{
    Guard lock;
    Scope scope;
    if (scope.status != ERROR_SUCCESS)
        return scope.status;
    std::int64_t id = 0;
    LONG err = resolve(hKey, lpSubKey, false, &id, nullptr);
    const bool wholeKey = !splitPath(lpSubKey).empty();
    if (err == ERROR_SUCCESS && wholeKey && id <= 3)
        err = fail(ERROR_ACCESS_DENIED, "a root key cannot be deleted");
    if (err == ERROR_SUCCESS)
        err = checkWritable(id);
    std::vector<std::int64_t> ids;
    if (err == ERROR_SUCCESS)
        err = subtree(id, &ids);
    if (err == ERROR_SUCCESS && !tree && ids.size() > 1)
        err = fail(ERROR_ACCESS_DENIED, "the key has sub-keys");
    if (err == ERROR_SUCCESS && !tree && !wholeKey)
        err = fail(ERROR_INVALID_PARAMETER, "no key named to delete");
    if (err == ERROR_SUCCESS) {
        err = deleteKeys(ids, wholeKey);
        if (err == ERROR_SUCCESS && !wholeKey) {
            // RegDeleteTree without a sub-key empties the key: its values go too.
            sqlite3_stmt *st = statement("DELETE FROM vals WHERE key = ?");
            sqlite3_bind_int64(st, 1, id);
            if (sqlite3_step(st) != SQLITE_DONE)
                err = stepError(st, "deleting values");
        }
    }
    return done(scope.done(err));
}

} // namespace

extern "C" LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    return deleteKey(hKey, lpSubKey, false);
}

extern "C" LONG RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey)
{
    return deleteKey(hKey, lpSubKey, true);
}

extern "C" LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD *lpcchName, DWORD *,
                              LPSTR, DWORD *, void *)
{
    Guard lock;
    std::int64_t id = 0;
    std::string name;
    LONG err = nameAt(hKey, kEnumKeys, dwIndex, &id, &name);
    if (err != ERROR_SUCCESS)
        return err;
    return done(copyName(name, lpName, lpcchName));
}

extern "C" LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, DWORD *lpcchValueName,
                              DWORD *, DWORD *lpType, BYTE *lpData, DWORD *lpcbData)
{
    Guard lock;
    std::int64_t id = 0;
    std::string name;
    LONG err = nameAt(hKey, kEnumValues, dwIndex, &id, &name);
    if (err != ERROR_SUCCESS)
        return err;
    if ((err = copyName(name, lpValueName, lpcchValueName)) != ERROR_SUCCESS)
        return err;
    Value v;
    if ((err = getValue(id, name.c_str(), &v)) != ERROR_SUCCESS)
        return err;
    if (lpType)
        *lpType = v.type;
    return done(copyOut(v.data, lpData, lpcbData));
}

// A thread's transaction keeps the store to itself until it ends, so that another thread's
// writes never land inside it (and never vanish with its rollback).
thread_local int t_transactions = 0;

extern "C" LONG PlatformRegBeginTransaction()
{
    g_mutex.lock();
    LONG err;
    {
        Guard lock;
        err = done(beginScope());
    }
    if (err == ERROR_SUCCESS)
        ++t_transactions;
    else
        g_mutex.unlock();
    return err;
}

extern "C" LONG PlatformRegEndTransaction(BOOL bCommit)
{
    if (t_transactions == 0)
        return fail(ERROR_INVALID_PARAMETER, "no registry transaction of this thread to end");
    LONG err;
    {
        Guard lock;
        err = done(endScope(bCommit != FALSE));
    }
    --t_transactions;
    g_mutex.unlock();
    return err;
}

extern "C" LONG PlatformRegProtectKey(HKEY hKey, LPCSTR lpSubKey, BOOL bDeny)
{
    return changeKey(hKey, lpSubKey, false, [&](std::int64_t id) -> LONG {
        sqlite3_stmt *st = statement("UPDATE keys SET protected = ? WHERE id = ?");
        if (!st)
            return stepError(st, "protecting a key");
        sqlite3_bind_int(st, 1, bDeny ? 1 : 0);
        sqlite3_bind_int64(st, 2, id);
        return sqlite3_step(st) == SQLITE_DONE ? ERROR_SUCCESS : stepError(st, "protecting a key");
    });
}

namespace platform {

std::string registryPath()
{
    return currentPath();
}

std::string registryLastError()
{
    return t_lastError;
}

RegistryTransaction::RegistryTransaction()
    : m_status(PlatformRegBeginTransaction())
{}

RegistryTransaction::~RegistryTransaction()
{
    if (m_status == ERROR_SUCCESS)
        PlatformRegEndTransaction(m_commit ? TRUE : FALSE);
}

bool regReadString(HKEY root, const std::string &subKey, const char *valueName, std::string *out)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD cb = 0;
    bool ok = RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &cb) == ERROR_SUCCESS
              && isStringType(type);
    if (ok) {
        std::string buf(cb, '\0');
        ok = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(&buf[0]),
                              &cb)
             == ERROR_SUCCESS;
        if (ok)
            out->assign(buf.c_str());
    }
    RegCloseKey(key);
    return ok;
}

LONG regWriteString(HKEY root, const std::string &subKey, const char *valueName,
                    const std::string &value)
{
    HKEY key = nullptr;
    LONG err
        = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS)
        return err;
    err = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return err;
}

namespace {

std::string quoted(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

std::string hexBytes(const std::string &data)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(data[i]));
        if (i)
            out += ",";
        out += buf;
    }
    return out;
}

std::string valueText(const Value &v)
{
    switch (v.type) {
    case REG_SZ:
        return quoted(v.data.substr(0, v.data.size() - 1));
    case REG_DWORD:
        if (v.data.size() == 4) {
            std::uint32_t d;
            std::memcpy(&d, v.data.data(), 4);
            char buf[20];
            std::snprintf(buf, sizeof buf, "dword:%08x", d);
            return buf;
        }
        break;
    case REG_BINARY:
        return "hex:" + hexBytes(v.data);
    default:
        break;
    }
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(v.type));
    return prefix + hexBytes(v.data);
}

LONG exportTree(std::int64_t id, const std::string &path, std::string *out)
{
    *out += "[" + path + "]\n";
    std::vector<std::string> values;
    for (DWORD i = 0;; ++i) {
        std::string name;
        const LONG err = enumName(kEnumValues, id, i, &name);
        if (err == ERROR_NO_MORE_ITEMS)
            break;
        if (err != ERROR_SUCCESS)
            return err;
        values.push_back(name);
    }
    // The default value has the empty name, so it sorts first.
    for (const std::string &name : values) {
        Value v;
        const LONG err = getValue(id, name.c_str(), &v);
        if (err != ERROR_SUCCESS)
            return err;
        *out += (name.empty() ? std::string("@") : quoted(name)) + "=" + valueText(v) + "\n";
    }
    *out += "\n";
    for (DWORD i = 0;; ++i) {
        std::string name;
        LONG err = enumName(kEnumKeys, id, i, &name);
        if (err == ERROR_NO_MORE_ITEMS)
            break;
        if (err != ERROR_SUCCESS)
            return err;
        std::int64_t child = 0;
        sqlite3_stmt *st = statement("SELECT id FROM keys WHERE parent = ? AND name = ?");
        sqlite3_bind_int64(st, 1, id);
        sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) != SQLITE_ROW)
            return stepError(st, "reading a key");
        child = sqlite3_column_int64(st, 0);
        if ((err = exportTree(child, path + "\\" + name, out)) != ERROR_SUCCESS)
            return err;
    }
    return ERROR_SUCCESS;
}

} // namespace

LONG exportRegistryKey(HKEY root, const std::string &subKey, std::string *out)
{
    const char *rootName = nullptr;
    for (const Root &r : kRoots)
        if (r.handle == root)
            rootName = r.name;
    if (!rootName || !out)
        return ERROR_INVALID_PARAMETER;
    Guard lock;
    LONG err = ensureOpen();
    if (err != ERROR_SUCCESS)
        return err;
    // One read transaction, so that the tree is seen as of one moment; it needs no write lock,
    // so a registry we may only read can still be shown.
    const bool own = g_store.depth == 0;
    if (own && exec("BEGIN DEFERRED") != SQLITE_OK)
        return mapError(sqlite3_errcode(g_store.db), "reading the registry");
    struct EndRead
    {
        bool own;
        ~EndRead()
        {
            if (!own)
                return;
            for (auto &st : g_store.statements)
                sqlite3_reset(st.second);
            exec("COMMIT");
        }
    } endRead{own};
    std::int64_t id = 0;
    err = resolve(root, subKey.c_str(), false, &id, nullptr);
    if (err != ERROR_SUCCESS)
        return err;
    // Stored names, not the spelling asked for.
    std::string path;
    for (std::int64_t cur = id; cur != 0;) {
        sqlite3_stmt *st = statement("SELECT parent, name FROM keys WHERE id = ?");
        sqlite3_bind_int64(st, 1, cur);
        if (sqlite3_step(st) != SQLITE_ROW)
            return stepError(st, "reading a key");
        const std::string name = reinterpret_cast<const char *>(sqlite3_column_text(st, 1));
        path = path.empty() ? name : name + "\\" + path;
        cur = sqlite3_column_int64(st, 0);
    }
    std::string text = "Windows Registry Editor Version 5.00\n\n";
    err = exportTree(id, path, &text);
    if (err != ERROR_SUCCESS)
        return err;
    *out = text;
    return done(ERROR_SUCCESS);
}

} // namespace platform
