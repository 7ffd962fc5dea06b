#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "filter_harness.h"
#include "visionlib/filter/MultiPinTransformFilter.h"

using namespace harness;
using vision::MultiPinInputPin;
using vision::MultiPinOutputPin;
using vision::MultiPinTransformFilter;

namespace {

DEFINE_GUID(CLSID_PairFilter, 0x7d1a0003, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x03);

const LONG FRAME = 8 * 4 * 3;  // 8 x 4 RGB24

// Two inputs, two outputs (both fed by the first input). Each Transform records the first byte of
// what it found in every slot and writes a + b into the outputs.
class PairFilter : public MultiPinTransformFilter {
public:
    PairFilter() : MultiPinTransformFilter("pair filter", nullptr, CLSID_PairFilter, 2, 2) {}

    HRESULT CheckInputType(MultiPinInputPin* pin, const CMediaType* mt) override {
        return mt->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckOutputType(MultiPinOutputPin* pin, const CMediaType* mt) override {
        return mt->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(MultiPinOutputPin* pin, int position, CMediaType* mt) override {
        if (position < 0) return E_INVALIDARG;
        if (position > 0) return VFW_S_NO_MORE_ITEMS;
        *mt = videoType(MEDIASUBTYPE_RGB24, 8, -4, 24);
        return S_OK;
    }
    HRESULT DecideBufferSize(MultiPinOutputPin* pin, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 1;
        request->cbBuffer = FRAME;
        if (request->cbAlign <= 0) request->cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(request, &actual);
    }
    bool CreatePins() override {
        createCalls++;
        if (refusePins) return false;
        HRESULT hr = S_OK;
        inputs[0].pin = new MultiPinInputPin("in A", this, &hr, L"A");
        inputs[1].pin = new MultiPinInputPin("in B", this, &hr, L"B");
        outputs[0].pin = new MultiPinOutputPin("out 1", this, &hr, L"Out1");
        outputs[1].pin = new MultiPinOutputPin("out 2", this, &hr, L"Out2");
        return true;
    }
    struct Seen {
        int a, b;         // first byte of each input's sample, -1 for none
        bool out1, out2;  // whether each output had a buffer
    };
    HRESULT Transform() override {
        Seen s{first(inputs[0].sample), first(inputs[1].sample), outputs[0].sample != nullptr,
               outputs[1].sample != nullptr};
        seen.push_back(s);
        for (unsigned o = 0; o < 2; o++)
            if (outputs[o].sample) {
                BYTE* d = nullptr;
                outputs[o].sample->GetPointer(&d);
                d[0] = (unsigned char)((s.a < 0 ? 0 : s.a) + (s.b < 0 ? 0 : s.b) + o);
            }
        return result;
    }
    static int first(IMediaSample* s) {
        if (!s) return -1;
        BYTE* d = nullptr;
        s->GetPointer(&d);
        return d[0];
    }

    std::vector<Seen> seen;
    HRESULT result = S_OK;
    bool refusePins = false;
    int createCalls = 0;
};

// Source with pins A and B, the filter, a sink with two inputs; connect what a case asks for.
struct Rig {
    Held<TestSource> source;
    Held<PairFilter> filter;
    Held<TestSink> sink;
    SourcePin* a;
    SourcePin* b;
    SinkPin* s1;
    SinkPin* s2;

    explicit Rig(bool connectB = true, bool connectOut2 = true, LONG buffersA = 2, LONG buffersB = 2) {
        const CMediaType type = videoType(MEDIASUBTYPE_RGB24, 8, -4, 24);
        a = source->addPin(type, buffersA, FRAME);
        b = source->addPin(type, buffersB, 196);
        s1 = sink->addPin();
        s2 = sink->addPin();
        EXPECT_EQ(connect(a, filter->GetPin(0)), S_OK);
        if (connectB) {
            EXPECT_EQ(connect(b, filter->GetPin(1)), S_OK);
        }
        EXPECT_EQ(connect(filter->GetPin(2), s1), S_OK);
        if (connectOut2) {
            EXPECT_EQ(connect(filter->GetPin(3), s2), S_OK);
        }
    }
    void run() {
        EXPECT_EQ(sink->Pause(), S_OK);
        EXPECT_EQ(filter->Pause(), S_OK);
        EXPECT_EQ(source->Pause(), S_OK);
    }
    void stop() {
        source->Stop();
        filter->Stop();
        sink->Stop();
    }
    ~Rig() {
        stop();
        disconnect(a);
        disconnect(b);
        disconnect(filter->GetPin(2));
        disconnect(filter->GetPin(3));
    }
};

}  // namespace

TEST(MultiPinTransformFilter, PinsAreMadeOnFirstDemandAndCountedInOrder) {
    Held<PairFilter> filter;
    EXPECT_EQ(filter->GetPinCount(), 4);
    EXPECT_EQ(filter->createCalls, 0);
    CBasePin* in = filter->GetPin(0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(filter->createCalls, 1);
    EXPECT_EQ(in->Direction(), PINDIR_INPUT);
    EXPECT_EQ(filter->GetPin(1)->Direction(), PINDIR_INPUT);
    EXPECT_EQ(filter->GetPin(2)->Direction(), PINDIR_OUTPUT);
    EXPECT_EQ(filter->GetPin(3)->Direction(), PINDIR_OUTPUT);
    EXPECT_EQ(filter->GetPin(4), nullptr);
    EXPECT_EQ(filter->GetPin(-1), nullptr);
    EXPECT_EQ(filter->createCalls, 1);
    auto* out = static_cast<MultiPinOutputPin*>(filter->GetPin(2));
    EXPECT_EQ(filter->sourceInputOf(out), filter->GetPin(0));

    Held<PairFilter> refusing;
    refusing->refusePins = true;
    EXPECT_EQ(refusing->GetPin(0), nullptr);
    EXPECT_EQ(refusing->GetPin(2), nullptr);
}

TEST(MultiPinTransformFilter, OutputWithoutConnectedSourceRefusesAndOffersNothing) {
    Held<PairFilter> filter;
    auto* out = static_cast<MultiPinOutputPin*>(filter->GetPin(2));
    const CMediaType type = videoType(MEDIASUBTYPE_RGB24, 8, -4, 24);
    EXPECT_EQ(out->CheckMediaType(&type), E_UNEXPECTED);
    Held<TestSink> sink;
    EXPECT_TRUE(FAILED(connect(out, sink->addPin())));
    EXPECT_EQ(out->Notify(nullptr, Quality{}), E_NOTIMPL);
}

TEST(MultiPinTransformFilter, OutputPinAnswersSeekingThroughOnePassThrough) {
    Held<PairFilter> filter;
    CBasePin* out = filter->GetPin(2);
    EXPECT_EQ(out->NonDelegatingQueryInterface(IID_IMediaSeeking, nullptr), E_POINTER);
    IMediaSeeking* seeking = nullptr;
    IMediaSeeking* again = nullptr;
    IMediaPosition* position = nullptr;
    ASSERT_EQ(out->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)), S_OK);
    ASSERT_EQ(out->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&again)), S_OK);
    ASSERT_EQ(out->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position)), S_OK);
    EXPECT_EQ(seeking, again);
    // The source input has no peer to ask.
    DWORD caps = 0;
    EXPECT_EQ(seeking->GetCapabilities(&caps), E_NOTIMPL);
    position->Release();
    again->Release();
    seeking->Release();
}

// Two connected inputs: only the newest sample of each input takes part, and a cycle empties both.
TEST(MultiPinTransformFilter, NewestSampleOfEachInputIsTransformedTogether) {
    Rig rig;
    rig.run();
    EXPECT_EQ(rig.a->push(10), S_OK);
    EXPECT_TRUE(rig.filter->seen.empty());
    EXPECT_TRUE(rig.filter->holdsSample(0));
    EXPECT_EQ(rig.a->outstanding(), 1);
    EXPECT_EQ(rig.a->push(20), S_OK);
    EXPECT_EQ(rig.a->outstanding(), 1);  // the first one was let go
    EXPECT_TRUE(rig.filter->seen.empty());
    EXPECT_EQ(rig.b->push(3), S_OK);
    ASSERT_EQ(rig.filter->seen.size(), 1u);
    EXPECT_EQ(rig.filter->seen[0].a, 20);
    EXPECT_EQ(rig.filter->seen[0].b, 3);
    EXPECT_FALSE(rig.filter->holdsSample(0));
    EXPECT_FALSE(rig.filter->holdsSample(1));
    EXPECT_EQ(rig.a->outstanding(), 0);
    EXPECT_EQ(rig.b->outstanding(), 0);
    ASSERT_EQ(rig.s1->arrivals.size(), 1u);
    ASSERT_EQ(rig.s2->arrivals.size(), 1u);
    EXPECT_EQ(rig.s1->arrivals[0].first, 23);
    EXPECT_EQ(rig.s2->arrivals[0].first, 24);
    // Times and the whole-buffer data length come along.
    EXPECT_EQ(rig.s1->arrivals[0].start, 1000);
    EXPECT_EQ(rig.s1->arrivals[0].length, FRAME);
    EXPECT_TRUE(rig.s1->arrivals[0].flags & AM_SAMPLE_SPLICEPOINT);
}

TEST(MultiPinTransformFilter, UnconnectedInputDoesNotHoldUpTheCycle) {
    Rig rig(/*connectB=*/false);
    rig.run();
    for (int i = 1; i <= 3; i++) EXPECT_EQ(rig.a->push((unsigned char)i), S_OK);
    ASSERT_EQ(rig.filter->seen.size(), 3u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(rig.filter->seen[i].a, i + 1);
        EXPECT_EQ(rig.filter->seen[i].b, -1);
    }
    EXPECT_EQ(rig.s1->arrivals.size(), 3u);
}

TEST(MultiPinTransformFilter, UnconnectedOutputGetsNoBufferAndIsSkipped) {
    Rig rig(/*connectB=*/false, /*connectOut2=*/false);
    rig.run();
    EXPECT_EQ(rig.a->push(5), S_OK);
    ASSERT_EQ(rig.filter->seen.size(), 1u);
    EXPECT_TRUE(rig.filter->seen[0].out1);
    EXPECT_FALSE(rig.filter->seen[0].out2);
    EXPECT_EQ(rig.s1->arrivals.size(), 1u);
    EXPECT_EQ(rig.s2->arrivals.size(), 0u);
}

TEST(MultiPinTransformFilter, SkippedFrameFlagsTheNextBufferRequest) {
    Rig rig(/*connectB=*/false);
    rig.run();
    rig.filter->result = S_FALSE;
    EXPECT_EQ(rig.a->push(1), S_OK);  // S_FALSE is not passed upstream
    EXPECT_TRUE(rig.s1->arrivals.empty());
    EXPECT_EQ(rig.a->outstanding(), 0);
    rig.filter->result = S_OK;
    EXPECT_EQ(rig.a->push(2), S_OK);
    EXPECT_EQ(rig.a->push(3), S_OK);
    const auto& flags = rig.s1->allocator->requestFlags;
    ASSERT_EQ(flags.size(), 3u);
    EXPECT_FALSE(flags[0] & AM_GBF_PREVFRAMESKIPPED);
    EXPECT_TRUE(flags[1] & AM_GBF_PREVFRAMESKIPPED);
    EXPECT_FALSE(flags[2] & AM_GBF_PREVFRAMESKIPPED);
    EXPECT_EQ(rig.s1->arrivals.size(), 2u);

    // An input discontinuity clears it as well.
    rig.filter->result = S_FALSE;
    EXPECT_EQ(rig.a->push(4), S_OK);
    rig.filter->result = S_OK;
    EXPECT_EQ(rig.a->push(5, nullptr, AM_STREAM_MEDIA, -1, 2000, /*discontinuity=*/true), S_OK);
    EXPECT_EQ(rig.a->push(6), S_OK);
    ASSERT_EQ(flags.size(), 6u);
    EXPECT_TRUE(flags[4] & AM_GBF_PREVFRAMESKIPPED);
    EXPECT_FALSE(flags[5] & AM_GBF_PREVFRAMESKIPPED);
    EXPECT_TRUE(rig.s1->arrivals.back().flags & AM_SAMPLE_SPLICEPOINT);
}

TEST(MultiPinTransformFilter, FailingTransformIsReturnedAndDeliversNothing) {
    Rig rig;
    rig.run();
    rig.filter->result = E_FAIL;
    EXPECT_EQ(rig.a->push(1), S_OK);
    EXPECT_EQ(rig.b->push(2), E_FAIL);
    EXPECT_TRUE(rig.s1->arrivals.empty());
    EXPECT_FALSE(rig.filter->holdsSample(0));
    EXPECT_FALSE(rig.filter->holdsSample(1));
    // Another success code is passed upstream as it is, without delivering either.
    rig.filter->result = VFW_S_NO_MORE_ITEMS;
    EXPECT_EQ(rig.a->push(1), S_OK);
    EXPECT_EQ(rig.b->push(2), VFW_S_NO_MORE_ITEMS);
    EXPECT_TRUE(rig.s1->arrivals.empty());
}

TEST(MultiPinTransformFilter, FailedBufferRequestReleasesTheHeldSamples) {
    Rig rig;
    rig.run();
    rig.s2->allocator->failRequests = true;
    EXPECT_EQ(rig.a->push(1), S_OK);
    EXPECT_EQ(rig.b->push(2), E_OUTOFMEMORY);
    EXPECT_TRUE(rig.filter->seen.empty());
    EXPECT_FALSE(rig.filter->holdsSample(0));
    EXPECT_FALSE(rig.filter->holdsSample(1));
    EXPECT_EQ(rig.a->outstanding(), 0);
    EXPECT_EQ(rig.b->outstanding(), 0);
    // The buffer already obtained for the first output went back too.
    EXPECT_EQ(dynamic_cast<CBaseAllocator*>(rig.s1->allocator)->OutstandingSamples(), 0);
    EXPECT_TRUE(rig.s1->arrivals.empty());
}

TEST(MultiPinTransformFilter, StreamNotificationsTravelOnlyFromTheFirstInput) {
    Rig rig;
    rig.run();
    auto* inA = static_cast<MultiPinInputPin*>(rig.filter->GetPin(0));
    auto* inB = static_cast<MultiPinInputPin*>(rig.filter->GetPin(1));
    EXPECT_EQ(inB->EndOfStream(), S_OK);
    EXPECT_EQ(inB->BeginFlush(), S_OK);
    EXPECT_EQ(inB->EndFlush(), S_OK);
    EXPECT_EQ(rig.s1->endOfStreams + rig.s1->beginFlushes + rig.s1->endFlushes, 0);
    EXPECT_EQ(rig.s2->endOfStreams + rig.s2->beginFlushes + rig.s2->endFlushes, 0);

    EXPECT_EQ(inA->EndOfStream(), S_OK);
    EXPECT_EQ(inA->BeginFlush(), S_OK);
    EXPECT_EQ(inA->EndFlush(), S_OK);
    EXPECT_EQ(inA->NewSegment(10, 20, 1.0), S_OK);
    for (SinkPin* s : {rig.s1, rig.s2}) {
        EXPECT_EQ(s->endOfStreams, 1);
        EXPECT_EQ(s->beginFlushes, 1);
        EXPECT_EQ(s->endFlushes, 1);
        EXPECT_EQ(s->CurrentStartTime(), 10);
        EXPECT_EQ(s->CurrentStopTime(), 20);
    }
}

TEST(MultiPinTransformFilter, FlushReleasesThatInputsSample) {
    Rig rig;
    rig.run();
    EXPECT_EQ(rig.a->push(1), S_OK);
    EXPECT_EQ(rig.a->outstanding(), 1);
    auto* inB = static_cast<MultiPinInputPin*>(rig.filter->GetPin(1));
    inB->BeginFlush();
    inB->EndFlush();
    EXPECT_EQ(rig.a->outstanding(), 1);  // another input's flush leaves it
    auto* inA = static_cast<MultiPinInputPin*>(rig.filter->GetPin(0));
    inA->BeginFlush();
    EXPECT_EQ(rig.a->outstanding(), 0);
    EXPECT_EQ(rig.a->push(2), S_FALSE);  // refused while flushing
    inA->EndFlush();
    EXPECT_EQ(rig.a->push(3), S_OK);
    EXPECT_EQ(rig.b->push(4), S_OK);
    ASSERT_EQ(rig.filter->seen.size(), 1u);
    EXPECT_EQ(rig.filter->seen[0].a, 3);
}

TEST(MultiPinTransformFilter, ControlSamplesGoStraightThroughAndLeaveHeldSamples) {
    Rig rig;
    rig.run();
    EXPECT_EQ(rig.a->push(7), S_OK);
    EXPECT_EQ(rig.b->push(99, nullptr, AM_STREAM_CONTROL), S_OK);
    EXPECT_TRUE(rig.filter->seen.empty());
    for (SinkPin* s : {rig.s1, rig.s2}) {
        ASSERT_EQ(s->arrivals.size(), 1u);
        EXPECT_EQ(s->arrivals[0].first, 99);
        EXPECT_EQ(s->arrivals[0].streamId, (DWORD)AM_STREAM_CONTROL);
    }
    EXPECT_TRUE(rig.filter->holdsSample(0));
    EXPECT_FALSE(rig.filter->holdsSample(1));
    EXPECT_EQ(rig.a->push(8, nullptr, AM_STREAM_CONTROL), S_OK);
    EXPECT_TRUE(rig.filter->holdsSample(0));
    EXPECT_EQ(rig.b->push(1), S_OK);
    ASSERT_EQ(rig.filter->seen.size(), 1u);
    EXPECT_EQ(rig.filter->seen[0].a, 7);
}

// One-buffer allocators upstream: a sample kept across a stop would leave the restarted source
// without a buffer.
TEST(MultiPinTransformFilter, StopReleasesHeldSamplesAndARestartRuns) {
    Rig rig(true, true, /*buffersA=*/1, /*buffersB=*/1);
    for (int round = 0; round < 3; round++) {
        rig.run();
        EXPECT_EQ(rig.a->push((unsigned char)(10 + round)), S_OK) << round;
        EXPECT_EQ(rig.a->outstanding(), 1);
        rig.stop();
        EXPECT_FALSE(rig.filter->holdsSample(0));
        EXPECT_EQ(rig.a->outstanding(), 0);
        EXPECT_EQ(rig.b->outstanding(), 0);
    }
    rig.run();
    EXPECT_EQ(rig.a->push(50), S_OK);
    EXPECT_EQ(rig.b->push(1), S_OK);
    ASSERT_EQ(rig.filter->seen.size(), 1u);
    EXPECT_EQ(rig.filter->seen[0].a, 50);
    // Stopped: arrivals are refused and hold nothing.
    rig.stop();
    EXPECT_TRUE(FAILED(rig.a->push(1)) || !rig.filter->holdsSample(0));
    EXPECT_FALSE(rig.filter->holdsSample(0));
}

TEST(MultiPinTransformFilter, DestroyingTheFilterReleasesHeldSamples) {
    Held<TestSource> source;
    SourcePin* b = source->addPin(videoType(MEDIASUBTYPE_RGB24, 8, -4, 24), 1, FRAME);
    PairFilter* filter = new PairFilter();
    filter->NonDelegatingAddRef();
    ASSERT_EQ(connect(b, filter->GetPin(1)), S_OK);

    CMemAllocator* allocator = new CMemAllocator("loose allocator", nullptr, nullptr);
    allocator->NonDelegatingAddRef();
    ALLOCATOR_PROPERTIES request{1, FRAME, 1, 0}, actual{};
    ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    {
        // Handed straight to input A: it waits there for a sample on the connected input B.
        CAutoLock lock(filter->receiveLockOf());
        EXPECT_EQ(filter->receive(sample, static_cast<MultiPinInputPin*>(filter->GetPin(0))), S_OK);
    }
    sample->Release();
    EXPECT_TRUE(filter->holdsSample(0));
    EXPECT_EQ(allocator->OutstandingSamples(), 1);

    disconnect(b);
    filter->NonDelegatingRelease();
    EXPECT_EQ(allocator->OutstandingSamples(), 0);
    allocator->Decommit();
    allocator->NonDelegatingRelease();
}

// Two upstream threads feed the inputs while the filters are stopped and run again: no cycle may
// hang on a buffer that a held sample keeps, and nothing is left outstanding at the end.
TEST(MultiPinTransformFilter, StopAndRunWhileTwoThreadsDeliver) {
    Rig rig(true, true, /*buffersA=*/1, /*buffersB=*/1);
    rig.run();
    std::atomic<bool> done{false};
    std::atomic<int> delivered{0};
    auto feed = [&](SourcePin* pin) {
        while (!done) {
            if (pin->push(1) == S_OK) delivered++;
            std::this_thread::yield();
        }
    };
    std::thread a(feed, rig.a), b(feed, rig.b);
    for (int round = 0; round < 30; round++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        rig.stop();
        rig.run();
    }
    done = true;
    a.join();
    b.join();
    rig.stop();
    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(rig.a->outstanding(), 0);
    EXPECT_EQ(rig.b->outstanding(), 0);
    EXPECT_FALSE(rig.filter->holdsSample(0));
    EXPECT_FALSE(rig.filter->holdsSample(1));
}
