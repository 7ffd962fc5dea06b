// The smart tee and the infinite pin tee: one input, its samples copied to every connected output.
//
// Outputs offer exactly the input's media type, so the input must be connected first; a tee whose
// outputs are connected accepts on its input only that same type again.
#include "platform/graph/Builtin.h"
#include "platform/graph/ComObjects.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvelo::graph {

namespace {

class TeeFilter;

class TeeInputPin : public CBaseInputPin {
public:
    TeeInputPin(TeeFilter* tee, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    TeeFilter* tee_;
};

class TeeOutputPin : public CBaseOutputPin {
public:
    TeeOutputPin(TeeFilter* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    // Copies the sample into a buffer of our own allocator and sends it on.
    void deliverCopy(IMediaSample* sample);

private:
    TeeFilter* tee_;
};

class TeeFilter : public CBaseFilter {
public:
    TeeFilter(const TCHAR* name, REFCLSID clsid, bool growing)
        : CBaseFilter(name, nullptr, &lock_, clsid), growing_(growing) {
        HRESULT hr = S_OK;
        input_.reset(new TeeInputPin(this, &lock_, &hr));
    }

    int GetPinCount() override {
        std::lock_guard<std::mutex> l(pinsMutex_);
        return static_cast<int>(1 + outputs_.size());
    }
    CBasePin* GetPin(int n) override {
        std::lock_guard<std::mutex> l(pinsMutex_);
        if (n == 0) return input_.get();
        if (n < 0 || static_cast<size_t>(n) > outputs_.size()) return nullptr;
        return outputs_[static_cast<size_t>(n) - 1].get();
    }

    void addOutput(const std::wstring& name) {
        HRESULT hr = S_OK;
        std::lock_guard<std::mutex> l(pinsMutex_);
        names_.push_back(name);
        outputs_.emplace_back(new TeeOutputPin(this, &lock_, &hr, names_.back().c_str()));
        IncrementPinVersion();
    }

    // After an output connection: the infinite tee always keeps one free output.
    void outputConnected() {
        if (!growing_) return;
        {
            std::lock_guard<std::mutex> l(pinsMutex_);
            for (auto& p : outputs_)
                if (!p->IsConnected()) return;
        }
        addOutput(L"Output" + std::to_wstring(outputs_.size() + 1));
    }

    TeeInputPin* input() { return input_.get(); }

    // Runs fn on every connected output, on the streaming thread.
    template <class Fn>
    void forEachConnectedOutput(Fn fn) {
        std::vector<TeeOutputPin*> targets;
        {
            std::lock_guard<std::mutex> l(pinsMutex_);
            for (auto& p : outputs_)
                if (p->IsConnected()) targets.push_back(p.get());
        }
        for (TeeOutputPin* p : targets) fn(p);
    }

    bool anyOutputConnected(CMediaType* type) {
        std::lock_guard<std::mutex> l(pinsMutex_);
        for (auto& p : outputs_)
            if (p->IsConnected()) {
                if (type) *type = p->CurrentMediaType();
                return true;
            }
        return false;
    }

private:
    CCritSec lock_;
    bool growing_;
    std::mutex pinsMutex_;
    std::unique_ptr<TeeInputPin> input_;
    std::vector<std::unique_ptr<TeeOutputPin>> outputs_;
    std::vector<std::wstring> names_;  // pin names live as long as the pins
};

TeeInputPin::TeeInputPin(TeeFilter* tee, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(NAME("Tee input"), tee, lock, phr, L"Input"), tee_(tee) {}

HRESULT TeeInputPin::CheckMediaType(const CMediaType* mt) {
    if (!mt || !mt->IsValid()) return VFW_E_TYPE_NOT_ACCEPTED;
    CMediaType outputType;
    if (tee_->anyOutputConnected(&outputType) && !(outputType == *mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT TeeInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    // One branch refusing a sample does not stop the others, nor the source; a throw on the way
    // is the tee's error.
    return guardStreaming(tee_, "tee", [&] {
        tee_->forEachConnectedOutput([&](TeeOutputPin* out) { out->deliverCopy(sample); });
    });
}

HRESULT TeeInputPin::EndOfStream() {
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    tee_->forEachConnectedOutput([](TeeOutputPin* out) { out->DeliverEndOfStream(); });
    return S_OK;
}

HRESULT TeeInputPin::BeginFlush() {
    HRESULT hr = CBaseInputPin::BeginFlush();
    tee_->forEachConnectedOutput([](TeeOutputPin* out) { out->DeliverBeginFlush(); });
    return hr;
}

HRESULT TeeInputPin::EndFlush() {
    tee_->forEachConnectedOutput([](TeeOutputPin* out) { out->DeliverEndFlush(); });
    return CBaseInputPin::EndFlush();
}

HRESULT TeeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    CBasePin::NewSegment(start, stop, rate);
    tee_->forEachConnectedOutput([&](TeeOutputPin* out) { out->DeliverNewSegment(start, stop, rate); });
    return S_OK;
}

TeeOutputPin::TeeOutputPin(TeeFilter* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name)
    : CBaseOutputPin(NAME("Tee output"), tee, lock, phr, name), tee_(tee) {}

HRESULT TeeOutputPin::CheckMediaType(const CMediaType* mt) {
    TeeInputPin* in = tee_->input();
    if (!in->IsConnected()) return VFW_E_NOT_CONNECTED;
    if (!mt || !(in->CurrentMediaType() == *mt)) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT TeeOutputPin::GetMediaType(int position, CMediaType* mt) {
    if (position < 0) return E_INVALIDARG;
    TeeInputPin* in = tee_->input();
    if (position > 0 || !in->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    *mt = in->CurrentMediaType();
    return S_OK;
}

HRESULT TeeOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    const CMediaType& type = tee_->input()->CurrentMediaType();
    LONG size = static_cast<LONG>(type.GetSampleSize());
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        size = std::max<LONG>(size, static_cast<LONG>(DIBSIZE(reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader)));
    IMemAllocator* upstream = nullptr;
    if (SUCCEEDED(tee_->input()->GetAllocator(&upstream)) && upstream) {
        ALLOCATOR_PROPERTIES props{};
        if (SUCCEEDED(upstream->GetProperties(&props))) size = std::max(size, props.cbBuffer);
        upstream->Release();
    }
    return setBufferSize(allocator, request, size, 2);
}

HRESULT TeeOutputPin::CompleteConnect(IPin* receivePin) {
    HRESULT hr = CBaseOutputPin::CompleteConnect(receivePin);
    if (SUCCEEDED(hr)) tee_->outputConnected();
    return hr;
}

void TeeOutputPin::deliverCopy(IMediaSample* sample) {
    IMediaSample* copy = nullptr;
    if (FAILED(GetDeliveryBuffer(&copy, nullptr, nullptr, 0)) || !copy) return;
    const SampleHold hold(copy);
    BYTE* src = nullptr;
    BYTE* dst = nullptr;
    sample->GetPointer(&src);
    copy->GetPointer(&dst);
    LONG length = std::min(sample->GetActualDataLength(), copy->GetSize());
    if (src && dst && length > 0) std::memcpy(dst, src, static_cast<size_t>(length));
    copy->SetActualDataLength(length > 0 ? length : 0);
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timed = sample->GetTime(&start, &stop);
    if (timed == S_OK) copy->SetTime(&start, &stop);
    else if (timed == VFW_S_NO_STOP_TIME) copy->SetTime(&start, nullptr);
    copy->SetSyncPoint(sample->IsSyncPoint() == S_OK);
    copy->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
    copy->SetPreroll(sample->IsPreroll() == S_OK);
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        copy->SetMediaType(changed);
        DeleteMediaType(changed);
    }
    Deliver(copy);
}

class SmartTee : public TeeFilter {
public:
    SmartTee() : TeeFilter(NAME("Smart tee"), CLSID_SmartTee, false) {
        addOutput(L"Capture");
        addOutput(L"Preview");
    }
};

class InfTee : public TeeFilter {
public:
    InfTee() : TeeFilter(NAME("Infinite pin tee"), CLSID_InfTee, true) { addOutput(L"Output1"); }
};

}  // namespace

CUnknown* createSmartTee(LPUNKNOWN, HRESULT*) { return new SmartTee(); }
CUnknown* createInfTee(LPUNKNOWN, HRESULT*) { return new InfTee(); }

}  // namespace tarvelo::graph
