// SPDX-License-Identifier: MIT
#pragma once

#include <varnex/realstream.h>

#include <qrl/qrl.h>

namespace DCM {

class CRealStream;

// The component a factory hands out: a thin forwarder to its one engine.
class CRealStreamOperation : public IRealStreamComponent
{
public:
    CRealStreamOperation();
    ~CRealStreamOperation() override;

    int Init(KvSdk::ISdkControl *control) override;
    int SetReconnectInterval(int intervalMs) override;
    int SetConnectParams(int connectParam1, int connectParam2) override;
    int OpenVideo(const char *sourceId, int mode, std::intptr_t target, std::intptr_t context,
                  std::intptr_t owner, int channelMode, int channel) override;
    int CloseVideo(int id) override;
    int AddListener(IRealStreamListener *listener, std::intptr_t owner) override;
    int RemoveListener(IRealStreamListener *listener, std::intptr_t owner) override;
    int IsReady() override;
    int ReopenVideo(int id, const char *sourceId, int mode, std::intptr_t target,
                    std::intptr_t context, std::intptr_t owner) override;
    int UnInit() override;

private:
    qrl::DRefPtr<CRealStream> m_engine;
};

} // namespace DCM
