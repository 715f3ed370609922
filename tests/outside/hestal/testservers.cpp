// SPDX-License-Identifier: MIT
#include "testservers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace testing_servers {

namespace {

KeyPtr makeKey()
{
    return KeyPtr(EVP_EC_gen("P-256"));
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

CertPtr makeCert(EVP_PKEY *subjectKey, const std::string &commonName, X509 *issuer,
                 EVP_PKEY *issuerKey, long serial)
{
    CertPtr cert(X509_new());
    if (!cert)
        return nullptr;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), subjectKey);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509 *signer = issuer ? issuer : cert.get();
    bool ok = true;
    if (!issuer) {
        ok = addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE")
             && addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign")
             && addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    } else {
        ok = addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE")
             && addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature")
             && addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth")
             && addExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1")
             && addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    }
    if (!ok || X509_sign(cert.get(), issuerKey, EVP_sha256()) == 0)
        return nullptr;
    return cert;
}

} // namespace

KeyPair makeCa(const std::string &commonName)
{
    KeyPair pair;
    pair.key = makeKey();
    if (pair.key)
        pair.cert = makeCert(pair.key.get(), commonName, nullptr, pair.key.get(), 1);
    return pair;
}

KeyPair makeServerCert(const KeyPair &ca)
{
    KeyPair pair;
    pair.key = makeKey();
    if (pair.key && ca.cert)
        pair.cert = makeCert(pair.key.get(), "127.0.0.1", ca.cert.get(), ca.key.get(), 2);
    return pair;
}

bool writePem(const X509 *cert, const std::string &path)
{
    FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    const bool ok = PEM_write_X509(file, cert) == 1;
    return std::fclose(file) == 0 && ok;
}

RawServer::RawServer(Behaviour behaviour)
    : m_behaviour(std::move(behaviour))
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || ::listen(fd, 4) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ::close(fd);
        return;
    }
    m_listenFd = fd;
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

RawServer::~RawServer()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

void RawServer::run()
{
    while (!m_stopping) {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const int client = ::accept(m_listenFd, nullptr, nullptr);
        if (client < 0)
            continue;
        // Read the request head; a GET has no body.
        std::string head;
        char buffer[4096];
        for (int round = 0; round < 100 && head.find("\r\n\r\n") == std::string::npos; ++round) {
            pollfd cpfd{client, POLLIN, 0};
            if (::poll(&cpfd, 1, 50) <= 0) {
                if (m_stopping)
                    break;
                continue;
            }
            const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            head.append(buffer, size_t(n));
        }
        m_behaviour(client, m_stopping);
        ::close(client);
    }
}

void RawServer::sendAll(int fd, const std::string &data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += size_t(n);
    }
}

void RawServer::waitForPeerClose(int fd, const std::atomic<bool> &stopping, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[256];
    while (!stopping && std::chrono::steady_clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        if (::recv(fd, buffer, sizeof(buffer), 0) <= 0)
            return;
    }
}

int unusedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

} // namespace testing_servers
