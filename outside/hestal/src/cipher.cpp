// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>
#include <openssl/evp.h>

#include <memory>

namespace Hestal {

namespace {

// The library's own key and IV. Anything enciphered here is readable only with these.
constexpr unsigned char kKey[32] = {
    0x3b, 0x91, 0x5e, 0xc4, 0x07, 0xd2, 0x68, 0xaf, 0x14, 0x7c, 0xe9, 0x30, 0x85, 0x4a, 0xf6, 0x1d,
    0xa2, 0x5b, 0x0e, 0xc7, 0x39, 0x64, 0xdb, 0x82, 0x4f, 0x13, 0xb8, 0x76, 0xe0, 0x2d, 0x95, 0x6a};
constexpr unsigned char kIv[16] = {0xc1, 0x08, 0x7f, 0x53, 0x2e, 0x9a, 0x64, 0xbd,
                                   0x17, 0xf2, 0x45, 0x8c, 0xd9, 0x30, 0x6b, 0xa4};
constexpr int kBlock = 16;

struct CtxDeleter
{
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter>;

// One pass through the cipher; false on any failure, with out left unspecified.
bool run(bool encrypt, const QByteArray &in, QByteArray &out)
{
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return false;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, kKey, kIv, encrypt ? 1 : 0) != 1)
        return false;
    out.resize(in.size() + kBlock);
    auto *dst = reinterpret_cast<unsigned char *>(out.data());
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), dst, &written,
                         reinterpret_cast<const unsigned char *>(in.constData()), in.size())
        != 1)
        return false;
    int tail = 0;
    if (EVP_CipherFinal_ex(ctx.get(), dst + written, &tail) != 1)
        return false;
    out.resize(written + tail);
    return true;
}

} // namespace

ERR_CODE AES_Encrypt(const QByteArray &in, QByteArray &out)
{
    if (!run(true, in, out)) {
        out.clear();
        return ERR_CIPHER;
    }
    return ERR_OK;
}

void AES_Decrypt(const QByteArray &in, QByteArray &out)
{
    if (in.isEmpty() || in.size() % kBlock != 0 || !run(false, in, out))
        out.clear();
}

} // namespace Hestal
