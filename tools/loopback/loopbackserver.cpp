// SPDX-License-Identifier: MIT
#include "loopbackserver.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace norvane {

struct LoopbackServer::Impl
{
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> listening_done{false};
    int port = 0;
};

LoopbackServer::LoopbackServer()
    : d(std::make_unique<Impl>())
{}

LoopbackServer::~LoopbackServer()
{
    if (!d->thread.joinable())
        return;
    // stop() reaches only a server that is already listening; a thread that has not got there yet
    // would listen for ever, so ask until it has left.
    while (!d->listening_done) {
        d->server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    d->thread.join();
}

bool LoopbackServer::mount(const std::string &prefix, const std::string &dir)
{
    return d->server.set_mount_point(prefix, dir);
}

void LoopbackServer::page(const std::string &path, const std::string &html)
{
    d->server.Get(path, [html](const httplib::Request &, httplib::Response &res) {
        res.set_content(html, "text/html");
    });
}

bool LoopbackServer::start()
{
    d->port = d->server.bind_to_any_port("127.0.0.1");
    if (d->port <= 0)
        return false;
    d->thread = std::thread([this] {
        d->server.listen_after_bind();
        d->listening_done = true;
    });
    return true;
}

int LoopbackServer::port() const
{
    return d->port;
}

std::string LoopbackServer::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(d->port) + path;
}

} // namespace norvane
