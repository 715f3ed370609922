// SPDX-License-Identifier: MIT
#pragma once

#include <brevant/simsdk.h>

#include <QString>
#include <QVector>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace Olvane {

// How a simulated camera answers when a stream of it is opened.
enum class CameraKind {
    Quick,   // opens at once and shows frames
    Slow,    // opens, but its first frame comes after several seconds
    Flaky,   // the first opens fail; a later reopen comes up
    Offline, // the SDK reports the open failed and no frame ever comes
};

struct Camera
{
    QString name;
    std::int64_t device = 0;
    int channel = 1;
    CameraKind kind = CameraKind::Quick;
    int failures = 0; // Flaky: how many opens fail before one comes up

    // "<device>$<site>$<channel>", as the stream manager reads a source.
    QByteArray sourceId() const;
};

// A few dozen cameras of every kind, the same list on every run.
QVector<Camera> demoCameras(int count);

// Plays the cameras behind the simulated SDK: it watches the SDK's calls and answers each open
// and close with the events a real device would send, on the SDK's own threads, with delays.
class CameraNetwork
{
public:
    CameraNetwork(KvSdk::SimSdk &sdk, const QVector<Camera> &cameras);
    ~CameraNetwork();
    CameraNetwork(const CameraNetwork &) = delete;
    CameraNetwork &operator=(const CameraNetwork &) = delete;

    // Ends the watching thread; events not yet sent are dropped.
    void stop();

private:
    struct Pending
    {
        enum Kind { OpenResult, FirstFrame, OpenFailed, Closed } kind;
        int streamId;
        int result;
    };

    void run();
    void answer(const KvSdk::SimCall &call, std::int64_t nowMs);
    void schedule(std::int64_t atMs, Pending event);

    KvSdk::SimSdk &m_sdk;
    std::map<std::int64_t, Camera> m_byDevice;
    std::map<std::int64_t, int> m_attempts;
    std::multimap<std::int64_t, Pending> m_due;
    std::size_t m_seenCalls = 0;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace Olvane
