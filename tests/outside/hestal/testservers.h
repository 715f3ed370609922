// SPDX-License-Identifier: MIT
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace testing_servers {

struct X509Deleter
{
    void operator()(X509 *cert) const { X509_free(cert); }
};
struct KeyDeleter
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using CertPtr = std::unique_ptr<X509, X509Deleter>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;

struct KeyPair
{
    KeyPtr key;
    CertPtr cert;
};

// A self-signed CA certificate.
KeyPair makeCa(const std::string &commonName);
// A server certificate for 127.0.0.1 signed by ca.
KeyPair makeServerCert(const KeyPair &ca);
bool writePem(const X509 *cert, const std::string &path);

// A bare TCP server on 127.0.0.1 for answers no HTTP library would give. It serves one
// connection at a time: reads the request head, then runs the behaviour on the socket.
class RawServer
{
public:
    using Behaviour = std::function<void(int fd, const std::atomic<bool> &stopping)>;

    explicit RawServer(Behaviour behaviour);
    ~RawServer();
    RawServer(const RawServer &) = delete;
    RawServer &operator=(const RawServer &) = delete;

    int port() const { return m_port; }
    bool ok() const { return m_listenFd >= 0; }

    static void sendAll(int fd, const std::string &data);
    // Waits until the peer closes or the server stops, for at most timeoutMs.
    static void waitForPeerClose(int fd, const std::atomic<bool> &stopping, int timeoutMs);

private:
    void run();

    Behaviour m_behaviour;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int unusedPort();

} // namespace testing_servers
