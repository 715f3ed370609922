// SPDX-License-Identifier: MIT
// Registration server for in-process modules of our object platform.
//   regsvr <module>       registers the module (its DllRegisterServer)
//   regsvr -u <module>    unregisters it (its DllUnregisterServer)
//   regsvr -e <key>       prints HKEY_CLASSES_ROOT\<key> and below in .reg export format
// The whole of a registration is one registry transaction: a registration that is cut short
// (the process killed) leaves the registry as it was; a module's own partial failure keeps what
// its successful steps wrote, as the module's entry point reports it.
#include "platform/creation.h"
#include "platform/objects.h"
#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void printFailure(const char *what, HRESULT hr)
{
    const char *name = PlatformResultName(hr);
    std::fprintf(stderr, "regsvr: %s failed: 0x%08X%s%s%s\n", what, static_cast<unsigned>(hr),
                 name ? " (" : "", name ? name : "", name ? ")" : "");
    const std::string detail = platform::registryLastError();
    if (!detail.empty())
        std::fprintf(stderr, "regsvr: %s\n", detail.c_str());
}

int usage()
{
    std::fprintf(stderr, "usage: regsvr <module>\n       regsvr -u <module>\n"
                         "       regsvr -e <key under HKEY_CLASSES_ROOT>\n");
    return 2;
}

int exportKey(const std::string &key)
{
    std::string text;
    const LONG err = platform::exportRegistryKey(HKEY_CLASSES_ROOT, key, &text);
    if (err == ERROR_FILE_NOT_FOUND)
        return 1; // nothing to show
    if (err != ERROR_SUCCESS) {
        printFailure("reading the registry", HRESULT_FROM_WIN32(err));
        return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

int callEntry(const std::string &module, bool registering)
{
    // The registry names modules by their full path.
    char *full = realpath(module.c_str(), nullptr);
    if (!full) {
        std::fprintf(stderr, "regsvr: no module %s\n", module.c_str());
        printFailure("loading the module", CO_E_DLLNOTFOUND);
        return 1;
    }
    const std::string path = full;
    std::free(full);
    std::string step;
    const HRESULT hr = platform::registerServer(path, !registering, &step);
    if (FAILED(hr)) {
        printFailure(step.c_str(), hr);
        return 1;
    }
    std::printf("%s %s\n", registering ? "registered" : "unregistered", path.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && argv[1][0] != '-')
        return callEntry(argv[1], true);
    if (argc == 3 && std::strcmp(argv[1], "-u") == 0)
        return callEntry(argv[2], false);
    if (argc == 3 && std::strcmp(argv[1], "-e") == 0)
        return exportKey(argv[2]);
    return usage();
}
