// SPDX-License-Identifier: MIT
// What registration writes, what unregistration leaves, and how failures end, with the registry
// read back as the registration tool prints it.
#include "cathelp.h"
#include "platform/creation.h"
#include "registryfixture.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <functional>

namespace {

const std::string kCtrl = "{A31A557D-B3C0-46BB-B237-CA8B7E0C8EEC}";
const std::string kPage = "{C0C04AA8-B1A1-43E2-8B8E-A7AF9F6D66DF}";
const std::string kLib = "{8742C5F9-02E6-4B42-857F-F213A4DFBF99}";
const std::string kScripting = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
const std::string kInitializing = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

std::string modulePath()
{
    return QFileInfo(QStringLiteral(TESSEL_MODULE)).canonicalFilePath().toStdString();
}

std::string key(const std::string &path, const std::string &values = {})
{
    return "[HKEY_CLASSES_ROOT\\" + path + "]\n" + values + "\n";
}

std::string implemented(const std::vector<std::string> &cats)
{
    if (cats.empty())
        return {};
    std::string out = key("CLSID\\" + kCtrl + "\\Implemented Categories");
    for (const std::string &c : cats)
        out += key("CLSID\\" + kCtrl + "\\Implemented Categories\\" + c);
    return out;
}

// The control's class key: its own values and the categories recorded before them.
std::string controlTree(const std::string &module, const std::vector<std::string> &cats)
{
    const std::string c = "CLSID\\" + kCtrl;
    return kHeader + key(c, "@=\"TesselDll Control\"\n") + key(c + "\\Control") + implemented(cats)
           + key(c + "\\InprocServer32", "@=\"" + module + "\"\n\"ThreadingModel\"=\"Apartment\"\n")
           + key(c + "\\Insertable") + key(c + "\\MiscStatus", "@=\"0\"\n")
           + key(c + "\\MiscStatus\\1", "@=\"131473\"\n")
           + key(c + "\\ProgID", "@=\"TESSELDLL.TesselDllCtrl.1\"\n")
           + key(c + "\\ToolboxBitmap32", "@=\"" + module + ", 1\"\n")
           + key(c + "\\TypeLib", "@=\"" + kLib + "\"\n") + key(c + "\\Version", "@=\"1.0\"\n");
}

std::string pageTree(const std::string &module)
{
    const std::string p = "CLSID\\" + kPage;
    return kHeader + key(p, "@=\"TesselDll Property Page\"\n")
           + key(p + "\\InprocServer32", "@=\"" + module + "\"\n");
}

std::string progIdTree()
{
    const std::string p = "TESSELDLL.TesselDllCtrl.1";
    return kHeader + key(p, "@=\"TesselDll Control\"\n")
           + key(p + "\\CLSID", "@=\"" + kCtrl + "\"\n") + key(p + "\\Insertable");
}

std::string categoryTree(const std::string &catid, const char *text)
{
    return kHeader
           + key("Component Categories\\" + catid, std::string("\"409\"=\"") + text + "\"\n");
}

const char kScriptingText[] = "Controls that are safely scriptable";
const char kInitializingText[] = "Controls safely initializable from persistent data";

class Registration : public RegistryFixture
{};

TEST_F(Registration, WritesExactlyTheKeysOfBothClassesTheCategoriesAndTheTypeLibrary)
{
    const ToolRun run = regsvr({QStringLiteral(TESSEL_MODULE)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string m = modulePath();
    EXPECT_EQ(exported("CLSID\\" + kCtrl), controlTree(m, {kScripting, kInitializing}));
    EXPECT_EQ(exported("CLSID\\" + kPage), pageTree(m));
    EXPECT_EQ(exported("TESSELDLL.TesselDllCtrl.1"), progIdTree());
    EXPECT_EQ(exported("TESSELDLL.TesselDllPropPage.1"), "") << "the page has no ProgID key";
    EXPECT_EQ(exported("Component Categories\\" + kScripting),
              categoryTree(kScripting, kScriptingText));
    EXPECT_EQ(exported("Component Categories\\" + kInitializing),
              categoryTree(kInitializing, kInitializingText));

    const std::string lib = "TypeLib\\" + kLib + "\\1.0";
    const std::string dir = m.substr(0, m.rfind('/'));
    EXPECT_EQ(exported(lib), kHeader + key(lib, "@=\"TesselDll ActiveX 控件模块\"\n")
                                 + key(lib + "\\409")
                                 + key(lib + "\\409\\win64", "@=\"" + m + "\"\n")
                                 + key(lib + "\\FLAGS", "@=\"2\"\n")
                                 + key(lib + "\\HELPDIR", "@=\"" + dir + "\"\n"));
    for (const std::pair<std::string, std::string> &i :
         {std::make_pair(std::string("{EA87F568-3E19-4248-A32A-09203398C24A}"),
                         std::string("_DTesselDll")),
          std::make_pair(std::string("{131E0CDF-5CBF-4EB0-9A0E-9293264854A4}"),
                         std::string("_DTesselDllEvents"))}) {
        const std::string k = "Interface\\" + i.first;
        const std::string proxy = "@=\"{00020420-0000-0000-C000-000000000046}\"\n";
        EXPECT_EQ(exported(k),
                  kHeader + key(k, "@=\"" + i.second + "\"\n") + key(k + "\\ProxyStubClsid", proxy)
                      + key(k + "\\ProxyStubClsid32", proxy)
                      + key(k + "\\TypeLib", "@=\"" + kLib + "\"\n\"Version\"=\"1.0\"\n"));
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir) + "/TesselDll.hlp"))
        << "the help file is only named";
}

TEST_F(Registration, TwiceGivesTheSameContentAndUnregistrationKeepsOnlyTheCategoryDefinitions)
{
    ASSERT_EQ(regsvr({QStringLiteral(TESSEL_MODULE)}).exitCode, 0);
    const std::string once = exported("");
    ASSERT_EQ(regsvr({QStringLiteral(TESSEL_MODULE)}).exitCode, 0);
    EXPECT_EQ(exported(""), once);

    const ToolRun un = regsvr({"-u", QStringLiteral(TESSEL_MODULE)});
    ASSERT_EQ(un.exitCode, 0) << un.err;
    EXPECT_EQ(exported("CLSID\\" + kCtrl), "");
    EXPECT_EQ(exported("CLSID\\" + kPage), "");
    EXPECT_EQ(exported("TESSELDLL.TesselDllCtrl.1"), "");
    EXPECT_EQ(exported("TypeLib\\" + kLib), "");
    EXPECT_EQ(exported("Interface\\{EA87F568-3E19-4248-A32A-09203398C24A}"), "");
    EXPECT_EQ(exported("Component Categories\\" + kScripting),
              categoryTree(kScripting, kScriptingText));
    EXPECT_EQ(exported("Component Categories\\" + kInitializing),
              categoryTree(kInitializing, kInitializingText));

    // Not registered any more: a clear failure, and nothing else changes.
    const std::string before = exported("");
    const ToolRun again = regsvr({"-u", QStringLiteral(TESSEL_MODULE)});
    EXPECT_NE(again.exitCode, 0);
    EXPECT_NE(again.err.find("0x80040200 (SELFREG_E_TYPELIB)"), std::string::npos) << again.err;
    EXPECT_EQ(exported(""), before);
}

// A key that exists and may not be changed, as an access control entry would make it.
void protect(const std::string &path)
{
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, path.c_str(), &k), ERROR_SUCCESS);
    RegCloseKey(k);
    ASSERT_EQ(PlatformRegProtectKey(HKEY_CLASSES_ROOT, path.c_str(), TRUE), ERROR_SUCCESS);
}

struct Failure
{
    const char *name;
    std::function<QString(const QString &dir)> prepare; // returns the module to register
    const char *result;
    // What the control's key, the page's key and each category hold afterwards.
    std::function<std::string(const std::string &module)> control;
    bool pageWritten;
    bool scriptingDefined;
    bool initializingDefined;
};

void PrintTo(const Failure &f, std::ostream *os)
{
    *os << f.name;
}

class RegistrationFailure : public RegistryFixture, public ::testing::WithParamInterface<Failure>
{};

TEST_P(RegistrationFailure, EndsWithItsResultAndKeepsWhatEarlierStepsDid)
{
    const Failure &f = GetParam();
    const QString module = f.prepare(m_dir.path());
    const ToolRun run = regsvr({module});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find(f.result), std::string::npos) << run.err;
    const std::string m = QFileInfo(module).canonicalFilePath().toStdString();
    EXPECT_EQ(exported("CLSID\\" + kCtrl), f.control(m));
    if (f.pageWritten)
        EXPECT_EQ(exported("CLSID\\" + kPage), pageTree(m));
    else
        EXPECT_EQ(exported("CLSID\\" + kPage).find("InprocServer32"), std::string::npos);
    // The ProgID key comes with the complete control class only.
    EXPECT_EQ(exported("TESSELDLL.TesselDllCtrl.1").empty(),
              f.control(m).find("TESSELDLL.TesselDllCtrl.1") == std::string::npos);
    std::string text;
    EXPECT_EQ(platform::regReadString(HKEY_CLASSES_ROOT, "Component Categories\\" + kScripting,
                                      "409", &text),
              f.scriptingDefined);
    EXPECT_EQ(platform::regReadString(HKEY_CLASSES_ROOT, "Component Categories\\" + kInitializing,
                                      "409", &text),
              f.initializingDefined);
}

QString builtModule(const QString &)
{
    return QStringLiteral(TESSEL_MODULE);
}

std::string nothing(const std::string &)
{
    return {};
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistrationFailure,
    ::testing::Values(Failure{"type library keys unwritable",
                              [](const QString &) {
                                  protect("TypeLib");
                                  return builtModule({});
                              },
                              "0x80040200 (SELFREG_E_TYPELIB)", nothing, false, false, false},
                      Failure{"module without its resources",
                              [](const QString &dir) {
                                  const QString copy = dir + "/Tessel.so";
                                  QFile::copy(QStringLiteral(TESSEL_MODULE), copy);
                                  runTool(QStringLiteral(OBJCOPY_PROGRAM),
                                          {"--remove-section", ".platform_rsrc", copy});
                                  return copy;
                              },
                              "0x80040200 (SELFREG_E_TYPELIB)", nothing, false, false, false},
                      Failure{"first category unwritable",
                              [](const QString &) {
                                  protect("Component Categories\\" + kScripting);
                                  return builtModule({});
                              },
                              "0x80040201 (SELFREG_E_CLASS)", nothing, true, false, false},
                      Failure{"second category unwritable",
                              [](const QString &) {
                                  protect("Component Categories\\" + kInitializing);
                                  return builtModule({});
                              },
                              "0x80040201 (SELFREG_E_CLASS)",
                              [](const std::string &) {
                                  return kHeader + key("CLSID\\" + kCtrl)
                                         + implemented({kScripting});
                              },
                              true, true, false},
                      Failure{"control class key unwritable",
                              [](const QString &) {
                                  protect("CLSID\\" + kCtrl + "\\ProgID");
                                  return builtModule({});
                              },
                              "0x80040201 (SELFREG_E_CLASS)",
                              [](const std::string &) {
                                  return kHeader + key("CLSID\\" + kCtrl)
                                         + implemented({kScripting, kInitializing})
                                         + key("CLSID\\" + kCtrl + "\\ProgID");
                              },
                              true, true, true},
                      Failure{"page class key unwritable",
                              [](const QString &) {
                                  protect("CLSID\\" + kPage);
                                  return builtModule({});
                              },
                              "0x80040201 (SELFREG_E_CLASS)",
                              [](const std::string &m) {
                                  return controlTree(m, {kScripting, kInitializing});
                              },
                              false, true, true}),
    [](const ::testing::TestParamInfo<Failure> &info) {
        std::string n = info.param.name;
        for (char &c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

class Categories : public RegistryFixture
{};

TEST_F(Categories, DescriptionIsCutTo127Characters)
{
    const GUID catid = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const std::u16string longText(200, u'x');
    ASSERT_EQ(CreateComponentCategory(catid, longText.c_str()), S_OK);
    std::string stored;
    ASSERT_TRUE(platform::regReadString(HKEY_CLASSES_ROOT,
                                        "Component Categories\\" + platform::guidToString(catid),
                                        "409", &stored));
    EXPECT_EQ(stored, std::string(127, 'x'));

    // A caller that fills the whole field without a terminator is read no further than it.
    platform::ComPtr<ICatRegister> cr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatRegister, cr.putVoid()),
              S_OK);
    CATEGORYINFO info{};
    info.catid = catid;
    info.lcid = 0x0804;
    std::fill(std::begin(info.szDescription), std::end(info.szDescription), u'y');
    ASSERT_EQ(cr->RegisterCategories(1, &info), S_OK);
    ASSERT_TRUE(platform::regReadString(HKEY_CLASSES_ROOT,
                                        "Component Categories\\" + platform::guidToString(catid),
                                        "804", &stored));
    EXPECT_EQ(stored, std::string(127, 'y'));
}

// ---- The store under two writers, a damaged file, and a registration that dies half-way.

class Store : public RegistryFixture
{};

TEST_F(Store, TwoProcessesRegisteringAtOnceBothSucceed)
{
    ASSERT_EQ(regsvr({QStringLiteral(TESSEL_MODULE)}).exitCode, 0);
    const std::string expected = exported("");
    ASSERT_EQ(regsvr({"-u", QStringLiteral(TESSEL_MODULE)}).exitCode, 0);

    for (int round = 0; round < 3; ++round) {
        QProcess a;
        QProcess b;
        a.start(QStringLiteral(REGSVR_PROGRAM), {QStringLiteral(TESSEL_MODULE)});
        b.start(QStringLiteral(REGSVR_PROGRAM), {QStringLiteral(TESSEL_MODULE)});
        ASSERT_TRUE(a.waitForFinished(60000));
        ASSERT_TRUE(b.waitForFinished(60000));
        EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
        EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();
        EXPECT_EQ(exported(""), expected);
    }
}

struct Damage
{
    const char *name;
    std::function<void(const std::string &path)> apply;
    const char *result = "0x800703F1 (HRESULT_FROM_WIN32(ERROR_BADDB))";
};

void PrintTo(const Damage &d, std::ostream *os)
{
    *os << d.name;
}

class DamagedStore : public RegistryFixture, public ::testing::WithParamInterface<Damage>
{};

TEST_P(DamagedStore, GivesAClearErrorAndChangesNothing)
{
    ASSERT_EQ(regsvr({QStringLiteral(TESSEL_MODULE)}).exitCode, 0);
    GetParam().apply(m_path);
    QFile f(QString::fromStdString(m_path));
    const bool isFile = QFileInfo(f).isFile();
    QByteArray before;
    if (isFile) {
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        before = f.readAll();
        f.close();
    }

    const ToolRun reg = regsvr({QStringLiteral(TESSEL_MODULE)});
    EXPECT_NE(reg.exitCode, 0);
    EXPECT_NE(reg.err.find(GetParam().result), std::string::npos) << reg.err;
    EXPECT_NE(reg.err.find(m_path), std::string::npos) << "names the file: " << reg.err;
    const ToolRun show = regsvr({"-e", "CLSID"});
    EXPECT_NE(show.exitCode, 0);
    EXPECT_EQ(show.out, "");

    if (isFile) {
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedStore,
    ::testing::Values(Damage{"garbage",
                             [](const std::string &path) {
                                 QFile f(QString::fromStdString(path));
                                 f.open(QIODevice::WriteOnly | QIODevice::Truncate);
                                 f.write(QByteArray(8192, '\x5a'));
                             }},
                      Damage{"pages overwritten",
                             [](const std::string &path) {
                                 QFile f(QString::fromStdString(path));
                                 f.open(QIODevice::ReadWrite);
                                 const qint64 size = f.size();
                                 for (qint64 at = 4096; at + 512 <= size; at += 4096) {
                                     f.seek(at + 16);
                                     f.write(QByteArray(512, '\xff'));
                                 }
                             }},
                      Damage{"another database",
                             [](const std::string &path) {
                                 QFile::remove(QString::fromStdString(path));
                                 sqlite3 *db = nullptr;
                                 sqlite3_open(path.c_str(), &db);
                                 sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
                                 sqlite3_close(db);
                             }},
                      Damage{"a directory in its place",
                             [](const std::string &path) {
                                 QFile::remove(QString::fromStdString(path));
                                 QDir().mkpath(QString::fromStdString(path));
                             },
                             "0x800703F3 (HRESULT_FROM_WIN32(ERROR_CANTOPEN))"}),
    [](const ::testing::TestParamInfo<Damage> &info) {
        std::string n = info.param.name;
        for (char &c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

class HalfWay : public RegistryFixture, public ::testing::WithParamInterface<bool>
{};

// The old content: the same classes registered from another copy of the module.
TEST_P(HalfWay, AKilledRegistrationLeavesTheOldContentWhole)
{
    const bool unregistering = GetParam();
    const QString old = m_dir.filePath(QStringLiteral("old/Tessel.so"));
    QDir().mkpath(QFileInfo(old).path());
    ASSERT_TRUE(QFile::copy(QStringLiteral(TESSEL_MODULE), old));
    ASSERT_EQ(regsvr({old}).exitCode, 0);
    const std::string before = exported("");

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"),
               QFileInfo(QStringLiteral(TESSEL_MODULE)).absolutePath());
    p.setProcessEnvironment(env);
    QStringList args;
    if (unregistering)
        args << "-u";
    args << QStringLiteral(TESSEL_MODULE);
    p.start(QStringLiteral(HALFWAY_PROGRAM), args);
    ASSERT_TRUE(p.waitForReadyRead(60000));
    EXPECT_EQ(p.readLine().trimmed().toStdString(), "halfway 0x00000000");
    ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
    ASSERT_TRUE(p.waitForFinished(60000));

    EXPECT_EQ(exported(""), before);
    // And the store is usable afterwards.
    EXPECT_EQ(regsvr({QStringLiteral(TESSEL_MODULE)}).exitCode, 0);
    EXPECT_EQ(exported("CLSID\\" + kCtrl), controlTree(modulePath(), {kScripting, kInitializing}));
}

INSTANTIATE_TEST_SUITE_P(Both, HalfWay, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Unregistering" : "Registering";
                         });

TEST(Tool, MissingKeyPrintsNothingAndBadUseSaysHow)
{
    QTemporaryDir dir;
    setenv("PLATFORM_REGISTRY", dir.filePath("r.sqlite").toUtf8().constData(), 1);
    const ToolRun missing = regsvr({"-e", "CLSID\\{00000000-0000-0000-0000-000000000001}"});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_EQ(missing.out, "");
    const ToolRun none = regsvr({dir.filePath("nothing.so")});
    EXPECT_NE(none.exitCode, 0);
    EXPECT_NE(none.err.find("0x800401F8 (CO_E_DLLNOTFOUND)"), std::string::npos) << none.err;
    EXPECT_EQ(regsvr({}).exitCode, 2);
    unsetenv("PLATFORM_REGISTRY");
}

} // namespace
