// Opens one stream through the simulated SDK with Varnex and waits until it is up and closed.
#include <brevant/simsdk.h>
#include <varnex/realstream.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

// Listener calls arrive on Varnex's queue thread.
class Listener final : public DCM::IRealStreamListener
{
public:
    int OnOpenVideo(int result, int id, std::intptr_t) override
    {
        return note("opened", result, id);
    }
    int OnCloseVideo(int result, int id, std::intptr_t) override
    {
        return note("closed", result, id);
    }
    int OnReconnect(int, int, int, std::intptr_t) override { return 0; }
    int OnFirstFrame(int, int, std::intptr_t) override { return 0; }
    int OnOpenDelay(int, std::intptr_t) override { return 0; }
    int OnOpenTimeout(int, std::intptr_t) override { return 0; }
    int OnOpenFailed(int, int) override { return 0; }

    bool waitFor(int count)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10),
                                  [&] { return m_events >= count; });
    }

private:
    int note(const char *what, int result, int id)
    {
        std::printf("stream %d %s, result %d\n", id, what, result);
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_events;
        m_changed.notify_all();
        return 0;
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_events = 0;
};

int main()
{
    const std::intptr_t owner = 1;
    const std::intptr_t window = 0x1000; // where the SDK would draw the picture
    KvSdk::SimSdk sdk;                   // stands in for the SDK control object of a real client
    Listener listener;
    int status = 1;
    {
        DCM::CRealStreamInstance factory; // owns the component
        DCM::IRealStreamComponent *streams = factory.CreateRealStreamInstance();
        if (!streams || streams->Init(&sdk) != 0 || streams->AddListener(&listener, owner) != 0)
            return 1;

        const int id = streams->OpenVideo("1000$0$5", 0, window, 0, owner, -1, -1);
        if (id < 0) {
            std::fprintf(stderr, "OpenVideo failed: %d\n", id);
        } else {
            sdk.EmitOpenResult(id, 0); // the SDK reports the stream up
            const bool opened = listener.waitFor(1);
            streams->CloseVideo(id);
            sdk.EmitClosed(id, 0); // and then closed
            status = opened && listener.waitFor(2) ? 0 : 1;
        }
        streams->RemoveListener(&listener, owner);
        streams->UnInit();
    }
    sdk.WaitIdle();
    return status;
}
