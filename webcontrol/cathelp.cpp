// SPDX-License-Identifier: MIT
#include "cathelp.h"

#include "platform/creation.h"

#include <algorithm>

namespace {

HRESULT categoryManager(platform::ComPtr<ICatRegister> *pcr)
{
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                            IID_ICatRegister, pcr->putVoid());
}

} // namespace

HRESULT CreateComponentCategory(CATID catid, const OLECHAR *catDescription)
{
    platform::ComPtr<ICatRegister> pcr;
    HRESULT hr = categoryManager(&pcr);
    if (FAILED(hr))
        return hr;
    CATEGORYINFO catinfo{};
    catinfo.catid = catid;
    catinfo.lcid = 0x0409;
    // The description field holds 127 characters and the terminator.
    std::size_t len = 0;
    while (catDescription && catDescription[len] && len < 127)
        ++len;
    std::copy(catDescription, catDescription + len, catinfo.szDescription);
    catinfo.szDescription[len] = 0;
    return pcr->RegisterCategories(1, &catinfo);
}

namespace {

// Records or removes one implemented category of a class.
HRESULT classCategory(REFCLSID clsid, CATID catid,
                      HRESULT (STDMETHODCALLTYPE ICatRegister::*step)(REFCLSID, ULONG, CATID[]))
{
    platform::ComPtr<ICatRegister> pcr;
    HRESULT hr = categoryManager(&pcr);
    if (SUCCEEDED(hr)) {
        CATID rgcatid[1] = {catid};
        hr = (pcr.get()->*step)(clsid, 1, rgcatid);
    }
    return hr;
}

} // namespace

HRESULT RegisterCLSIDInCategory(REFCLSID clsid, CATID catid)
{
    return classCategory(clsid, catid, &ICatRegister::RegisterClassImplCategories);
}

HRESULT UnRegisterCLSIDInCategory(REFCLSID clsid, CATID catid)
{
    return classCategory(clsid, catid, &ICatRegister::UnRegisterClassImplCategories);
}
