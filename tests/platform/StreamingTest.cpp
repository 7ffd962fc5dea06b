// A source, a pass-through and a sink on the base classes: media type negotiation, allocator
// negotiation, streaming through a one-buffer allocator, stop and restart, and no object left.
#include "toy_filters.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace toy;

template <class T>
struct Ref {  // one reference held by the test
    T* p;
    explicit Ref(T* object) : p(object) { p->NonDelegatingAddRef(); }
    ~Ref() { p->NonDelegatingRelease(); }
    T* operator->() const { return p; }
};

const VIDEOINFOHEADER* videoInfo(const CMediaType& mt) { return reinterpret_cast<const VIDEOINFOHEADER*>(mt.Format()); }

HRESULT runAll(CBaseFilter* source, CBaseFilter* transform, CBaseFilter* sink) {
    // Downstream first, as a graph does.
    for (CBaseFilter* f : {sink, transform, source}) {
        HRESULT hr = f->Run(0);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

void stopAll(CBaseFilter* source, CBaseFilter* transform, CBaseFilter* sink) {
    for (CBaseFilter* f : {source, transform, sink}) EXPECT_EQ(f->Stop(), S_OK);
}

TEST(Streaming, NegotiatesTypesAndStreamsAcrossRestarts) {
    LONG before = tarvelo::streams::liveObjectCount();
    {
        Ref<ToySource> source(new ToySource(100));
        Ref<ToyTransform> transform(new ToyTransform);
        Ref<ToySink> sink(new ToySink);
        CBasePin* out = source->GetPin(0);
        ToyTransformInput* in = transform->input();

        // The input offers no types; the source's RGB32 is refused and its RGB24 taken.
        ASSERT_EQ(out->Connect(in, nullptr), S_OK);
        EXPECT_TRUE(*in->CurrentMediaType().Subtype() == MEDIASUBTYPE_RGB24);
        EXPECT_EQ(videoInfo(in->CurrentMediaType())->bmiHeader.biWidth, 160);
        EXPECT_TRUE(out->CurrentMediaType() == in->CurrentMediaType());
        IPin* peer = nullptr;
        ASSERT_EQ(out->ConnectedTo(&peer), S_OK);
        EXPECT_EQ(peer, static_cast<IPin*>(in));
        peer->Release();
        EXPECT_EQ(out->Connect(in, nullptr), VFW_E_ALREADY_CONNECTED);

        // The pass-through's output offers its input type; the sink takes it.
        ASSERT_EQ(transform->output()->Connect(sink->pin(), nullptr), S_OK);
        ALLOCATOR_PROPERTIES props{};
        ASSERT_NE(transform->output()->Allocator(), nullptr);
        transform->output()->Allocator()->GetProperties(&props);
        EXPECT_EQ(props.cBuffers, 1);
        EXPECT_EQ(props.cbBuffer, LONG(WIDTHBYTES(160 * 24) * 120));

        for (int run = 1; run <= 2; ++run) {
            sink->pin()->endOfStream.Reset();
            ASSERT_EQ(runAll(source.p, transform.p, sink.p), S_OK);
            ASSERT_TRUE(sink->pin()->endOfStream.Wait(20000)) << "run " << run;
            stopAll(source.p, transform.p, sink.p);
            EXPECT_EQ(sink->pin()->received, 100 * run);
            EXPECT_EQ(source->lastError, S_OK);
        }
        EXPECT_FALSE(sink->pin()->outOfOrder);
        EXPECT_FALSE(sink->pin()->missingTime);

        // Connections need stopped filters; then both sides let go.
        ASSERT_EQ(runAll(source.p, transform.p, sink.p), S_OK);
        EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
        stopAll(source.p, transform.p, sink.p);
        for (CBasePin* pin : {static_cast<CBasePin*>(in), out, static_cast<CBasePin*>(transform->output()),
                              static_cast<CBasePin*>(sink->pin())})
            EXPECT_EQ(pin->Disconnect(), S_OK);
        EXPECT_EQ(in->Disconnect(), S_FALSE);
        AM_MEDIA_TYPE mt;
        EXPECT_EQ(in->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
    }
    EXPECT_EQ(tarvelo::streams::liveObjectCount(), before);
}

TEST(Streaming, StopWhileTheSourceIsBlockedDoesNotHang) {
    LONG before = tarvelo::streams::liveObjectCount();
    {
        Ref<ToySource> source(new ToySource(1000000));
        Ref<ToyTransform> transform(new ToyTransform);
        Ref<ToySink> sink(new ToySink);
        ASSERT_EQ(source->GetPin(0)->Connect(transform->input(), nullptr), S_OK);
        ASSERT_EQ(transform->output()->Connect(sink->pin(), nullptr), S_OK);
        for (int run = 0; run < 3; ++run) {
            ASSERT_EQ(runAll(source.p, transform.p, sink.p), S_OK);
            while (sink->pin()->received < 10 * (run + 1)) std::this_thread::yield();
            stopAll(source.p, transform.p, sink.p);  // returns with the source's thread joined
        }
        for (CBasePin* pin : {source->GetPin(0), transform->GetPin(0), transform->GetPin(1), sink->GetPin(0)})
            pin->Disconnect();
    }
    EXPECT_EQ(tarvelo::streams::liveObjectCount(), before);
}

TEST(Streaming, SamplesAreRefusedWhileStoppedOrFlushing) {
    Ref<ToySource> source(new ToySource(0));
    Ref<ToySink> sink(new ToySink);
    CBaseOutputPin* out = static_cast<CBaseOutputPin*>(source->GetPin(0));
    ASSERT_EQ(out->Connect(sink->pin(), nullptr), S_OK);
    ASSERT_EQ(out->Active(), S_OK);  // commit the allocator by hand to get a sample
    IMediaSample* sample = nullptr;
    ASSERT_EQ(out->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(sink->pin()->Receive(sample), VFW_E_WRONG_STATE);
    sink->Pause();
    sink->pin()->BeginFlush();
    EXPECT_EQ(sink->pin()->Receive(sample), S_FALSE);
    sink->pin()->EndFlush();
    EXPECT_EQ(sink->pin()->Receive(sample), S_OK);
    sample->Release();
    sink->Stop();
    out->Inactive();
    out->Disconnect();
    sink->pin()->Disconnect();
}

TEST(Streaming, RefusedConnectionsLeaveBothPinsFree) {
    Ref<ToySource> source(new ToySource(0));
    Ref<ToySink> sink(new ToySink);
    CBasePin* out = source->GetPin(0);
    struct Case {
        const char* what;
        CMediaType type;
        HRESULT expected;
    };
    CMediaType partialAudio(&MEDIATYPE_Audio);
    CMediaType rgb32 = videoType(MEDIASUBTYPE_RGB32, 320, 240, 32);
    Case cases[] = {
        {"a complete type the sink refuses", rgb32, VFW_E_TYPE_NOT_ACCEPTED},
        {"a partial type no offer matches", partialAudio, VFW_E_NO_ACCEPTABLE_TYPES},
    };
    for (Case& c : cases) {
        EXPECT_EQ(out->Connect(sink->pin(), &c.type), c.expected) << c.what;
        EXPECT_FALSE(out->IsConnected()) << c.what;
        EXPECT_FALSE(sink->pin()->IsConnected()) << c.what;
    }
    EXPECT_EQ(out->Connect(source->GetPin(0), nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_FALSE(out->IsConnected());

    // A partial type picks the matching offer.
    CMediaType partialRgb24(&MEDIATYPE_Video);
    partialRgb24.SetSubtype(&MEDIASUBTYPE_RGB24);
    ASSERT_EQ(out->Connect(sink->pin(), &partialRgb24), S_OK);
    EXPECT_TRUE(*sink->pin()->CurrentMediaType().Subtype() == MEDIASUBTYPE_RGB24);
    out->Disconnect();
    sink->pin()->Disconnect();
}

TEST(Streaming, EnumeratorsFollowThePinsAndTheirTypes) {
    Ref<ToySource> source(new ToySource(0));
    IEnumPins* pins = nullptr;
    ASSERT_EQ(source->EnumPins(&pins), S_OK);
    IPin* got[2] = {nullptr, nullptr};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(2, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    PIN_INFO info;
    got[0]->QueryPinInfo(&info);
    EXPECT_STREQ(info.achName, L"Out");
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    info.pFilter->Release();
    got[0]->Release();
    source->IncrementPinVersion();
    EXPECT_EQ(pins->Next(1, got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
    pins->Reset();
    EXPECT_EQ(pins->Next(1, got, nullptr), S_OK);
    got[0]->Release();
    pins->Release();

    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(source->GetPin(0)->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* offered[3] = {};
    EXPECT_EQ(types->Next(3, offered, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_TRUE(offered[0]->subtype == MEDIASUBTYPE_RGB32);
    EXPECT_TRUE(offered[1]->subtype == MEDIASUBTYPE_RGB24);
    EXPECT_EQ(offered[1]->cbFormat, 88u);
    DeleteMediaType(offered[0]);
    DeleteMediaType(offered[1]);
    types->Release();

    IPin* found = nullptr;
    EXPECT_EQ(source->FindPin(L"Out", &found), S_OK);
    found->Release();
    EXPECT_EQ(source->FindPin(L"out", &found), VFW_E_NOT_FOUND);
}

TEST(Streaming, SeekingPassThruIsAggregatedByItsFilter) {
    LONG before = tarvelo::streams::liveObjectCount();
    {
        Ref<ToySource> source(new ToySource(0));
        Ref<ToyTransform> transform(new ToyTransform);
        IUnknown* owner = transform->GetOwner();
        IUnknown* inner = nullptr;
        ASSERT_EQ(CreatePosPassThru(owner, FALSE, transform->input(), &inner), S_OK);
        IMediaSeeking* seeking = nullptr;
        ASSERT_EQ(inner->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
        IUnknown* identity = nullptr;
        seeking->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        EXPECT_EQ(identity, owner) << "the interfaces answer for the filter";
        identity->Release();
        LONGLONG duration = 0;
        EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL) << "unconnected";
        ASSERT_EQ(source->GetPin(0)->Connect(transform->input(), nullptr), S_OK);
        EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL) << "the upstream pin does not seek";
        seeking->Release();
        EXPECT_EQ(inner->Release(), 0u);
        source->GetPin(0)->Disconnect();
        transform->input()->Disconnect();
    }
    EXPECT_EQ(tarvelo::streams::liveObjectCount(), before);
}

}  // namespace
