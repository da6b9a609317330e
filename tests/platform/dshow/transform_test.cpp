// Conformance of the in-place transform framework with a small filter that negates 16-bit samples,
// between the test source and sink.
#include "platform/dshow/transform.h"
#include "tests/platform/dshow/test_filters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using tw::test::MakeAudioType;
using tw::test::RefCount;
using tw::test::TestGraph;
using tw::test::TestSinkFilter;
using tw::test::TestSourceFilter;

namespace {

const CLSID kNegateClsid = {0x6d1e0a10, 0x2b3c, 0x4d5e, {0x9f, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x10}};

const WCHAR kNegateInputName[] = TW_W("Input");
const WCHAR kNegateOutputName[] = TW_W("Output");
const AMOVIESETUP_MEDIATYPE kNegateTypes[] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN kNegatePins[] = {
    {const_cast<LPWSTR>(kNegateInputName), FALSE, FALSE, FALSE, FALSE, &GUID_NULL,
     kNegateOutputName, 1, kNegateTypes},
    {const_cast<LPWSTR>(kNegateOutputName), FALSE, TRUE, FALSE, FALSE, &GUID_NULL,
     kNegateInputName, 1, kNegateTypes},
};
const AMOVIESETUP_FILTER kNegateSetup = {&kNegateClsid, TW_W("Negate"), 0x200000, 2, kNegatePins};

// Accepts 16-bit PCM only and negates every sample; samples whose first value is 0x7777 are
// dropped (Transform gives S_FALSE).
class NegateFilter final : public CTransInPlaceFilter {
public:
    static NegateFilter* Create(IUnknown* outer = nullptr) {
        NegateFilter* f = new NegateFilter(outer);
        if (f) f->NonDelegatingAddRef();
        return f;
    }

    HRESULT CheckInputType(const AM_MEDIA_TYPE* pmt) override {
        if (!IsEqualGUID(pmt->majortype, MEDIATYPE_Audio) || pmt->cbFormat < 16) return E_INVALIDARG;
        return tw::test::FormatOf(*pmt)->wBitsPerSample == 16 ? S_OK : E_INVALIDARG;
    }
    HRESULT SetMediaType(PIN_DIRECTION direction, const AM_MEDIA_TYPE*) override {
        ++(direction == PINDIR_INPUT ? inputTypesSet : outputTypesSet);
        return S_OK;
    }
    HRESULT StartStreaming() override {
        ++starts;
        return startResult;
    }
    HRESULT StopStreaming() override {
        ++stops;
        return S_OK;
    }
    HRESULT Transform(IMediaSample* sample) override {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return E_POINTER;
        int16_t* values = reinterpret_cast<int16_t*>(data);
        const LONG count = sample->GetActualDataLength() / 2;
        if (count > 0 && values[0] == 0x7777) return S_FALSE;
        for (LONG i = 0; i < count; ++i) values[i] = static_cast<int16_t>(-values[i]);
        ++transforms;
        if (slowTransform) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return S_OK;
    }
    const AMOVIESETUP_FILTER* GetSetupData() override { return withSetup ? &kNegateSetup : nullptr; }

    int inputTypesSet = 0;
    int outputTypesSet = 0;
    int starts = 0;
    int stops = 0;
    std::atomic<int> transforms{0};
    HRESULT startResult = S_OK;
    bool withSetup = true;
    bool slowTransform = false;

private:
    explicit NegateFilter(IUnknown* outer) : CTransInPlaceFilter(outer, kNegateClsid, true) {}
};

IPin* PinOf(CBaseFilter* filter, int n) { return filter->GetPin(n); }

// Source -> negate -> sink, all three made and (optionally) connected.
struct Chain {
    Chain() {
        source = TestSourceFilter::Create();
        negate = NegateFilter::Create();
        sink = TestSinkFilter::Create();
        MakeAudioType(&source->Pin()->type, WAVE_FORMAT_PCM, 2, 44100, 16);
        negate->GetPin(0);  // pins exist from first use on
    }
    ~Chain() {
        source->Stop();
        negate->Stop();
        sink->Stop();
        PinOf(source, 0)->Disconnect();
        PinOf(negate, 0)->Disconnect();
        PinOf(negate, 1)->Disconnect();
        PinOf(sink, 0)->Disconnect();
        EXPECT_EQ(source->Release(), 0u);
        EXPECT_EQ(negate->Release(), 0u);
        EXPECT_EQ(sink->Release(), 0u);
    }
    HRESULT ConnectInput() { return PinOf(source, 0)->Connect(PinOf(negate, 0), nullptr); }
    HRESULT ConnectOutput() { return PinOf(negate, 1)->Connect(PinOf(sink, 0), nullptr); }
    // Downstream first, as a graph does.
    HRESULT Run() {
        HRESULT hr = sink->Run(0);
        if (SUCCEEDED(hr)) hr = negate->Run(0);
        if (SUCCEEDED(hr)) hr = source->Run(0);
        return hr;
    }
    HRESULT StopAll() {
        HRESULT hr = sink->Stop();
        if (SUCCEEDED(hr)) hr = negate->Stop();
        if (SUCCEEDED(hr)) hr = source->Stop();
        return hr;
    }

    TestSourceFilter* source;
    NegateFilter* negate;
    TestSinkFilter* sink;
};

}  // namespace

TEST(DShowTransInPlace, InterfacesSupportedAndRefused) {
    const LONG before = CBaseObject::ObjectsActive();
    NegateFilter* filter = NegateFilter::Create();
    ASSERT_NE(filter, nullptr);
    IBaseFilter* base = filter;
    const IID supported[] = {IID_IUnknown, IID_IBaseFilter, IID_IMediaFilter, IID_IPersist,
                             IID_IAMovieSetup};
    for (const IID& iid : supported) {
        void* p = nullptr;
        EXPECT_EQ(base->QueryInterface(iid, &p), S_OK);
        ASSERT_NE(p, nullptr);
        static_cast<IUnknown*>(p)->Release();
    }
    const IID refused[] = {IID_IPin, IID_IMemInputPin, IID_IMemAllocator, IID_IEnumPins,
                           IID_IFilterGraph};
    for (const IID& iid : refused) {
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(base->QueryInterface(iid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(base->QueryInterface(IID_IBaseFilter, nullptr), E_POINTER);

    // One identity through every interface.
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    static_cast<IAMovieSetup*>(filter)->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    base->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();

    CLSID clsid = {};
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, kNegateClsid));
    EXPECT_EQ(filter->GetClassID(nullptr), E_POINTER);
    LPWSTR vendor = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(filter->QueryVendorInfo(&vendor), E_NOTIMPL);
    EXPECT_EQ(vendor, nullptr);

    EXPECT_EQ(RefCount(base), 1u);
    EXPECT_EQ(base->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowTransInPlace, AggregatedFilterCountsOnItsOwner) {
    const LONG before = CBaseObject::ObjectsActive();
    struct Owner : public IUnknown {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            return inner->QueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
        ULONG STDMETHODCALLTYPE Release() override { return --ref; }
        ULONG ref = 1;
        IUnknown* inner = nullptr;
    } owner;
    NegateFilter* aggregated = NegateFilter::Create(&owner);
    ASSERT_NE(aggregated, nullptr);
    // Create took one reference through the non-delegating IUnknown, which the owner keeps.
    owner.inner = aggregated->NonDelegatingUnknown();
    EXPECT_EQ(owner.ref, 1u);

    IBaseFilter* base = nullptr;
    ASSERT_EQ(owner.QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base)), S_OK);
    EXPECT_EQ(owner.ref, 2u);
    IPin* pin = aggregated->GetPin(0);
    pin->AddRef();  // a pin counts on its filter, that is, on the owner
    EXPECT_EQ(owner.ref, 3u);
    pin->Release();
    IUnknown* identity = nullptr;
    base->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&owner));
    identity->Release();
    base->Release();
    EXPECT_EQ(owner.ref, 1u);
    EXPECT_EQ(owner.inner->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowTransInPlace, PinsEnumerationAndInformation) {
    const LONG before = CBaseObject::ObjectsActive();
    NegateFilter* filter = NegateFilter::Create();
    IEnumPins* pins = nullptr;
    ASSERT_EQ(filter->EnumPins(&pins), S_OK);
    EXPECT_EQ(filter->EnumPins(nullptr), E_POINTER);
    EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(filter)), 2u);  // the enumerator holds the filter

    IPin* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(pins->Next(2, got + 2, nullptr), E_POINTER);  // a count is needed for more than one
    PIN_INFO info = {};
    ASSERT_EQ(got[0]->QueryPinInfo(&info), S_OK);
    EXPECT_TRUE(tw::dshow::WideEqual(info.achName, TW_W("Input")));
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_EQ(info.pFilter, static_cast<IBaseFilter*>(filter));
    info.pFilter->Release();
    ASSERT_EQ(got[1]->QueryPinInfo(&info), S_OK);
    EXPECT_TRUE(tw::dshow::WideEqual(info.achName, TW_W("Output")));
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    info.pFilter->Release();
    PIN_DIRECTION dir;
    EXPECT_EQ(got[1]->QueryDirection(&dir), S_OK);
    EXPECT_EQ(dir, PINDIR_OUTPUT);
    EXPECT_EQ(got[1]->QueryDirection(nullptr), E_POINTER);

    // The input pin has IMemInputPin, the output pin does not.
    void* p = nullptr;
    EXPECT_EQ(got[0]->QueryInterface(IID_IMemInputPin, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(got[1]->QueryInterface(IID_IMemInputPin, &p), E_NOINTERFACE);
    EXPECT_EQ(got[0]->QueryInterface(IID_IBaseFilter, &p), E_NOINTERFACE);

    EXPECT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(1), S_OK);
    IEnumPins* clone = nullptr;
    ASSERT_EQ(pins->Clone(&clone), S_OK);
    IPin* second = nullptr;
    EXPECT_EQ(clone->Next(1, &second, nullptr), S_OK);
    EXPECT_EQ(second, got[1]);
    second->Release();
    EXPECT_EQ(clone->Skip(1), S_FALSE);
    EXPECT_EQ(clone->Release(), 0u);

    IPin* found = nullptr;
    EXPECT_EQ(filter->FindPin(TW_W("Output"), &found), S_OK);
    EXPECT_EQ(found, got[1]);
    found->Release();
    EXPECT_EQ(filter->FindPin(TW_W("Nope"), &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(found, nullptr);
    LPWSTR id = nullptr;
    ASSERT_EQ(got[0]->QueryId(&id), S_OK);
    EXPECT_TRUE(tw::dshow::WideEqual(id, TW_W("Input")));
    CoTaskMemFree(id);

    // Unconnected pins.
    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(got[0]->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer, nullptr);
    AM_MEDIA_TYPE mt;
    EXPECT_EQ(got[0]->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(got[0]->Disconnect(), S_FALSE);
    IEnumMediaTypes* types = nullptr;
    ASSERT_EQ(got[1]->EnumMediaTypes(&types), S_OK);  // empty until the input is connected
    AM_MEDIA_TYPE* t = nullptr;
    EXPECT_EQ(types->Next(1, &t, nullptr), S_FALSE);
    types->Release();
    EXPECT_EQ(got[0]->QueryInternalConnections(nullptr, nullptr), E_NOTIMPL);

    got[0]->Release();
    got[1]->Release();
    EXPECT_EQ(pins->Release(), 0u);
    EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(filter)), 1u);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowTransInPlace, ConnectionAgreesOneTypeOnBothPins) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        Chain c;
        // 8-bit is refused by the filter: no acceptable type among the source's.
        MakeAudioType(&c.source->Pin()->type, WAVE_FORMAT_PCM, 2, 44100, 8);
        EXPECT_EQ(c.ConnectInput(), VFW_E_NO_ACCEPTABLE_TYPES);
        EXPECT_FALSE(c.source->Pin()->IsConnected());
        EXPECT_FALSE(c.negate->InputPin()->IsConnected());
        // A complete type refused by ReceiveConnection comes back as the type's refusal.
        EXPECT_EQ(c.negate->InputPin()->ReceiveConnection(c.source->Pin(), &c.source->Pin()->type),
                  VFW_E_TYPE_NOT_ACCEPTED);
        EXPECT_EQ(c.negate->InputPin()->QueryAccept(&c.source->Pin()->type), S_FALSE);

        MakeAudioType(&c.source->Pin()->type, WAVE_FORMAT_PCM, 2, 44100, 16);
        EXPECT_EQ(c.negate->InputPin()->QueryAccept(&c.source->Pin()->type), S_OK);
        // The output cannot connect before the input.
        EXPECT_EQ(c.ConnectOutput(), VFW_E_NO_ACCEPTABLE_TYPES);
        ASSERT_EQ(c.ConnectInput(), S_OK);
        EXPECT_EQ(c.negate->inputTypesSet, 1);
        EXPECT_EQ(c.ConnectInput(), VFW_E_ALREADY_CONNECTED);

        IPin* peer = nullptr;
        ASSERT_EQ(c.negate->InputPin()->ConnectedTo(&peer), S_OK);
        EXPECT_EQ(peer, static_cast<IPin*>(c.source->Pin()));
        peer->Release();
        AM_MEDIA_TYPE mt;
        ASSERT_EQ(c.negate->InputPin()->ConnectionMediaType(&mt), S_OK);
        EXPECT_TRUE(CMediaType::Equal(mt, c.source->Pin()->type));
        FreeMediaType(mt);

        // Two output pins do not connect.
        TestSourceFilter* other = TestSourceFilter::Create();
        MakeAudioType(&other->Pin()->type, WAVE_FORMAT_PCM, 2, 44100, 16);
        EXPECT_EQ(PinOf(c.negate, 1)->Connect(other->Pin(), &other->Pin()->type),
                  VFW_E_INVALID_DIRECTION);
        EXPECT_EQ(other->Release(), 0u);

        // The output offers exactly the input's type, and accepts no other.
        IEnumMediaTypes* types = nullptr;
        ASSERT_EQ(c.negate->OutputPin()->EnumMediaTypes(&types), S_OK);
        AM_MEDIA_TYPE* offered[2] = {};
        ULONG fetched = 0;
        EXPECT_EQ(types->Next(2, offered, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 1u);
        EXPECT_TRUE(CMediaType::Equal(*offered[0], c.source->Pin()->type));
        DeleteMediaType(offered[0]);
        types->Release();
        CMediaType mono;
        MakeAudioType(&mono, WAVE_FORMAT_PCM, 1, 44100, 16);
        EXPECT_EQ(c.negate->OutputPin()->QueryAccept(&mono), S_FALSE);

        ASSERT_EQ(c.ConnectOutput(), S_OK);
        EXPECT_EQ(c.negate->outputTypesSet, 1);
        EXPECT_TRUE(CMediaType::Equal(c.sink->Pin()->CurrentMediaType(), c.source->Pin()->type));
        // With the output connected the input takes only that type.
        EXPECT_EQ(c.negate->InputPin()->QueryAccept(&mono), S_FALSE);

        // No disconnection while running.
        ASSERT_EQ(c.Run(), S_OK);
        EXPECT_EQ(c.negate->InputPin()->Disconnect(), VFW_E_NOT_STOPPED);
        EXPECT_EQ(c.source->Pin()->Connect(c.negate->InputPin(), nullptr), VFW_E_ALREADY_CONNECTED);
        ASSERT_EQ(c.StopAll(), S_OK);
        EXPECT_EQ(c.negate->OutputPin()->Disconnect(), S_OK);
        EXPECT_EQ(c.negate->OutputPin()->Disconnect(), S_FALSE);
        EXPECT_EQ(RefCount(static_cast<IBaseFilter*>(c.sink)), 1u);  // the disconnected output let go of the sink's pin
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowTransInPlace, AllocatorNegotiationSharesOneAllocatorWhereverPossible) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        // Input first: downstream is offered the upstream allocator and takes it.
        Chain c;
        c.source->Pin()->buffers = 3;
        c.source->Pin()->bufferBytes = 2000;
        ASSERT_EQ(c.ConnectInput(), S_OK);
        ASSERT_EQ(c.ConnectOutput(), S_OK);
        IMemAllocator* upstream = c.source->Pin()->PeekAllocator();
        ASSERT_NE(upstream, nullptr);
        EXPECT_EQ(c.negate->InputPin()->PeekAllocator(), upstream);
        EXPECT_EQ(c.negate->OutputPin()->PeekAllocator(), upstream);
        EXPECT_EQ(c.sink->Pin()->PeekAllocator(), upstream);
        ALLOCATOR_PROPERTIES props = {};
        upstream->GetProperties(&props);
        EXPECT_EQ(props.cBuffers, 3);
        EXPECT_EQ(props.cbBuffer, 2000);
    }
    {
        // Output first: the input pin offers upstream the downstream allocator.
        Chain c;
        c.sink->Pin()->requirements = {4, 3000, 1, 0};
        // An in-place filter needs its input type before its output can connect, so connect
        // everything, take the input down and connect it again.
        ASSERT_EQ(c.ConnectInput(), S_OK);
        ASSERT_EQ(c.ConnectOutput(), S_OK);
        ASSERT_EQ(c.source->Pin()->Disconnect(), S_OK);
        ASSERT_EQ(c.negate->InputPin()->Disconnect(), S_OK);
        IMemAllocator* offered = nullptr;
        ASSERT_EQ(c.negate->InputPin()->GetAllocator(&offered), S_OK);
        EXPECT_EQ(offered, c.sink->Pin()->PeekAllocator());
        offered->Release();
        ALLOCATOR_PROPERTIES required = {};
        EXPECT_EQ(c.negate->InputPin()->GetAllocatorRequirements(&required), S_OK);
        EXPECT_EQ(required.cBuffers, 4);
        ASSERT_EQ(c.ConnectInput(), S_OK);
        EXPECT_EQ(c.source->Pin()->PeekAllocator(), c.sink->Pin()->PeekAllocator());
        EXPECT_EQ(c.negate->OutputPin()->PeekAllocator(), c.sink->Pin()->PeekAllocator());
        ALLOCATOR_PROPERTIES props = {};
        c.sink->Pin()->PeekAllocator()->GetProperties(&props);
        EXPECT_EQ(props.cBuffers, 4);     // downstream's requirement
        EXPECT_EQ(props.cbBuffer, 4096);  // the source's buffer size beats the smaller request
    }
    {
        // A sink that keeps its own allocator: two allocators, sized for both sides, and the
        // very sample travels on uncopied.
        Chain c;
        c.sink->Pin()->insistOnOwnAllocator = true;
        ASSERT_EQ(c.ConnectInput(), S_OK);
        ASSERT_EQ(c.ConnectOutput(), S_OK);
        IMemAllocator* in = c.negate->InputPin()->PeekAllocator();
        IMemAllocator* out = c.negate->OutputPin()->PeekAllocator();
        EXPECT_NE(in, out);
        EXPECT_EQ(out, c.sink->Pin()->PeekAllocator());
        ALLOCATOR_PROPERTIES props = {};
        out->GetProperties(&props);
        EXPECT_GE(props.cbBuffer, 4096);  // at least what upstream hands in
        EXPECT_GE(props.cBuffers, 2);
        ASSERT_EQ(c.Run(), S_OK);
        const int16_t data[4] = {1, 2, 3, 4};
        EXPECT_EQ(c.source->Push(data, sizeof(data)), S_OK);
        ASSERT_EQ(c.sink->Pin()->samples.size(), 1u);
        const int16_t* got = reinterpret_cast<const int16_t*>(c.sink->Pin()->samples[0].data.data());
        EXPECT_EQ(got[3], -4);
    }
    {
        // A read-only allocator cannot carry a filter that writes into its buffers.
        Chain c;
        IMemAllocator* allocator = nullptr;
        ASSERT_EQ(CMemAllocator::CreateInstance(&allocator), S_OK);
        EXPECT_EQ(c.negate->InputPin()->NotifyAllocator(allocator, TRUE), E_FAIL);
        EXPECT_EQ(c.negate->InputPin()->NotifyAllocator(nullptr, FALSE), E_POINTER);
        EXPECT_EQ(c.negate->InputPin()->NotifyAllocator(allocator, FALSE), S_OK);
        EXPECT_EQ(c.negate->InputPin()->PeekAllocator(), allocator);
        EXPECT_EQ(allocator->Release(), 1u);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowTransInPlace, StateChangesStartAndStopStreamingOnce) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        Chain c;
        FILTER_STATE state;
        EXPECT_EQ(c.negate->GetState(0, &state), S_OK);
        EXPECT_EQ(state, State_Stopped);
        EXPECT_EQ(c.negate->GetState(0, nullptr), E_POINTER);

        // Unconnected: no streaming start, no end-of-stream to anyone.
        EXPECT_EQ(c.negate->Pause(), S_OK);
        EXPECT_EQ(c.negate->starts, 0);
        EXPECT_EQ(c.negate->Stop(), S_OK);

        ASSERT_EQ(c.ConnectInput(), S_OK);
        ASSERT_EQ(c.ConnectOutput(), S_OK);
        EXPECT_EQ(c.negate->Pause(), S_OK);
        EXPECT_EQ(c.negate->starts, 1);
        EXPECT_EQ(c.negate->Pause(), S_OK);
        EXPECT_EQ(c.negate->Run(0), S_OK);
        EXPECT_EQ(c.negate->GetState(0, &state), S_OK);
        EXPECT_EQ(state, State_Running);
        EXPECT_EQ(c.negate->Pause(), S_OK);  // running -> paused is no new start
        EXPECT_EQ(c.negate->starts, 1);
        EXPECT_EQ(c.negate->stops, 0);
        EXPECT_EQ(c.negate->Stop(), S_OK);
        EXPECT_EQ(c.negate->Stop(), S_OK);
        EXPECT_EQ(c.negate->stops, 1);
        // Run from stopped passes through paused.
        EXPECT_EQ(c.negate->Run(0), S_OK);
        EXPECT_EQ(c.negate->starts, 2);
        EXPECT_EQ(c.negate->Stop(), S_OK);

        // A failing start leaves the filter stopped.
        c.negate->startResult = E_OUTOFMEMORY;
        EXPECT_EQ(c.negate->Pause(), E_OUTOFMEMORY);
        EXPECT_TRUE(c.negate->IsStopped());
        c.negate->startResult = S_OK;

        // With no input connection downstream hears end-of-stream once.
        ASSERT_EQ(c.source->Pin()->Disconnect(), S_OK);
        ASSERT_EQ(c.negate->InputPin()->Disconnect(), S_OK);
        EXPECT_EQ(c.negate->Pause(), S_OK);
        EXPECT_EQ(c.negate->Run(0), S_OK);
        EXPECT_EQ(c.negate->Pause(), S_OK);
        EXPECT_EQ(c.sink->Pin()->endOfStreams, 1);
        EXPECT_EQ(c.negate->starts, 3);  // failed attempt counted, no start without input
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowTransInPlace, SamplesFlushesSegmentsAndEndOfStream) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        Chain c;
        ASSERT_EQ(c.ConnectInput(), S_OK);
        ASSERT_EQ(c.ConnectOutput(), S_OK);
        const int16_t data[4] = {100, -200, 300, -32768};
        // Stopped: refused.
        EXPECT_EQ(c.negate->InputPin()->Receive(nullptr), E_POINTER);
        ASSERT_EQ(c.Run(), S_OK);

        REFERENCE_TIME start = 1000;
        REFERENCE_TIME stop = 2000;
        EXPECT_EQ(c.source->Push(data, sizeof(data), true, &start, &stop), S_OK);
        ASSERT_EQ(c.sink->Pin()->samples.size(), 1u);
        const tw::test::ReceivedSample& r = c.sink->Pin()->samples[0];
        ASSERT_EQ(r.data.size(), sizeof(data));
        const int16_t* got = reinterpret_cast<const int16_t*>(r.data.data());
        EXPECT_EQ(got[0], -100);
        EXPECT_EQ(got[1], 200);
        EXPECT_EQ(got[2], -300);
        EXPECT_EQ(got[3], -32768);  // -(-32768) wraps in 16 bits
        EXPECT_TRUE(r.discontinuity);
        EXPECT_EQ(r.timeResult, S_OK);
        EXPECT_EQ(r.start, 1000);
        EXPECT_EQ(r.stop, 2000);

        // A sample the transform drops is not delivered, and the sender hears success.
        const int16_t dropped[2] = {0x7777, 1};
        EXPECT_EQ(c.source->Push(dropped, sizeof(dropped)), S_OK);
        EXPECT_EQ(c.sink->Pin()->samples.size(), 1u);

        // Downstream's refusal comes back to the sender.
        c.sink->Pin()->receiveResult = S_FALSE;
        EXPECT_EQ(c.source->Push(data, sizeof(data)), S_FALSE);
        c.sink->Pin()->receiveResult = S_OK;

        // Flushing: passed downstream; samples in between are refused with S_FALSE.
        EXPECT_EQ(c.negate->InputPin()->BeginFlush(), S_OK);
        EXPECT_EQ(c.sink->Pin()->beginFlushes, 1);
        const size_t delivered = c.sink->Pin()->samples.size();
        EXPECT_EQ(c.source->Push(data, sizeof(data)), S_FALSE);
        EXPECT_EQ(c.sink->Pin()->samples.size(), delivered);
        EXPECT_EQ(c.negate->InputPin()->EndOfStream(), S_FALSE);
        EXPECT_EQ(c.negate->InputPin()->EndFlush(), S_OK);
        EXPECT_EQ(c.sink->Pin()->endFlushes, 1);
        EXPECT_EQ(c.source->Push(data, sizeof(data)), S_OK);
        EXPECT_EQ(c.sink->Pin()->samples.size(), delivered + 1);

        EXPECT_EQ(c.negate->InputPin()->NewSegment(10, 20, 1.0), S_OK);
        EXPECT_EQ(c.sink->Pin()->newSegments, 1);
        EXPECT_EQ(c.sink->Pin()->SegmentStart(), 10);
        EXPECT_EQ(c.sink->Pin()->SegmentStop(), 20);

        EXPECT_EQ(c.negate->InputPin()->EndOfStream(), S_OK);
        EXPECT_EQ(c.sink->Pin()->endOfStreams, 1);
        // Output pins take no stream control.
        EXPECT_EQ(c.negate->OutputPin()->EndOfStream(), E_UNEXPECTED);
        EXPECT_EQ(c.negate->OutputPin()->BeginFlush(), E_UNEXPECTED);

        ASSERT_EQ(c.StopAll(), S_OK);
        // After stopping, nothing streams.
        EXPECT_EQ(c.source->Push(data, sizeof(data)), VFW_E_NOT_COMMITTED);
        EXPECT_EQ(c.negate->InputPin()->EndOfStream(), VFW_E_WRONG_STATE);
        EXPECT_EQ(c.negate->transforms.load(), 3);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowTransInPlace, StopWaitsForTheStreamingThread) {
    const LONG before = CBaseObject::ObjectsActive();
    {
        Chain c;
        c.negate->slowTransform = true;
        ASSERT_EQ(c.ConnectInput(), S_OK);
        ASSERT_EQ(c.ConnectOutput(), S_OK);
        ASSERT_EQ(c.Run(), S_OK);
        std::atomic<bool> done{false};
        std::thread streaming([&] {
            const int16_t data[64] = {};
            while (c.source->Push(data, sizeof(data)) == S_OK) {
            }
            done = true;
        });
        while (c.negate->transforms.load() < 3) std::this_thread::yield();
        // The negate filter stops first here: its input allocator is decommitted, so the
        // source's deliveries fail and the loop ends.
        EXPECT_EQ(c.negate->Stop(), S_OK);
        const int transformsAtStop = c.negate->transforms.load();
        streaming.join();
        EXPECT_TRUE(done.load());
        EXPECT_EQ(c.negate->transforms.load(), transformsAtStop);  // none after StopStreaming
        EXPECT_EQ(c.negate->stops, 1);
    }
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowBaseFilter, JoinsAGraphWithoutHoldingItAndSendsEvents) {
    const LONG before = CBaseObject::ObjectsActive();
    NegateFilter* filter = NegateFilter::Create();
    TestGraph graph;
    EXPECT_EQ(filter->JoinFilterGraph(&graph, TW_W("BRIO")), S_OK);
    EXPECT_EQ(graph.ref, 1u);
    FILTER_INFO info = {};
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_TRUE(tw::dshow::WideEqual(info.achName, TW_W("BRIO")));
    EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(&graph));
    EXPECT_EQ(graph.ref, 2u);
    info.pGraph->Release();
    EXPECT_EQ(filter->QueryFilterInfo(nullptr), E_POINTER);

    EXPECT_EQ(filter->NotifyEvent(EC_COMPLETE, S_OK, 0), S_OK);
    ASSERT_EQ(graph.events.size(), 1u);
    EXPECT_EQ(graph.events[0].code, EC_COMPLETE);
    EXPECT_EQ(graph.events[0].param2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(filter)));

    EXPECT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.achName[0], 0);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(filter->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);

    // The clock is held while set.
    struct FakeClock final : public IReferenceClock {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
        ULONG STDMETHODCALLTYPE Release() override { return --ref; }
        HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME*) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT,
                                             DWORD_PTR*) override {
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE,
                                                 DWORD_PTR*) override {
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
        ULONG ref = 1;
    } clock;
    IReferenceClock* got = reinterpret_cast<IReferenceClock*>(1);
    EXPECT_EQ(filter->GetSyncSource(&got), S_OK);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(filter->GetSyncSource(nullptr), E_POINTER);
    EXPECT_EQ(filter->SetSyncSource(&clock), S_OK);
    EXPECT_EQ(clock.ref, 2u);
    EXPECT_EQ(filter->GetSyncSource(&got), S_OK);
    EXPECT_EQ(got, static_cast<IReferenceClock*>(&clock));
    got->Release();
    EXPECT_EQ(filter->SetSyncSource(nullptr), S_OK);
    EXPECT_EQ(clock.ref, 1u);
    EXPECT_EQ(filter->SetSyncSource(&clock), S_OK);
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(clock.ref, 1u);  // the last reference let the clock go
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

namespace {

// Records every mapper call as one line of text.
class RecordingMapper final : public IFilterMapper {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
    ULONG STDMETHODCALLTYPE Release() override { return --ref; }
    HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID clsid, LPCWSTR name, DWORD merit) override {
        calls.push_back("filter " + std::to_string(clsid.Data1) + " " + Narrow(name) + " " +
                        std::to_string(merit));
        return Next();
    }
    HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RegisterPin(CLSID, LPCWSTR name, BOOL rendered, BOOL output,
                                          BOOL zero, BOOL many, CLSID toFilter,
                                          LPCWSTR toPin) override {
        calls.push_back("pin " + Narrow(name) + " " + std::to_string(rendered) +
                        std::to_string(output) + std::to_string(zero) + std::to_string(many) +
                        " " + std::to_string(toFilter.Data1) + " " + Narrow(toPin));
        return Next();
    }
    HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID, LPCWSTR name, CLSID major,
                                              CLSID minor) override {
        calls.push_back("type " + Narrow(name) + " " + std::to_string(major.Data1) + " " +
                        std::to_string(minor.Data1));
        return Next();
    }
    HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID clsid) override {
        calls.push_back("unregister " + std::to_string(clsid.Data1));
        return Next();
    }
    HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters**, DWORD, BOOL, CLSID, CLSID,
                                                  BOOL, BOOL, CLSID, CLSID) override {
        return E_NOTIMPL;
    }

    static std::string Narrow(LPCWSTR text) {
        std::string s;
        for (; text && *text; ++text) s.push_back(static_cast<char>(*text));
        return s;
    }
    HRESULT Next() {
        const size_t i = calls.size() - 1;
        return i < results.size() ? results[i] : S_OK;
    }

    ULONG ref = 1;
    std::vector<std::string> calls;
    std::vector<HRESULT> results;  // per call in order; S_OK beyond
};

RecordingMapper* g_mapper = nullptr;
HRESULT g_mapperCreateResult = S_OK;

HRESULT MakeRecordingMapper(IFilterMapper** out) {
    if (FAILED(g_mapperCreateResult)) return g_mapperCreateResult;
    g_mapper->AddRef();
    *out = g_mapper;
    return S_OK;
}

}  // namespace

TEST(DShowBaseFilter, MovieSetupRegistersTheSetupDataThroughTheMapper) {
    const LONG before = CBaseObject::ObjectsActive();
    NegateFilter* filter = NegateFilter::Create();
    RecordingMapper mapper;
    g_mapper = &mapper;
    g_mapperCreateResult = S_OK;
    tw::dshow::SetFilterMapperFactory(MakeRecordingMapper);

    const HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002);
    const HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005);
    mapper.results = {kFileNotFound};  // never registered before: not an error
    EXPECT_EQ(filter->Register(), S_OK);
    const std::vector<std::string> expected = {
        "unregister " + std::to_string(kNegateClsid.Data1),
        "filter " + std::to_string(kNegateClsid.Data1) + " Negate 2097152",
        "pin Input 0000 0 Output",
        "type Input " + std::to_string(MEDIATYPE_Audio.Data1) + " 0",
        "pin Output 0100 0 Input",
        "type Output " + std::to_string(MEDIATYPE_Audio.Data1) + " 0",
    };
    EXPECT_EQ(mapper.calls, expected);
    EXPECT_EQ(mapper.ref, 1u);

    // The first failing step ends the registration and is reported.
    mapper.calls.clear();
    mapper.results = {S_OK, S_OK, kAccessDenied};
    EXPECT_EQ(filter->Register(), kAccessDenied);
    EXPECT_EQ(mapper.calls.size(), 3u);

    mapper.calls.clear();
    mapper.results = {kFileNotFound};
    EXPECT_EQ(filter->Unregister(), S_OK);
    ASSERT_EQ(mapper.calls.size(), 1u);
    EXPECT_EQ(mapper.calls[0], "unregister " + std::to_string(kNegateClsid.Data1));
    mapper.calls.clear();
    mapper.results = {E_FAIL};
    EXPECT_EQ(filter->Unregister(), E_FAIL);

    // No mapper: its failure is the result.
    g_mapperCreateResult = REGDB_E_CLASSNOTREG;
    EXPECT_EQ(filter->Register(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(filter->Unregister(), REGDB_E_CLASSNOTREG);
    g_mapperCreateResult = S_OK;

    // No setup data: nothing to do.
    filter->withSetup = false;
    mapper.calls.clear();
    EXPECT_EQ(filter->Register(), S_FALSE);
    EXPECT_EQ(filter->Unregister(), S_FALSE);
    EXPECT_TRUE(mapper.calls.empty());

    tw::dshow::SetFilterMapperFactory(nullptr);
#ifndef _WIN32
    filter->withSetup = true;
    EXPECT_EQ(filter->Register(), REGDB_E_CLASSNOTREG);  // natively there is no system mapper
#endif
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}
