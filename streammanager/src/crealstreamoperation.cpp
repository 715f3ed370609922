// SPDX-License-Identifier: MIT
#include "crealstreamoperation.h"

#include "crealstream.h"

namespace DCM {

CRealStreamOperation::CRealStreamOperation()
    : m_engine(new CRealStream)
{}

// Dropping the only reference destroys the engine, which stops its threads first.
CRealStreamOperation::~CRealStreamOperation() = default;

int CRealStreamOperation::Init(KvSdk::ISdkControl *control)
{
    if (!m_engine || !control)
        return kRealErrGeneral;
    return m_engine->Init(control);
}

int CRealStreamOperation::SetReconnectInterval(int intervalMs)
{
    return m_engine ? m_engine->SetReconnectInterval(intervalMs) : kRealErrGeneral;
}

int CRealStreamOperation::SetConnectParams(int connectParam1, int connectParam2)
{
    return m_engine ? m_engine->SetConnectParams(connectParam1, connectParam2) : kRealErrGeneral;
}

int CRealStreamOperation::OpenVideo(const char *sourceId, int mode, std::intptr_t target,
                                    std::intptr_t context, std::intptr_t owner, int channelMode,
                                    int channel)
{
    if (!m_engine)
        return kRealErrGeneral;
    return m_engine->OpenVideo(sourceId, mode, target, context, owner, channelMode, channel);
}

int CRealStreamOperation::CloseVideo(int id)
{
    return m_engine ? m_engine->CloseVideo(id) : kRealErrGeneral;
}

int CRealStreamOperation::AddListener(IRealStreamListener *listener, std::intptr_t owner)
{
    return m_engine ? m_engine->AddListener(listener, owner) : kRealErrGeneral;
}

int CRealStreamOperation::RemoveListener(IRealStreamListener *listener, std::intptr_t owner)
{
    if (!m_engine || !listener)
        return kRealErrGeneral;
    return m_engine->RemoveListener(listener, owner);
}

int CRealStreamOperation::IsReady()
{
    return m_engine ? m_engine->IsReady() : kRealErrGeneral;
}

int CRealStreamOperation::ReopenVideo(int id, const char *sourceId, int mode, std::intptr_t target,
                                      std::intptr_t context, std::intptr_t owner)
{
    if (!m_engine)
        return kRealErrGeneral;
    return m_engine->ReopenVideo(id, sourceId, mode, target, context, owner);
}

int CRealStreamOperation::UnInit()
{
    return m_engine ? m_engine->UnInit() : kRealErrGeneral;
}

} // namespace DCM
