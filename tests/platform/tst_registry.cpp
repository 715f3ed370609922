// SPDX-License-Identifier: MIT
// The registry calls on their own file, and the binary forms read back from damaged bytes.
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/typelib.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {

class Registry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        setenv("PLATFORM_REGISTRY", m_dir.filePath("r.sqlite").toUtf8().constData(), 1);
    }
    void TearDown() override { unsetenv("PLATFORM_REGISTRY"); }
    QTemporaryDir m_dir;
};

std::string read(const std::string &key, const char *value)
{
    std::string out;
    return platform::regReadString(HKEY_CLASSES_ROOT, key, value, &out) ? out : "<none>";
}

TEST_F(Registry, KeysAndValuesRoundTripWithoutRegardToCase)
{
    HKEY k = nullptr;
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "A\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &k, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
    const DWORD dword = 0x1234;
    ASSERT_EQ(RegSetValueExA(k, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&dword), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>("x\"y\\z"), 6),
              ERROR_SUCCESS);
    RegCloseKey(k);

    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "a\\b\\c", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &again, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
    DWORD type = 0;
    DWORD got = 0;
    DWORD size = 4;
    EXPECT_EQ(
        RegQueryValueExA(again, "NUMBER", nullptr, &type, reinterpret_cast<BYTE *>(&got), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(got, dword);
    char small[3];
    size = sizeof small;
    EXPECT_EQ(
        RegQueryValueExA(again, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(small), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u) << "the size needed, terminator included";
    EXPECT_EQ(RegQueryValueExA(again, "missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    char name[64];
    DWORD cch = sizeof name;
    HKEY a = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "A", &a), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyExA(a, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "B");
    cch = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(a, 1, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    // A key with sub-keys goes only as a tree; an open handle to a deleted key says so.
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "A"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(again, "Number", nullptr, &type, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(again), ERROR_INVALID_HANDLE);
    RegCloseKey(a);
    EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "A", &a), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "A"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ExportEscapesAndListsInNameOrder)
{
    ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "K\\b", nullptr, "back\\slash \"q\""),
              ERROR_SUCCESS);
    ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "K\\A", "Name", "v"), ERROR_SUCCESS);
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "K", &k), ERROR_SUCCESS);
    const BYTE bin[] = {0, 0xff};
    ASSERT_EQ(RegSetValueExA(k, "bin", 0, REG_BINARY, bin, 2), ERROR_SUCCESS);
    RegCloseKey(k);
    std::string text;
    ASSERT_EQ(platform::exportRegistryKey(HKEY_CLASSES_ROOT, "k", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_CLASSES_ROOT\\K]\n\"bin\"=hex:00,ff\n\n"
                    "[HKEY_CLASSES_ROOT\\K\\A]\n\"Name\"=\"v\"\n\n"
                    "[HKEY_CLASSES_ROOT\\K\\b]\n@=\"back\\\\slash \\\"q\\\"\"\n\n");
    EXPECT_EQ(platform::exportRegistryKey(HKEY_CLASSES_ROOT, "missing", &text),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ScopesCommitOrRollBackAsAWhole)
{
    {
        platform::RegistryTransaction outer;
        ASSERT_EQ(outer.status(), ERROR_SUCCESS);
        ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "Kept", nullptr, "1"), ERROR_SUCCESS);
        {
            platform::RegistryTransaction inner;
            ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "Dropped", nullptr, "2"),
                      ERROR_SUCCESS);
        } // not committed
        outer.commit();
    }
    EXPECT_EQ(read("Kept", nullptr), "1");
    EXPECT_EQ(read("Dropped", nullptr), "<none>");
    {
        platform::RegistryTransaction outer;
        ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "Kept", nullptr, "3"), ERROR_SUCCESS);
    }
    EXPECT_EQ(read("Kept", nullptr), "1");
    EXPECT_EQ(PlatformRegEndTransaction(TRUE), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, AnotherThreadsWritesStayOutOfATransaction)
{
    std::atomic<bool> started{false};
    std::thread writer;
    {
        platform::RegistryTransaction tx;
        ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "Mine", nullptr, "x"), ERROR_SUCCESS);
        writer = std::thread([&started] {
            started = true;
            for (int i = 0; i < 20; ++i)
                platform::regWriteString(HKEY_CLASSES_ROOT, "Theirs\\" + std::to_string(i), nullptr,
                                         "y");
        });
        while (!started)
            std::this_thread::yield();
    } // rolled back: only our own write goes
    writer.join();
    EXPECT_EQ(read("Mine", nullptr), "<none>");
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(read("Theirs\\" + std::to_string(i), nullptr), "y");
}

TEST_F(Registry, AProtectedKeyRefusesEveryChangeBelowIt)
{
    ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "P\\Child", nullptr, "old"),
              ERROR_SUCCESS);
    ASSERT_EQ(PlatformRegProtectKey(HKEY_CLASSES_ROOT, "P", TRUE), ERROR_SUCCESS);
    EXPECT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "P\\Child", nullptr, "new"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "P\\Other", nullptr, "x"),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "P\\Child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, nullptr), ERROR_ACCESS_DENIED)
        << "emptying the root would take the protected key with it";
    EXPECT_EQ(read("P\\Child", nullptr), "old");
    ASSERT_EQ(PlatformRegProtectKey(HKEY_CLASSES_ROOT, "P", FALSE), ERROR_SUCCESS);
    EXPECT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "P\\Child", nullptr, "new"),
              ERROR_SUCCESS);
}

TEST_F(Registry, FollowsTheVariableToAnotherFile)
{
    ASSERT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "Here", nullptr, "1"), ERROR_SUCCESS);
    setenv("PLATFORM_REGISTRY", m_dir.filePath("other.sqlite").toUtf8().constData(), 1);
    EXPECT_EQ(platform::registryPath(), m_dir.filePath("other.sqlite").toStdString());
    EXPECT_EQ(read("Here", nullptr), "<none>");
    setenv("PLATFORM_REGISTRY", m_dir.filePath("missing-dir/r.sqlite").toUtf8().constData(), 1);
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "X", &k), ERROR_CANTOPEN);
    EXPECT_NE(platform::registryLastError().find("missing-dir"), std::string::npos);
}

TEST(RegistryDefault, LivesInTheUsersDataDirectory)
{
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    unsetenv("PLATFORM_REGISTRY");
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", home.path().toUtf8().constData(), 1);
    const std::string path
        = home.filePath(".local/share/norvane/platform-registry.sqlite").toStdString();
    EXPECT_EQ(platform::registryPath(), path);
    EXPECT_EQ(platform::regWriteString(HKEY_CLASSES_ROOT, "Default", nullptr, "1"), ERROR_SUCCESS);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(path)));
    setenv("HOME", oldHome.constData(), 1);
}

// Every shortened copy of a valid binary form is refused, none read out of bounds.
TEST(BinaryForms, EveryCutCopyIsRefused)
{
    platform::TypeLibModel m;
    m.name = "Lib";
    m.helpString = "帮助";
    platform::TypeLibType t;
    t.name = "_D";
    t.funcs.push_back({"F", 1, VT_I4, {{"p", VT_BSTR}}, "方法"});
    m.types.push_back(t);
    const std::string lib = platform::encodeTypeLib(m);
    platform::TypeLibModel back;
    ASSERT_EQ(platform::decodeTypeLib(lib, &back), S_OK);
    EXPECT_EQ(back.helpString, "帮助");
    EXPECT_EQ(back.types.at(0).funcs.at(0).helpString, "方法");
    for (std::size_t n = 0; n < lib.size(); ++n)
        EXPECT_NE(platform::decodeTypeLib(lib.substr(0, n), &back), S_OK) << n;

    const std::string res
        = platform::encodeResources({{"#6", "#1", "text"}, {"TYPELIB", "#1", lib}});
    std::vector<platform::ResourceEntry> entries;
    ASSERT_TRUE(platform::decodeResources(res, &entries));
    for (std::size_t n = 0; n < res.size(); ++n)
        EXPECT_FALSE(platform::decodeResources(res.substr(0, n), &entries)) << n;

    platform::DialogTemplate d;
    d.caption = "c";
    d.items.push_back({"STATIC", "t", -1, 1, 2, 3, 4, 5, 6});
    const std::string dlg = platform::encodeDialog(d);
    ASSERT_TRUE(platform::decodeDialog(dlg, &d));
    for (std::size_t n = 0; n < dlg.size(); ++n)
        EXPECT_FALSE(platform::decodeDialog(dlg.substr(0, n), &d)) << n;

    platform::VersionInfo v;
    v.strings.push_back({"080403a8", {{"InternalName", "x.ocx"}}});
    v.translations.push_back({0x804, 936});
    const std::string ver = platform::encodeVersion(v);
    ASSERT_TRUE(platform::decodeVersion(ver, &v));
    for (std::size_t n = 0; n < ver.size(); ++n)
        EXPECT_FALSE(platform::decodeVersion(ver.substr(0, n), &v)) << n;
}

} // namespace
