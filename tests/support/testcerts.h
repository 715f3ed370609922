// SPDX-License-Identifier: MIT
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QString>

#include <memory>
#include <string>

namespace TestSupport {

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
// A server certificate signed by ca for one IP address or host name.
KeyPair makeServerCert(const KeyPair &ca, const std::string &hostName = "127.0.0.1");
bool writePem(const X509 *cert, const std::string &path);
bool writeKeyPem(EVP_PKEY *key, const std::string &path);

// A CA and a server certificate signed by it, written as PEM files, for servers that take
// file names: a verifying client accepts the server once it trusts caFile.
struct TestCertificates
{
    QString caFile;
    QString certFile;
    QString keyFile;
};

bool makeTestCertificates(const QString &dir, TestCertificates &out,
                          const std::string &hostName = "127.0.0.1");

} // namespace TestSupport
