// SPDX-License-Identifier: MIT
// What the tests of controls share: a host's property bag, and the check of a control's drawing.
#pragma once

#include "platform/olesite.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace ControlTestKit {

// A host's property bag that holds numbers.
class Bag : public IPropertyBag
{
public:
    std::map<std::u16string, LONG> values;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **ppv) override
    {
        *ppv = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *v, void *) override
    {
        auto it = values.find(name);
        if (it == values.end())
            return E_INVALIDARG;
        v->vt = VT_I4;
        v->lVal = it->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT *v) override
    {
        if (v->vt != VT_I4)
            return E_INVALIDARG;
        values[name] = v->lVal;
        return S_OK;
    }
};

// The control paints its background colour over exactly the bounds it is given. Call it under
// ASSERT_NO_FATAL_FAILURE.
inline void expectDrawFillsTheBounds(IViewObject *view)
{
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateCompatibleBitmap(dc, 40, 30);
    SelectObject(dc, bitmap);
    const RECT bounds{5, 5, 25, 15};
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, dc, &bounds), S_OK);
    EXPECT_EQ(GetPixel(dc, 5, 5), COLORREF(0x00E1D2CF));
    EXPECT_EQ(GetPixel(dc, 24, 14), COLORREF(0x00E1D2CF));
    EXPECT_EQ(GetPixel(dc, 25, 15), RGB(0, 0, 0)) << "nothing outside the bounds";
    DeleteDC(dc);
    DeleteObject(bitmap);
}

} // namespace ControlTestKit
