// SPDX-License-Identifier: MIT
// A host's sink for the browser control's events, counting what came and when the first document
// completed; for the process test's host and the benchmark.
#pragma once

#include "platform/oleidl.h"

#include <chrono>

struct BrowserEvents : IDispatch
{
    int completes = 0;
    int errors = 0;
    std::chrono::steady_clock::time_point firstComplete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override
    {
        *ppv = this;
        return S_OK;
    }
    // Lives on its host's stack: the counts are not its lifetime.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *,
                                     EXCEPINFO *, UINT *) override
    {
        if (id == DISPID_DOCUMENTCOMPLETE && completes++ == 0)
            firstComplete = std::chrono::steady_clock::now();
        if (id == DISPID_NAVIGATEERROR)
            ++errors;
        return S_OK;
    }
};
