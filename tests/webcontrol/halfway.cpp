// SPDX-License-Identifier: MIT
// Registers (or with -u unregisters) a module inside a registry transaction, says "halfway" on
// its output and waits, so that a test can kill it before the transaction ends.
#include "platform/objects.h"
#include "platform/registry.h"

#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char **argv)
{
    const bool unregister = argc == 3 && std::strcmp(argv[1], "-u") == 0;
    if (argc != 2 && !unregister)
        return 2;
    void *h = dlopen(argv[argc - 1], RTLD_NOW | RTLD_LOCAL);
    if (!h)
        return 3;
    auto entry = reinterpret_cast<LPFNREGISTERSERVER>(
        dlsym(h, unregister ? "DllUnregisterServer" : "DllRegisterServer"));
    if (!entry)
        return 4;
    platform::RegistryTransaction tx;
    if (tx.status() != ERROR_SUCCESS)
        return 5;
    const HRESULT hr = entry();
    std::printf("halfway 0x%08X\n", static_cast<unsigned>(hr));
    std::fflush(stdout);
    // The test kills us here; should it not, we give up after a while without committing.
    std::this_thread::sleep_for(std::chrono::seconds(30));
    return 6;
}
