#pragma once
// Pieces shared by the graph runtime's COM objects: list enumerators, the moniker base, task
// memory strings and allocator sizing.
#include "platform/graph.h"
#include "platform/streams.h"

#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <vector>

namespace tarvelo::graph {

// A copy of text in task memory for the caller (freed with CoTaskMemFree).
HRESULT copyToTaskMemory(const std::wstring& text, LPOLESTR* out);

// Releases the sample however the delivery ends: a sample kept by a throw would never go back to
// its allocator, and the next GetDeliveryBuffer would wait for it for ever (Stop included).
class SampleHold {
public:
    explicit SampleHold(IMediaSample* sample) : sample_(sample) {}
    ~SampleHold() {
        if (sample_) sample_->Release();
    }
    SampleHold(const SampleHold&) = delete;
    SampleHold& operator=(const SampleHold&) = delete;

private:
    IMediaSample* sample_;
};

void reportStreamingError(CBaseFilter* filter, const char* what, HRESULT hr, const char* why) noexcept;

// Runs a streaming thread's work (or a streaming call) so that nothing it throws leaves the thread
// or a COM method: a throw becomes the filter's error, EC_ERRORABORT with E_OUTOFMEMORY or
// E_UNEXPECTED sent to its graph and a line on standard error, and is returned; else S_OK.
template <class Work>
HRESULT guardStreaming(CBaseFilter* filter, const char* what, Work work) noexcept {
    // Reported inside each handler: the exception's text lives only as long as it does.
    try {
        work();
        return S_OK;
    } catch (const std::bad_alloc&) {
        reportStreamingError(filter, what, E_OUTOFMEMORY, "out of memory");
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        reportStreamingError(filter, what, E_UNEXPECTED, e.what());
    } catch (...) {
        reportStreamingError(filter, what, E_UNEXPECTED, "unknown exception");
    }
    return E_UNEXPECTED;
}
// Asks the allocator for at least `buffers` buffers of `size` bytes; fails when it gives less.
HRESULT setBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, LONG size, LONG buffers);

// An enumerator (IEnumMoniker, IEnumFilters, ...) over a fixed list; holds a reference on each item.
template <class IEnum, class Item, const IID& iid>
class ListEnumerator : public CUnknown, public IEnum {
public:
    static HRESULT create(const std::vector<Item*>& items, IEnum** out) {
        if (!out) return E_POINTER;
        return GetInterface(static_cast<IEnum*>(new ListEnumerator(items, 0)), reinterpret_cast<void**>(out));
    }
    ~ListEnumerator() override {
        for (Item* i : items_) i->Release();
    }
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == iid) return GetInterface(static_cast<IEnum*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT Next(ULONG count, Item** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            out[n] = items_[position_++];
            out[n++]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const bool enough = count <= items_.size() - position_;
        position_ = enough ? position_ + count : items_.size();
        return enough ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnum** copy) override {
        if (!copy) return E_POINTER;
        return GetInterface(static_cast<IEnum*>(new ListEnumerator(items_, position_)), reinterpret_cast<void**>(copy));
    }

private:
    ListEnumerator(const std::vector<Item*>& items, size_t position)
        : CUnknown(NAME("List enumerator"), nullptr), items_(items), position_(position) {
        for (Item* i : items_) i->AddRef();
    }
    std::vector<Item*> items_;
    size_t position_;
};

typedef ListEnumerator<IEnumMoniker, IMoniker, IID_IEnumMoniker> MonikerEnumerator;
typedef ListEnumerator<IEnumFilters, IBaseFilter, IID_IEnumFilters> FilterEnumerator;

// The parts of IMoniker that our monikers take no part in: persistence, composition, parsing.
// A derived moniker binds, names and compares itself.
class MonikerBase : public CUnknown, public IMoniker {
public:
    MonikerBase(const TCHAR* name, REFCLSID clsid) : CUnknown(name, nullptr), clsid_(clsid) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream*) override { return E_NOTIMPL; }
    HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT Reduce(IBindCtx*, DWORD, IMoniker** toLeft, IMoniker** reduced) override;
    HRESULT ComposeWith(IMoniker*, BOOL, IMoniker** composite) override { return none(composite); }
    HRESULT Enum(BOOL, IEnumMoniker** e) override;
    HRESULT GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override { return MK_E_UNAVAILABLE; }
    HRESULT Inverse(IMoniker** inverse) override { return none(inverse); }
    HRESULT CommonPrefixWith(IMoniker*, IMoniker** prefix) override { return none(prefix); }
    HRESULT RelativePathTo(IMoniker*, IMoniker** relative) override { return none(relative); }
    HRESULT ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG* eaten, IMoniker** out) override;

    // The display name as a string ("" when it cannot be had).
    static std::wstring displayNameOf(IMoniker* moniker);

private:
    static HRESULT none(IMoniker** out) {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    CLSID clsid_;
};

}  // namespace tarvelo::graph
