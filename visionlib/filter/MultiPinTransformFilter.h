#pragma once
// Base of the system's video filters: a transform filter with a fixed number of inputs and outputs.
// It keeps the newest sample of each input; once every connected input holds one it obtains a buffer
// for each connected output, lets the filter compute all outputs in one Transform call and delivers
// them in output order. End of stream, flushing and new segments travel only from an output's source
// input (the first input); control samples go straight to every output.
//
// Held samples are released when the filter stops, when their input flushes, when a buffer request
// fails and when the filter is destroyed, so that a restarted graph with one-buffer allocators never
// waits for a sample this filter forgot.
#include "platform/streams.h"

namespace vision {

class MultiPinTransformFilter;

// What one pin takes and offers. A filter lists its pins in pin order, inputs first; the base
// creates the pins, checks proposed types, offers types and sizes buffers from that list.
struct PinFormat {
    enum Stream { VIDEO, FACE_INFO };
    enum Rows { ANY_ROWS, TOP_DOWN };
    enum Size {
        ANY_SIZE,
        GIVEN_SIZE,   // the size the filter reports for the pin (givenSize); none given: any
        SOURCE_SIZE,  // the source input's size: the pin carries a copy of that frame
    };
    // What a video output offers: the source input's header turned top-down, or a new top-down
    // header of the given size (else the source's).
    enum Offer { NEW_HEADER, COPY_OF_SOURCE };

    const wchar_t* name;
    Stream stream;
    const GUID* subtype;  // video pins; null: no video type at all
    Rows rows;
    Size size;
    Offer offer;  // video outputs

    static constexpr PinFormat video(const wchar_t* name, const GUID* subtype, Rows rows, Size size,
                                     Offer offer = NEW_HEADER) {
        return {name, VIDEO, subtype, rows, size, offer};
    }
    // Any type of the face information major type; an output offers the 196-byte sample type.
    static constexpr PinFormat faceInfo(const wchar_t* name) {
        return {name, FACE_INFO, nullptr, ANY_ROWS, ANY_SIZE, NEW_HEADER};
    }
};

// A frame size; 0 in either side means any.
struct FrameSize {
    LONG width, height;
};

class MultiPinInputPin : public CBaseInputPin {
public:
    MultiPinInputPin(const TCHAR* objectName, MultiPinTransformFilter* filter, HRESULT* phr, LPCWSTR pinName);

    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;

    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    MultiPinTransformFilter* owningFilter() const { return filter; }

protected:
    MultiPinTransformFilter* filter;
};

class MultiPinOutputPin : public CBaseOutputPin {
public:
    MultiPinOutputPin(const TCHAR* objectName, MultiPinTransformFilter* filter, HRESULT* phr, LPCWSTR pinName);
    ~MultiPinOutputPin() override;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Notify(IBaseFilter* self, Quality q) override;

    // The connected input's Receive; S_OK when this pin is not connected.
    HRESULT deliver(IMediaSample* sample);

    MultiPinTransformFilter* owningFilter() const { return filter; }

protected:
    MultiPinTransformFilter* filter;
    IUnknown* position;  // seeking pass-through, made on first demand
};

class MultiPinTransformFilter : public CBaseFilter {
public:
    struct InputSlot {
        MultiPinInputPin* pin;
        IMediaSample* sample;  // held with one reference, or null
    };
    struct OutputSlot {
        MultiPinOutputPin* pin;
        IMediaSample* sample;  // the buffer of the cycle under way, null between cycles
        unsigned source;       // index of the input that feeds this output
    };

    MultiPinTransformFilter(const TCHAR* name, LPUNKNOWN outer, REFCLSID clsid, unsigned inputCount,
                            unsigned outputCount);
    ~MultiPinTransformFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    LPAMOVIESETUP_FILTER GetSetupData() override { return nullptr; }
    // Stops, then lets go of the held input samples.
    HRESULT Stop() override;

    // The pins' formats in force (inputCount + outputCount rows), or null. The media-type hooks
    // below work from it; a filter without one overrides them.
    virtual const PinFormat* pinFormats() const { return nullptr; }
    // The size a GIVEN_SIZE pin takes (pin index: inputs first).
    virtual FrameSize givenSize(unsigned pin) { return {0, 0}; }

    // Hooks of the derived filter; by default they follow pinFormats().
    virtual HRESULT CheckInputType(MultiPinInputPin* pin, const CMediaType* mt);
    virtual HRESULT CheckOutputType(MultiPinOutputPin* pin, const CMediaType* mt);
    virtual HRESULT GetMediaType(MultiPinOutputPin* pin, int position, CMediaType* mt);
    virtual HRESULT DecideBufferSize(MultiPinOutputPin* pin, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request);
    virtual bool CreatePins();
    // S_OK: deliver the outputs; S_FALSE: skip this frame; anything else is the arrival's result.
    virtual HRESULT Transform() = 0;
    virtual void SetMediaType(MultiPinOutputPin* pin, const CMediaType* mt) {}
    virtual void SetMediaType(MultiPinInputPin* pin, const CMediaType* mt) {}
    virtual HRESULT CheckConnect(MultiPinOutputPin* pin, IPin* peer) { return S_OK; }
    virtual HRESULT CheckConnect(MultiPinInputPin* pin, IPin* peer) { return S_OK; }
    virtual void BreakConnect(MultiPinOutputPin* pin) {}
    virtual void BreakConnect(MultiPinInputPin* pin) {}
    virtual void CompleteConnect(MultiPinOutputPin* pin, IPin* peer) {}
    virtual void CompleteConnect(MultiPinInputPin* pin, IPin* peer) {}

    // The pin of the input that feeds this output; null when no slot holds the output pin.
    MultiPinInputPin* sourceInputOf(const MultiPinOutputPin* pin) const;

    // One arrival on an input (under receiveLock).
    HRESULT receive(IMediaSample* sample, MultiPinInputPin* pin);
    HRESULT initializeOutputSample(unsigned inputSlot, unsigned outputSlot);

    void deliverEndOfStream(MultiPinInputPin* pin);
    void deliverBeginFlush(MultiPinInputPin* pin);
    void deliverEndFlush(MultiPinInputPin* pin);
    void deliverNewSegment(MultiPinInputPin* pin, REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // Lets go of the sample held by the input of this pin (all inputs for null).
    void releaseHeldSamples(MultiPinInputPin* pin = nullptr);

    CCritSec* receiveLockOf() { return &receiveLock; }
    CCritSec* filterLockOf() { return &filterLock; }
    unsigned inputCountOf() const { return inputCount; }
    unsigned outputCountOf() const { return outputCount; }
    // For tests: whether an input slot holds a sample.
    bool holdsSample(unsigned input) const { return input < inputCount && inputs[input].sample != nullptr; }

protected:
    // Index of a pin (inputs first), or -1.
    int indexOfPin(const CBasePin* pin) const;
    HRESULT checkPinType(int index, const CMediaType* mt);
    // The source input of an output pin index.
    MultiPinInputPin* sourceOfOutput(unsigned index) const;

    void releaseOutputSamples();
    template <class Action>
    void forEachOutputFedBy(MultiPinInputPin* pin, Action action);
    void releaseInputSamplesLocked(MultiPinInputPin* pin);

    bool sampleSkipped;
    CCritSec filterLock;
    CCritSec receiveLock;
    unsigned inputCount;
    unsigned outputCount;
    InputSlot* inputs;
    OutputSlot* outputs;
};

// The creation function of a filter module's class factory: constructs F (object name, outer unknown)
// and never lets an exception out.
template <class F>
CUnknown* createFilterInstance(LPUNKNOWN outer, HRESULT* phr) {
    if (phr) *phr = S_OK;
    CUnknown* object = nullptr;
    try {
        object = new F(nullptr, outer);
    } catch (const std::bad_alloc&) {
        object = nullptr;
    } catch (...) {
        if (phr) *phr = E_FAIL;
        return nullptr;
    }
    if (object == nullptr && phr) *phr = E_OUTOFMEMORY;
    return object;
}

}  // namespace vision
