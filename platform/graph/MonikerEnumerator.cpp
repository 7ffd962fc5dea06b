#include "platform/graph/Monikers.h"
#include "platform/streams.h"

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

namespace {

class EnumMonikers : public CUnknown, public IEnumMoniker {
public:
    EnumMonikers(const std::vector<IMoniker*>& monikers, size_t position)
        : CUnknown(NAME("Moniker enumerator"), nullptr), monikers_(monikers), position_(position) {
        for (IMoniker* m : monikers_) m->AddRef();
    }
    ~EnumMonikers() override {
        for (IMoniker* m : monikers_) m->Release();
    }
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IEnumMoniker) return GetInterface(static_cast<IEnumMoniker*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) override {
        if (!out) return E_POINTER;
        if (count > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        while (n < count && position_ < monikers_.size()) {
            out[n] = monikers_[position_++];
            out[n]->AddRef();
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const size_t left = monikers_.size() - position_;
        if (count > left) {
            position_ = monikers_.size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumMoniker** copy) override {
        if (!copy) return E_POINTER;
        auto* e = new EnumMonikers(monikers_, position_);
        e->NonDelegatingAddRef();
        *copy = e;
        return S_OK;
    }

private:
    std::vector<IMoniker*> monikers_;
    size_t position_;
};

}  // namespace

HRESULT MonikerEnumerator::create(const std::vector<IMoniker*>& monikers, IEnumMoniker** out) {
    if (!out) return E_POINTER;
    auto* e = new EnumMonikers(monikers, 0);
    e->NonDelegatingAddRef();
    *out = e;
    return S_OK;
}

}  // namespace tarvelo::graph
