// SPDX-License-Identifier: MIT
#pragma once

#include <varnex/varnex_global.h>

#include <cstdint>

namespace KvSdk {
class ISdkControl;
} // namespace KvSdk

namespace DCM {

// Result codes of the component's operations. Other negative values come from the SDK.
constexpr int kRealErrGeneral = -7001;
constexpr int kRealErrParam = -7002;
constexpr int kRealErrNoModule = -7003;

// Implemented by hosts. Every call arrives on the component's queue thread while its listener
// lock is held, so an implementation must not call AddListener, RemoveListener or UnInit of the
// same component. Results are not looked at.
class IRealStreamListener
{
public:
    // Keeps the first slot of the table so that the later entries stay in place; never called.
    virtual int Reserved1() { return 0; }
    virtual int OnOpenVideo(int result, int id, std::intptr_t owner) = 0;
    virtual int OnCloseVideo(int result, int id, std::intptr_t owner) = 0;
    // Keeps the fourth slot; never called.
    virtual int Reserved4() { return 0; }
    virtual int OnReconnect(int result, int originalId, int newId, std::intptr_t owner) = 0;
    virtual int OnFirstFrame(int result, int id, std::intptr_t owner) = 0;
    virtual int OnOpenDelay(int id, std::intptr_t owner) = 0;
    virtual int OnOpenTimeout(int id, std::intptr_t owner) = 0;
    virtual int OnOpenFailed(int value, int id) = 0;

protected:
    // Listeners belong to the host; the library never destroys one.
    IRealStreamListener() = default;
    IRealStreamListener(const IRealStreamListener &) = default;
    IRealStreamListener &operator=(const IRealStreamListener &) = default;
    ~IRealStreamListener() = default;
};

class VARNEX_EXPORT IRealStreamComponent
{
public:
    IRealStreamComponent();
    IRealStreamComponent(const IRealStreamComponent &);
    IRealStreamComponent &operator=(const IRealStreamComponent &);
    virtual ~IRealStreamComponent();

    virtual int Init(KvSdk::ISdkControl *control) = 0;
    virtual int SetReconnectInterval(int intervalMs) = 0;
    virtual int SetConnectParams(int connectParam1, int connectParam2) = 0;
    virtual int OpenVideo(const char *sourceId, int mode, std::intptr_t target,
                          std::intptr_t context, std::intptr_t owner, int channelMode, int channel)
        = 0;
    virtual int CloseVideo(int id) = 0;
    virtual int AddListener(IRealStreamListener *listener, std::intptr_t owner) = 0;
    virtual int RemoveListener(IRealStreamListener *listener, std::intptr_t owner) = 0;
    virtual int IsReady() = 0;
    virtual int ReopenVideo(int id, const char *sourceId, int mode, std::intptr_t target,
                            std::intptr_t context, std::intptr_t owner)
        = 0;
    virtual int UnInit() = 0;
};

// The factory a host makes first. It owns the one component it hands out and destroys it with
// itself; copies share that component, which goes with the last factory that holds it.
class VARNEX_EXPORT CRealStreamInstance
{
public:
    CRealStreamInstance();
    CRealStreamInstance(const CRealStreamInstance &other);
    CRealStreamInstance &operator=(const CRealStreamInstance &other);
    virtual ~CRealStreamInstance();

    IRealStreamComponent *CreateRealStreamInstance();

private:
    IRealStreamComponent *m_component = nullptr;
};

} // namespace DCM
