#include "platform/graph/ComObjects.h"

#include <cstdio>
#include <cstring>

namespace tarvelo::graph {

HRESULT copyToTaskMemory(const std::wstring& text, LPOLESTR* out) {
    if (!out) return E_POINTER;
    const size_t bytes = (text.size() + 1) * sizeof(OLECHAR);
    *out = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*out) return E_OUTOFMEMORY;
    std::memcpy(*out, text.c_str(), bytes);
    return S_OK;
}

void reportStreamingError(CBaseFilter* filter, const char* what, HRESULT hr, const char* why) noexcept {
    std::fprintf(stderr, "%s: streaming stopped (0x%08X): %s\n", what, static_cast<unsigned>(hr), why ? why : "");
    try {
        if (filter) filter->NotifyEvent(EC_ERRORABORT, hr, 0);
    } catch (...) {
        // Not even the event could be queued; the line above stays.
    }
}

HRESULT setBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG size, LONG buffers) {
    if (size <= 0) size = 1;
    request->cBuffers = std::max(request->cBuffers, buffers);
    request->cbBuffer = std::max(request->cbBuffer, size);
    if (request->cbAlign <= 0) request->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < size || actual.cBuffers < 1 ? E_FAIL : S_OK;
}

HRESULT MonikerBase::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMoniker) return GetInterface(static_cast<IMoniker*>(this), ppv);
    if (riid == IID_IPersistStream) return GetInterface(static_cast<IPersistStream*>(this), ppv);
    if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT MonikerBase::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT MonikerBase::Reduce(IBindCtx*, DWORD, IMoniker** toLeft, IMoniker** reduced) {
    constexpr HRESULT MK_S_REDUCED_TO_SELF = TARVELO_HR(0x000401E2);
    if (!reduced) return E_POINTER;
    if (toLeft) *toLeft = nullptr;
    AddRef();
    *reduced = this;
    return MK_S_REDUCED_TO_SELF;
}

HRESULT MonikerBase::Enum(BOOL, IEnumMoniker** e) {
    if (!e) return E_POINTER;
    *e = nullptr;  // not a composite: nothing to enumerate
    return S_OK;
}

HRESULT MonikerBase::ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten, IMoniker** out) {
    if (eaten) *eaten = 0;
    return none(out);
}

std::wstring MonikerBase::displayNameOf(IMoniker* moniker) {
    LPOLESTR text = nullptr;
    std::wstring result;
    if (moniker && SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &text)) && text) result = text;
    CoTaskMemFree(text);
    return result;
}

}  // namespace tarvelo::graph
