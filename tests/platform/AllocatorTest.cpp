// The memory allocator and its samples: properties, blocking GetBuffer, deferred decommit, and
// the sample's own properties.
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct Allocator {
    IMemAllocator* a = nullptr;
    CMemAllocator* impl = nullptr;
    explicit Allocator(LONG buffers, LONG size = 1000, LONG align = 1, LONG prefix = 0) {
        HRESULT hr = S_OK;
        impl = new CMemAllocator("test allocator", nullptr, &hr);
        impl->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&a));
        ALLOCATOR_PROPERTIES request{buffers, size, align, prefix}, actual{};
        EXPECT_EQ(a->SetProperties(&request, &actual), S_OK);
    }
    ~Allocator() {
        if (a) a->Release();
    }
};

// True when `done` stays false for a while: the other thread is blocked, not just slow to start.
bool staysBlocked(const std::atomic<bool>& done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return !done;
}

TEST(Allocator, PropertiesAreCheckedAndRounded) {
    Allocator alloc(2, 1000, 64, 16);
    ALLOCATOR_PROPERTIES props{};
    alloc.a->GetProperties(&props);
    EXPECT_EQ(props.cBuffers, 2);
    EXPECT_EQ((props.cbBuffer + props.cbPrefix) % 64, 0);
    EXPECT_GE(props.cbBuffer, 1000);

    struct Case {
        ALLOCATOR_PROPERTIES request;
        HRESULT expected;
    } cases[] = {{{1, 100, 0, 0}, VFW_E_BADALIGN}, {{1, 100, 3, 0}, VFW_E_BADALIGN}, {{-1, 100, 1, 0}, E_INVALIDARG}};
    for (Case& c : cases) {
        ALLOCATOR_PROPERTIES actual{};
        EXPECT_EQ(alloc.a->SetProperties(&c.request, &actual), c.expected);
    }

    ASSERT_EQ(alloc.a->Commit(), S_OK);
    ALLOCATOR_PROPERTIES request{1, 10, 1, 0}, actual{};
    EXPECT_EQ(alloc.a->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
    IMediaSample* sample = nullptr;
    ASSERT_EQ(alloc.a->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data - 16 + 0) % 64, 0u) << "the prefix precedes an aligned block";
    alloc.a->Decommit();
    EXPECT_EQ(alloc.a->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
    sample->Release();
    EXPECT_EQ(alloc.a->SetProperties(&request, &actual), S_OK);

    HRESULT hr = S_OK;
    auto* bare = new CMemAllocator("unsized", nullptr, &hr);
    IMemAllocator* unsized = nullptr;
    bare->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&unsized));
    EXPECT_EQ(unsized->Commit(), VFW_E_SIZENOTSET);
    EXPECT_EQ(unsized->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    unsized->Release();
}

TEST(Allocator, GetBufferBlocksUntilABufferIsFree) {
    Allocator alloc(1);
    ASSERT_EQ(alloc.a->Commit(), S_OK);
    IMediaSample* first = nullptr;
    ASSERT_EQ(alloc.a->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
    IMediaSample* none = nullptr;
    EXPECT_EQ(alloc.a->GetBuffer(&none, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    EXPECT_EQ(none, nullptr);

    std::atomic<bool> done{false};
    IMediaSample* second = nullptr;
    HRESULT secondResult = E_FAIL;
    std::thread waiter([&] {
        secondResult = alloc.a->GetBuffer(&second, nullptr, nullptr, 0);
        done = true;
    });
    EXPECT_TRUE(staysBlocked(done));
    BYTE *a = nullptr, *b = nullptr;
    first->GetPointer(&a);
    first->SetActualDataLength(10);
    first->Release();
    waiter.join();
    ASSERT_EQ(secondResult, S_OK);
    second->GetPointer(&b);
    EXPECT_EQ(a, b) << "the one buffer came back";
    EXPECT_EQ(second->GetActualDataLength(), 1000) << "a reused sample starts whole";
    second->Release();
    alloc.a->Decommit();
}

TEST(Allocator, DecommitWakesWaitersAndWaitsForOutstandingSamples) {
    LONG before = tarvelo::streams::liveObjectCount();
    {
        Allocator alloc(1);
        ASSERT_EQ(alloc.a->Commit(), S_OK);
        EXPECT_EQ(tarvelo::streams::liveObjectCount(), before + 2) << "the allocator and its sample";
        IMediaSample* out = nullptr;
        ASSERT_EQ(alloc.a->GetBuffer(&out, nullptr, nullptr, 0), S_OK);

        std::atomic<bool> done{false};
        HRESULT waited = S_OK;
        std::thread waiter([&] {
            IMediaSample* s = nullptr;
            waited = alloc.a->GetBuffer(&s, nullptr, nullptr, 0);
            done = true;
        });
        EXPECT_TRUE(staysBlocked(done));
        EXPECT_EQ(alloc.a->Decommit(), S_OK);
        waiter.join();
        EXPECT_EQ(waited, VFW_E_NOT_COMMITTED);

        // The sample still out keeps its memory until it comes back.
        EXPECT_TRUE(alloc.impl->IsDecommitPending());
        BYTE* data = nullptr;
        out->GetPointer(&data);
        std::memset(data, 0xAB, 1000);
        out->Release();
        EXPECT_FALSE(alloc.impl->IsDecommitPending());
        EXPECT_EQ(tarvelo::streams::liveObjectCount(), before + 1) << "buffers freed, allocator alive";

        // A Commit during a deferred decommit takes the buffers up again.
        ASSERT_EQ(alloc.a->Commit(), S_OK);
        ASSERT_EQ(alloc.a->GetBuffer(&out, nullptr, nullptr, 0), S_OK);
        alloc.a->Decommit();
        EXPECT_EQ(alloc.a->Commit(), S_OK);
        IMediaSample* again = nullptr;
        EXPECT_EQ(alloc.a->GetBuffer(&again, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
        out->Release();
        ASSERT_EQ(alloc.a->GetBuffer(&again, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
        again->Release();
        alloc.a->Decommit();
    }
    EXPECT_EQ(tarvelo::streams::liveObjectCount(), before);
}

TEST(Allocator, AnOutstandingSampleKeepsItsAllocatorAlive) {
    LONG before = tarvelo::streams::liveObjectCount();
    IMediaSample* sample = nullptr;
    {
        Allocator alloc(2);
        alloc.a->Commit();
        ASSERT_EQ(alloc.a->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
        alloc.a->Decommit();
    }
    EXPECT_GT(tarvelo::streams::liveObjectCount(), before);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    data[999] = 1;
    sample->Release();
    EXPECT_EQ(tarvelo::streams::liveObjectCount(), before);
}

TEST(Allocator, ManyThreadsShareFewBuffers) {
    Allocator alloc(2, 64);
    ASSERT_EQ(alloc.a->Commit(), S_OK);
    std::atomic<int> got{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                IMediaSample* s = nullptr;
                if (alloc.a->GetBuffer(&s, nullptr, nullptr, 0) != S_OK) return;
                BYTE* data = nullptr;
                s->GetPointer(&data);
                data[0] = BYTE(i);
                REFERENCE_TIME start = i, stop = i + 1;
                s->SetTime(&start, &stop);
                s->Release();
                ++got;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(got, 2000);
    EXPECT_EQ(alloc.impl->OutstandingSamples(), 0);
    alloc.a->Decommit();
}

TEST(Allocator, SampleTimesFlagsAndProperties) {
    Allocator alloc(1, 100);
    alloc.a->Commit();
    IMediaSample* s = nullptr;
    REFERENCE_TIME start = 5, stop = 9;
    ASSERT_EQ(alloc.a->GetBuffer(&s, &start, nullptr, 0), S_OK);
    REFERENCE_TIME t0 = 0, t1 = 0;
    EXPECT_EQ(s->GetTime(&t0, &t1), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(t0, 5);
    s->SetTime(&start, &stop);
    EXPECT_EQ(s->GetTime(&t0, &t1), S_OK);
    EXPECT_EQ(t1, 9);
    s->SetTime(nullptr, nullptr);
    EXPECT_EQ(s->GetTime(&t0, &t1), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(s->GetMediaTime(&t0, &t1), VFW_E_MEDIA_TIME_NOT_SET);
    EXPECT_EQ(s->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(s->SetActualDataLength(40), S_OK);

    IMediaSample2* s2 = nullptr;
    ASSERT_EQ(s->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&s2)), S_OK);
    s->SetSyncPoint(TRUE);
    s->SetTime(&start, &stop);
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(s->GetMediaType(&type), S_FALSE);
    CMediaType video(&MEDIATYPE_Video);
    s->SetMediaType(&video);

    AM_SAMPLE2_PROPERTIES p{};
    ASSERT_EQ(s2->GetProperties(sizeof p, reinterpret_cast<BYTE*>(&p)), S_OK);
    EXPECT_EQ(p.cbData, sizeof p);
    EXPECT_EQ(p.lActual, 40);
    EXPECT_EQ(p.cbBuffer, 100);
    EXPECT_EQ(p.dwSampleFlags, AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED);
    ASSERT_NE(p.pMediaType, nullptr);
    EXPECT_TRUE(p.pMediaType->majortype == MEDIATYPE_Video);

    // Written back with its own type pointer and other flags, as a filter copies properties.
    p.dwSampleFlags = (p.dwSampleFlags & AM_SAMPLE_TYPECHANGED) | AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TIMEVALID;
    p.tStart = 100;
    p.dwTypeSpecificFlags = 7;
    ASSERT_EQ(s2->SetProperties(sizeof p, reinterpret_cast<const BYTE*>(&p)), S_OK);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(s->IsDiscontinuity(), S_OK);
    EXPECT_EQ(s->GetTime(&t0, &t1), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(t0, 100);
    ASSERT_EQ(s->GetMediaType(&type), S_OK);
    EXPECT_TRUE(type->majortype == MEDIATYPE_Video);
    DeleteMediaType(type);
    p.lActual = 101;
    EXPECT_EQ(s2->SetProperties(sizeof p, reinterpret_cast<const BYTE*>(&p)), VFW_E_BUFFER_OVERFLOW);
    s2->Release();

    // Back in the allocator, the sample forgets flags, times and type.
    s->Release();
    ASSERT_EQ(alloc.a->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(s->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(s->GetTime(&t0, &t1), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(s->GetMediaType(&type), S_FALSE);
    s->Release();
    alloc.a->Decommit();
}

TEST(MediaType, CopiesCompareAndMatchPartially) {
    CMediaType a(&MEDIATYPE_Video);
    a.SetSubtype(&MEDIASUBTYPE_RGB24);
    a.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biWidth = 320;
    ASSERT_TRUE(a.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih));
    CMediaType b(a);
    EXPECT_NE(b.Format(), a.Format());
    EXPECT_TRUE(a == b);
    reinterpret_cast<VIDEOINFOHEADER*>(b.Format())->bmiHeader.biWidth = 640;
    EXPECT_TRUE(a != b);

    CMediaType partial(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(a.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_FALSE(a.MatchesPartial(&partial));
    EXPECT_FALSE(a.IsPartiallySpecified());

    AM_MEDIA_TYPE* created = CreateMediaType(&a);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->cbFormat, 88u);
    CMediaType fromRaw(*created);
    EXPECT_TRUE(fromRaw == a);
    DeleteMediaType(created);
    b = a;
    EXPECT_TRUE(b == a);
    b = b;
    EXPECT_TRUE(b == a);
    EXPECT_EQ(DIBSIZE(BITMAPINFOHEADER{40, 161, -120, 1, 24, BI_RGB, 0, 0, 0, 0, 0}), 484u * 120u)
        << "rows padded to 4 bytes";
}

}  // namespace
