// The running object table, item monikers and bind contexts.
//
// The table holds a reference on every registered object until it is revoked: a graph that was
// entered stays alive while it is listed, whatever its owner does. The table object itself is a
// process-wide singleton outside the live-object count.
#include "platform/graph.h"
#include "platform/graph/ComObjects.h"
#include "platform/streams.h"

#include <algorithm>
#include <cwctype>
#include <mutex>

namespace tarvelo::graph {

namespace {

constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = TARVELO_HR(0x000401E7);
constexpr HRESULT MK_E_NOTBOUND = TARVELO_HR(0x800401E9);

struct RotEntry {
    DWORD cookie;
    DWORD flags;
    IUnknown* object;
    IMoniker* name;
    std::wstring displayName;
};

bool sameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::towupper(a[i]) != std::towupper(b[i])) return false;
    return true;
}

class RunningObjectTable : public IRunningObjectTable {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IRunningObjectTable) {
            *ppv = static_cast<IRunningObjectTable*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT Register(DWORD flags, IUnknown* object, IMoniker* name, DWORD* cookie) override {
        if (!object || !name || !cookie) return E_INVALIDARG;
        std::wstring display = MonikerBase::displayNameOf(name);
        object->AddRef();
        name->AddRef();
        std::lock_guard<std::mutex> lock(mutex_);
        bool already = std::any_of(entries_.begin(), entries_.end(),
                                   [&](const RotEntry& e) { return sameName(e.displayName, display); });
        *cookie = nextCookie_++;
        if (nextCookie_ == 0) nextCookie_ = 1;
        entries_.push_back({*cookie, flags, object, name, display});
        return already ? MK_S_MONIKERALREADYREGISTERED : S_OK;
    }

    HRESULT Revoke(DWORD cookie) override {
        RotEntry entry{};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = std::find_if(entries_.begin(), entries_.end(), [&](const RotEntry& e) { return e.cookie == cookie; });
            if (it == entries_.end()) return E_INVALIDARG;
            entry = *it;
            entries_.erase(it);
        }
        // Outside the lock: the last release of a graph runs its whole tear-down.
        entry.name->Release();
        entry.object->Release();
        return S_OK;
    }

    HRESULT IsRunning(IMoniker* name) override {
        if (!name) return E_INVALIDARG;
        std::wstring display = MonikerBase::displayNameOf(name);
        std::lock_guard<std::mutex> lock(mutex_);
        for (const RotEntry& e : entries_)
            if (sameName(e.displayName, display)) return S_OK;
        return S_FALSE;
    }

    HRESULT GetObject(IMoniker* name, IUnknown** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!name) return E_INVALIDARG;
        std::wstring display = MonikerBase::displayNameOf(name);
        std::lock_guard<std::mutex> lock(mutex_);
        for (const RotEntry& e : entries_)
            if (sameName(e.displayName, display)) {
                e.object->AddRef();
                *object = e.object;
                return S_OK;
            }
        return MK_E_UNAVAILABLE;
    }

    HRESULT NoteChangeTime(DWORD cookie, FILETIME*) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const RotEntry& e : entries_)
            if (e.cookie == cookie) return S_OK;
        return E_INVALIDARG;
    }

    HRESULT GetTimeOfLastChange(IMoniker*, FILETIME*) override { return MK_E_UNAVAILABLE; }

    HRESULT EnumRunning(IEnumMoniker** enumMoniker) override {
        if (!enumMoniker) return E_POINTER;
        std::vector<IMoniker*> names;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const RotEntry& e : entries_) names.push_back(e.name);
        }
        return MonikerEnumerator::create(names, enumMoniker);
    }

    std::vector<std::string> names() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> list;
        for (const RotEntry& e : entries_) list.push_back(tarvelo::com::narrow(e.displayName.c_str()));
        return list;
    }

private:
    std::mutex mutex_;
    std::vector<RotEntry> entries_;
    DWORD nextCookie_ = 1;
};

// Never destroyed: registered objects stay reachable until the process ends.
RunningObjectTable& table() {
    static RunningObjectTable* instance = new RunningObjectTable();
    return *instance;
}

class ItemMoniker : public MonikerBase {
public:
    ItemMoniker(const std::wstring& delimiter, const std::wstring& item)
        : MonikerBase(NAME("Item moniker"), CLSID_ItemMoniker), delimiter_(delimiter), item_(item) {}

    HRESULT BindToObject(IBindCtx*, IMoniker* toLeft, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (toLeft) return E_NOTIMPL;
        IUnknown* object = nullptr;
        HRESULT hr = table().GetObject(this, &object);
        if (FAILED(hr)) return hr;
        hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT IsEqual(IMoniker* other) override {
        if (!other) return S_FALSE;
        CLSID clsid;
        if (FAILED(other->GetClassID(&clsid)) || clsid != CLSID_ItemMoniker) return S_FALSE;
        return sameName(MonikerBase::displayNameOf(other), delimiter_ + item_) ? S_OK : S_FALSE;
    }
    HRESULT Hash(DWORD* hash) override {
        if (!hash) return E_POINTER;
        DWORD h = 0;
        for (wchar_t c : item_) h = h * 31u + static_cast<DWORD>(std::towupper(c));
        *hash = h;
        return S_OK;
    }
    HRESULT IsRunning(IBindCtx*, IMoniker* toLeft, IMoniker*) override {
        if (toLeft) return E_NOTIMPL;
        return table().IsRunning(this);
    }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* displayName) override {
        return copyToTaskMemory(delimiter_ + item_, displayName);
    }
    HRESULT IsSystemMoniker(DWORD* mksys) override {
        if (!mksys) return E_POINTER;
        *mksys = 4;  // MKSYS_ITEMMONIKER
        return S_OK;
    }

private:
    std::wstring delimiter_;
    std::wstring item_;
};

class BindContext : public CUnknown, public IBindCtx {
public:
    BindContext() : CUnknown(NAME("Bind context"), nullptr) {}
    ~BindContext() override { ReleaseBoundObjects(); }
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IBindCtx) return GetInterface(static_cast<IBindCtx*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT RegisterObjectBound(IUnknown* object) override {
        if (!object) return E_INVALIDARG;
        object->AddRef();
        bound_.push_back(object);
        return S_OK;
    }
    HRESULT RevokeObjectBound(IUnknown* object) override {
        auto it = std::find(bound_.begin(), bound_.end(), object);
        if (it == bound_.end()) return MK_E_NOTBOUND;
        bound_.erase(it);
        object->Release();
        return S_OK;
    }
    HRESULT ReleaseBoundObjects() override {
        std::vector<IUnknown*> bound;
        bound.swap(bound_);
        for (IUnknown* o : bound) o->Release();
        return S_OK;
    }
    HRESULT SetBindOptions(BIND_OPTS* options) override {
        if (!options) return E_INVALIDARG;
        options_ = *options;
        return S_OK;
    }
    HRESULT GetBindOptions(BIND_OPTS* options) override {
        if (!options) return E_INVALIDARG;
        *options = options_;
        return S_OK;
    }
    HRESULT GetRunningObjectTable(IRunningObjectTable** rot) override { return ::GetRunningObjectTable(0, rot); }
    HRESULT RegisterObjectParam(LPOLESTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT GetObjectParam(LPOLESTR, IUnknown** object) override {
        if (object) *object = nullptr;
        return E_FAIL;
    }
    HRESULT EnumObjectParam(IEnumString** keys) override {
        if (keys) *keys = nullptr;
        return E_NOTIMPL;
    }
    HRESULT RevokeObjectParam(LPOLESTR) override { return E_FAIL; }

private:
    std::vector<IUnknown*> bound_;
    BIND_OPTS options_{sizeof(BIND_OPTS), 0, 0, 0};
};

}  // namespace

std::vector<std::string> runningObjectNames() { return table().names(); }

}  // namespace tarvelo::graph

extern "C" HRESULT GetRunningObjectTable(DWORD, LPRUNNINGOBJECTTABLE* rot) {
    if (!rot) return E_POINTER;
    *rot = &tarvelo::graph::table();
    return S_OK;
}

extern "C" HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, LPMONIKER* moniker) {
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    if (!item) return E_INVALIDARG;
    auto* m = new tarvelo::graph::ItemMoniker(delimiter ? delimiter : L"", item);
    m->NonDelegatingAddRef();
    *moniker = m;
    return S_OK;
}

extern "C" HRESULT CreateBindCtx(DWORD, LPBC* bc) {
    if (!bc) return E_POINTER;
    auto* ctx = new tarvelo::graph::BindContext();
    ctx->NonDelegatingAddRef();
    *bc = ctx;
    return S_OK;
}
