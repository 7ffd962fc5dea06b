#pragma once
// The exports of a filter module. Include in exactly one source file of the module, which also
// defines the module's template table:
//     CFactoryTemplate g_Templates[] = {{name, &clsid, Filter::CreateInstance, nullptr, &setupFilter}};
//     int g_cTemplates = 1;
// No exception leaves an export: a module entry point answers E_UNEXPECTED instead.
#include "platform/streams.h"

// Declared before their definitions so that the four entry points are visible from a module that
// is otherwise built with hidden symbols.
extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow();
extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer();
extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer();

#include "platform/dllentry.h"

STDAPI DllRegisterServer() {
    try {
        return AMovieDllRegisterServer2(TRUE);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return AMovieDllRegisterServer2(FALSE);
    } catch (...) {
        return E_UNEXPECTED;
    }
}
