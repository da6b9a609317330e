#include "platform/dshow/combase.h"
#include "platform/dshow/media_type.h"

#include <gtest/gtest.h>

namespace {

const IID kIidTestThing = {0x1b2c3d4e, 0x0001, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x01}};

struct ITestThing : public IUnknown {
    virtual int STDMETHODCALLTYPE Value() = 0;
};

class CTestThing final : public CUnknown, public ITestThing {
public:
    explicit CTestThing(IUnknown* outer) : CUnknown(outer) {}
    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, kIidTestThing)) return GetInterface(static_cast<ITestThing*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    int STDMETHODCALLTYPE Value() override { return 42; }
    ~CTestThing() override { ++destroyed; }
    static int destroyed;
};
int CTestThing::destroyed = 0;

// An outer object that aggregates one CTestThing and exposes its interface as its own.
class Outer final : public IUnknown {
public:
    Outer() {
        CTestThing* thing = new CTestThing(this);
        inner = thing->NonDelegatingUnknown();
        inner->AddRef();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--ref == 0) {
            inner->Release();
            inner = nullptr;
        }
        return ref;
    }
    ULONG ref = 1;
    IUnknown* inner = nullptr;
};

}  // namespace

TEST(DShowCUnknown, StandAloneObjectCountsItselfAndAnswersItsInterfaces) {
    const LONG before = CBaseObject::ObjectsActive();
    CTestThing::destroyed = 0;
    CTestThing* thing = new CTestThing(nullptr);
    ASSERT_NE(thing, nullptr);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);
    IUnknown* unknown = thing->NonDelegatingUnknown();
    EXPECT_EQ(unknown->AddRef(), 1u);

    ITestThing* itf = nullptr;
    EXPECT_EQ(unknown->QueryInterface(kIidTestThing, reinterpret_cast<void**>(&itf)), S_OK);
    ASSERT_NE(itf, nullptr);
    EXPECT_EQ(itf->Value(), 42);
    EXPECT_EQ(unknown->AddRef(), 3u);  // the interface shares the object's count
    EXPECT_EQ(unknown->Release(), 2u);

    // Identity: IUnknown from any interface is the same pointer.
    IUnknown* again = nullptr;
    EXPECT_EQ(itf->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, unknown);
    again->Release();

    void* refused = reinterpret_cast<void*>(1);
    const IID other = {0x99, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(itf->QueryInterface(other, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(itf->QueryInterface(kIidTestThing, nullptr), E_POINTER);

    EXPECT_EQ(itf->Release(), 1u);
    EXPECT_EQ(unknown->Release(), 0u);
    EXPECT_EQ(CTestThing::destroyed, 1);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST(DShowCUnknown, AggregatedObjectDelegatesToItsOuterObject) {
    const LONG before = CBaseObject::ObjectsActive();
    CTestThing::destroyed = 0;
    Outer* outer = new Outer();
    ASSERT_NE(outer->inner, nullptr);

    ITestThing* itf = nullptr;
    EXPECT_EQ(outer->QueryInterface(kIidTestThing, reinterpret_cast<void**>(&itf)), S_OK);
    EXPECT_EQ(outer->ref, 2u);  // the inner interface counts on the outer object
    itf->AddRef();
    EXPECT_EQ(outer->ref, 3u);
    itf->Release();

    // The inner interface's IUnknown is the outer object's.
    IUnknown* identity = nullptr;
    EXPECT_EQ(itf->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(outer));
    identity->Release();
    // The non-delegating IUnknown answers for the inner object itself.
    IUnknown* innerIdentity = nullptr;
    EXPECT_EQ(outer->inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerIdentity)),
              S_OK);
    EXPECT_EQ(innerIdentity, outer->inner);
    innerIdentity->Release();

    itf->Release();
    EXPECT_EQ(outer->ref, 1u);
    EXPECT_EQ(outer->Release(), 0u);
    EXPECT_EQ(CTestThing::destroyed, 1);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
    delete outer;
}

TEST(DShowCUnknown, FailedAllocationGivesNullInsteadOfThrowing) {
    tw::SetZeroAllocHook([](size_t) { return false; });
    CTestThing* thing = new CTestThing(nullptr);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(thing, nullptr);
}

TEST(DShowMediaType, CopiesOwnTheirFormatBlockAndCompareByContent) {
    CMediaType a;
    EXPECT_FALSE(a.IsValid());
    a.SetType(&MEDIATYPE_Audio);
    a.SetSubtype(&MEDIASUBTYPE_PCM);
    a.SetFormatType(&FORMAT_WaveFormatEx);
    const BYTE block[4] = {1, 2, 3, 4};
    ASSERT_TRUE(a.SetFormat(block, 4));
    EXPECT_TRUE(a.IsValid());

    CMediaType b(a);
    EXPECT_NE(b.Format(), a.Format());
    EXPECT_EQ(b.FormatLength(), 4u);
    EXPECT_TRUE(a == b);
    b.Format()[3] = 5;
    EXPECT_FALSE(a == b);
    b = a;
    EXPECT_TRUE(a == b);
    b.SetSubtype(&MEDIASUBTYPE_IEEE_FLOAT);
    EXPECT_TRUE(a != b);

    AM_MEDIA_TYPE* task = CreateMediaType(&a);
    ASSERT_NE(task, nullptr);
    EXPECT_TRUE(CMediaType::Equal(*task, a));
    EXPECT_NE(task->pbFormat, a.pbFormat);
    DeleteMediaType(task);

    a.Reset();
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(a.FormatLength(), 0u);
    EXPECT_EQ(a.Format(), nullptr);
}

#ifndef _WIN32
// Natively task memory is the module's allocation, which the hook can fail; on windows it is the
// system's.
TEST(DShowMediaType, CopyFailsCleanlyWhenTheFormatBlockCannotBeAllocated) {
    CMediaType a;
    a.SetType(&MEDIATYPE_Audio);
    const BYTE block[18] = {};
    ASSERT_TRUE(a.SetFormat(block, 18));
    CMediaType b;
    tw::SetZeroAllocHook([](size_t) { return false; });
    const HRESULT hr = b.Set(a);
    AM_MEDIA_TYPE* task = CreateMediaType(&a);
    tw::SetZeroAllocHook(nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_FALSE(b.IsValid());
    EXPECT_EQ(b.Format(), nullptr);
    EXPECT_EQ(task, nullptr);
}
#endif

TEST(DShowWideText, CopyTruncatesAndTerminates) {
    WCHAR buffer[4];
    tw::dshow::WideCopy(buffer, 4, TW_W("Output"));
    EXPECT_TRUE(tw::dshow::WideEqual(buffer, TW_W("Out")));
    tw::dshow::WideCopy(buffer, 4, nullptr);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(tw::dshow::WideLength(TW_W("Input")), 5u);
    EXPECT_FALSE(tw::dshow::WideEqual(TW_W("In"), TW_W("Input")));
}
