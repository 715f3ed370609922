// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>

namespace Hestal {

ERR_CODE AES_Encrypt(const QByteArray &in, QByteArray &out)
{
    out = in;
    return ERR_OK;
}

void AES_Decrypt(const QByteArray &in, QByteArray &out)
{
    out = in;
}

} // namespace Hestal
