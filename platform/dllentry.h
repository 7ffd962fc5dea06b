// The module side of a filter module. Include this in exactly one source file of the module,
// which (or another file of the module) defines
//     CFactoryTemplate g_Templates[] = {...};
//     int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
// and the module's own exports, usually
//     STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
//     STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }
// This file supplies DllGetClassObject, DllCanUnloadNow and AMovieDllRegisterServer2. The module's
// counts live here, inside the module, so that each module answers DllCanUnloadNow for itself.
#pragma once

#include "platform/streams.h"

extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

namespace {
tarvelo::streams::ModuleState g_tarveloModuleState;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    try {
        return tarvelo::streams::getClassObject(g_Templates, g_cTemplates, &g_tarveloModuleState, clsid, riid, ppv);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllCanUnloadNow() { return tarvelo::streams::canUnloadNow(&g_tarveloModuleState); }

HRESULT AMovieDllRegisterServer2(BOOL doRegister) {
    try {
        return tarvelo::streams::registerServer(g_Templates, g_cTemplates, static_cast<const void*>(g_Templates),
                                                doRegister);
    } catch (...) {
        return E_UNEXPECTED;
    }
}
