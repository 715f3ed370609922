// SPDX-License-Identifier: MIT
#include "cameranetwork.h"

#include <chrono>

namespace Olvane {

namespace {

constexpr int kPollMs = 20;
// SDK error a failed open answers with.
constexpr int kOpenRefused = -2011;

std::int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const char *const kPlaces[]
    = {"Gate", "Lobby",   "Garage",  "Dock",    "Stairs",    "Yard",     "Office", "Hall",
       "Roof", "Store",   "Lab",     "Canteen", "Parking",   "Fence",    "Entry",  "Server",
       "Lift", "Archive", "Loading", "Garden",  "Reception", "Corridor", "Depot",  "Tower"};

} // namespace

QByteArray Camera::sourceId() const
{
    return QByteArray::number(qlonglong(device)) + "$1$" + QByteArray::number(channel);
}

QVector<Camera> demoCameras(int count)
{
    QVector<Camera> cameras;
    const int places = int(sizeof(kPlaces) / sizeof(kPlaces[0]));
    for (int i = 0; i < count; ++i) {
        Camera camera;
        camera.device = 1001 + i / 4;
        camera.channel = 1 + i % 4;
        camera.name = QString("%1 %2").arg(i + 1, 2, 10, QChar('0')).arg(kPlaces[i % places]);
        // Out of every eight: four quick, one slow, two flaky, one offline, spread over the
        // grid rather than in columns.
        switch ((i * 3 + i / 8) % 8) {
        case 4:
            camera.kind = CameraKind::Slow;
            break;
        case 5:
            camera.kind = CameraKind::Flaky;
            camera.failures = 1;
            break;
        case 6:
            camera.kind = CameraKind::Flaky;
            camera.failures = 2;
            break;
        case 7:
            camera.kind = CameraKind::Offline;
            break;
        default:
            camera.kind = CameraKind::Quick;
            break;
        }
        cameras.append(camera);
    }
    return cameras;
}

CameraNetwork::CameraNetwork(KvSdk::SimSdk &sdk, const QVector<Camera> &cameras)
    : m_sdk(sdk)
{
    for (const Camera &camera : cameras)
        m_byDevice[camera.device * 100 + camera.channel] = camera;
    m_thread = std::thread([this] { run(); });
}

CameraNetwork::~CameraNetwork()
{
    stop();
}

void CameraNetwork::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CameraNetwork::schedule(std::int64_t atMs, Pending event)
{
    m_due.emplace(atMs, event);
}

// Only this thread touches the schedule and the counters; the lock guards the stop flag.
void CameraNetwork::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(kPollMs), [this] { return m_stop; });
            if (m_stop)
                return;
        }
        const std::vector<KvSdk::SimCall> calls = m_sdk.Calls();
        const std::int64_t now = nowMs();
        for (; m_seenCalls < calls.size(); ++m_seenCalls)
            answer(calls[m_seenCalls], now);
        while (!m_due.empty() && m_due.begin()->first <= now) {
            const Pending event = m_due.begin()->second;
            m_due.erase(m_due.begin());
            switch (event.kind) {
            case Pending::OpenResult:
                m_sdk.EmitOpenResult(event.streamId, event.result);
                break;
            case Pending::FirstFrame:
                m_sdk.EmitFirstFrame(event.streamId);
                break;
            case Pending::OpenFailed:
                m_sdk.EmitOpenFailed(event.streamId, event.result);
                break;
            case Pending::Closed:
                m_sdk.EmitClosed(event.streamId, event.result);
                break;
            }
        }
    }
}

void CameraNetwork::answer(const KvSdk::SimCall &call, std::int64_t now)
{
    if (call.kind == KvSdk::SimCall::Close) {
        if (call.result == 0)
            schedule(now + 40, {Pending::Closed, int(call.streamId), 0});
        return;
    }
    if (call.kind != KvSdk::SimCall::Open || call.result < 0)
        return;
    const int id = call.result;
    const auto found = m_byDevice.find(call.uniqueId * 100 + call.channel);
    if (found == m_byDevice.end()) {
        schedule(now + 100, {Pending::OpenResult, id, kOpenRefused});
        return;
    }
    const Camera &camera = found->second;
    const int attempt = ++m_attempts[found->first];
    // A little spread, so that tiles do not all change in the same instant.
    const std::int64_t spread = (found->first * 37) % 300;
    switch (camera.kind) {
    case CameraKind::Quick:
        schedule(now + 100 + spread, {Pending::OpenResult, id, 0});
        schedule(now + 300 + spread, {Pending::FirstFrame, id, 0});
        break;
    case CameraKind::Slow:
        schedule(now + 200 + spread, {Pending::OpenResult, id, 0});
        schedule(now + 4300 + spread, {Pending::FirstFrame, id, 0});
        break;
    case CameraKind::Flaky:
        if (attempt <= camera.failures) {
            schedule(now + 300 + spread, {Pending::OpenResult, id, kOpenRefused});
        } else {
            schedule(now + 150 + spread, {Pending::OpenResult, id, 0});
            schedule(now + 400 + spread, {Pending::FirstFrame, id, 0});
        }
        break;
    case CameraKind::Offline:
        schedule(now + 250 + spread, {Pending::OpenResult, id, 0});
        schedule(now + 500 + spread, {Pending::OpenFailed, id, 404});
        break;
    }
}

} // namespace Olvane
