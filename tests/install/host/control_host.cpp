// Creates the web map control by its ProgID through the class registry and finds a method by name.
#include <platform/creation.h>

#include <cstdio>
#include <string>

int main()
{
    CoInitialize(nullptr);
    CLSID clsid;
    IDispatch *control = nullptr;
    HRESULT hr = CLSIDFromProgID(u"TESSELDLL.TesselDllCtrl.1", &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void **>(&control));
    if (SUCCEEDED(hr)) {
        std::u16string name = u"init";
        LPOLESTR names[] = {name.data()};
        DISPID id = 0;
        hr = control->GetIDsOfNames(IID_NULL, names, 1, 0x0409, &id);
        std::printf("control created, its method init is member %d\n", static_cast<int>(id));
        control->Release();
    }
    if (FAILED(hr))
        std::printf("failed: 0x%08x\n", static_cast<unsigned>(hr));
    CoFreeUnusedLibraries(); // the control's module goes once nothing holds it
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
