// SPDX-License-Identifier: MIT
#include "testcerts.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <QDir>
#include <QFile>

namespace TestSupport {

namespace {

struct BioDeleter
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioDeleter>;

KeyPtr makeKey()
{
    return KeyPtr(EVP_EC_gen("P-256"));
}

bool isIpAddress(const std::string &host)
{
    ASN1_OCTET_STRING *address = a2i_IPADDRESS(host.c_str());
    ASN1_OCTET_STRING_free(address);
    return address != nullptr;
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const std::string &value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext)
        return false;
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

// issuer null: a self-signed CA; otherwise a server certificate for commonName, an IP address
// or a host name.
CertPtr makeCert(EVP_PKEY *subjectKey, const std::string &commonName, X509 *issuer,
                 EVP_PKEY *issuerKey, long serial)
{
    CertPtr cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1)
        return nullptr;
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
    X509_set_pubkey(cert.get(), subjectKey);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1,
                               0);
    X509 *signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));

    bool ok = addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (!issuer) {
        ok = ok && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE")
             && addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always")
             && addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE")
             && addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature")
             && addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth")
             && addExtension(cert.get(), signer, NID_subject_alt_name,
                             (isIpAddress(commonName) ? "IP:" : "DNS:") + commonName);
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

KeyPair makeServerCert(const KeyPair &ca, const std::string &hostName)
{
    KeyPair pair;
    pair.key = makeKey();
    if (pair.key && ca.cert && ca.key)
        pair.cert = makeCert(pair.key.get(), hostName, ca.cert.get(), ca.key.get(), 2);
    return pair;
}

bool writePem(const X509 *cert, const std::string &path)
{
    const BioPtr bio(BIO_new_file(path.c_str(), "w"));
    return bio && PEM_write_bio_X509(bio.get(), cert) == 1 && BIO_flush(bio.get()) == 1;
}

bool writeKeyPem(EVP_PKEY *key, const std::string &path)
{
    const BioPtr bio(BIO_new_file(path.c_str(), "w"));
    return bio
           && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1
           && BIO_flush(bio.get()) == 1;
}

bool makeTestCertificates(const QString &dir, TestCertificates &out, const std::string &hostName)
{
    const KeyPair ca = makeCa("Test CA");
    const KeyPair server = makeServerCert(ca, hostName);
    if (!ca.cert || !server.cert)
        return false;
    out.caFile = QDir(dir).filePath("ca.pem");
    out.certFile = QDir(dir).filePath("server.pem");
    out.keyFile = QDir(dir).filePath("server.key");
    const auto name = [](const QString &path) {
        return QFile::encodeName(path).toStdString();
    };
    return writePem(ca.cert.get(), name(out.caFile))
           && writePem(server.cert.get(), name(out.certFile))
           && writeKeyPem(server.key.get(), name(out.keyFile));
}

} // namespace TestSupport
