// SPDX-License-Identifier: MIT
#include "testcerts.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QDir>

#include <memory>

namespace {

struct KeyFree
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct CertFree
{
    void operator()(X509 *cert) const { X509_free(cert); }
};
struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// issuer null: self-signed.
Cert makeCertificate(EVP_PKEY *key, const char *commonName, long serial, X509 *issuer,
                     EVP_PKEY *issuerKey, bool authority)
{
    Cert cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1)
        return nullptr;
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName), -1, -1, 0);
    X509 *signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));

    bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (authority) {
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE")
             && addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always")
             && addExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE")
             && addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature")
             && addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth")
             && addExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1");
    }
    if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        return nullptr;
    return cert;
}

bool writeCert(const QString &path, X509 *cert)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_file(QFile::encodeName(path).constData(), "w"));
    return bio && PEM_write_bio_X509(bio.get(), cert) == 1;
}

bool writeKey(const QString &path, EVP_PKEY *key)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_file(QFile::encodeName(path).constData(), "w"));
    return bio
           && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

} // namespace

bool makeTestCertificates(const QString &dir, TestCertificates &out)
{
    const Key caKey(EVP_EC_gen("P-256"));
    const Key serverKey(EVP_EC_gen("P-256"));
    if (!caKey || !serverKey)
        return false;
    const Cert ca = makeCertificate(caKey.get(), "Test upgrade CA", 1, nullptr, nullptr, true);
    if (!ca)
        return false;
    const Cert server
        = makeCertificate(serverKey.get(), "127.0.0.1", 2, ca.get(), caKey.get(), false);
    if (!server)
        return false;

    out.caFile = QDir(dir).filePath("ca.pem");
    out.certFile = QDir(dir).filePath("server.pem");
    out.keyFile = QDir(dir).filePath("server.key");
    return writeCert(out.caFile, ca.get()) && writeCert(out.certFile, server.get())
           && writeKey(out.keyFile, serverKey.get());
}
