#include "filter/persist.h"

#include "filter/transform.h"
#include "platform/com_stream.h"
#include "platform/window_notice.h"
#include "tests/filter/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

using testing_support::CountingOuter;

namespace {

// A stream over a byte vector whose reads and writes can fail or fall short on chosen calls.
class ScriptedStream : public IStream {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        const int call = reads++;
        if (pcbRead) *pcbRead = 0;
        if (call == failReadCall) return failResult;
        ULONG n = static_cast<ULONG>(data.size() - position);
        if (n > cb) n = cb;
        std::memcpy(pv, data.data() + position, n);
        position += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;  // also when short, as memory streams do
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        const int call = writes++;
        if (pcbWritten) *pcbWritten = 0;
        if (onWrite) onWrite(call);
        if (call == failWriteCall) return failResult;
        if (call == shortWriteCall) cb /= 2;
        const unsigned char* bytes = static_cast<const unsigned char*>(pv);
        data.insert(data.end(), bytes, bytes + cb);
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    std::vector<unsigned char> data;
    size_t position = 0;
    int reads = 0;
    int writes = 0;
    int failReadCall = -1;
    int failWriteCall = -1;
    int shortWriteCall = -1;
    HRESULT failResult = STG_E_INVALIDFUNCTION;
    std::function<void(int)> onWrite;
};

// The stream a saved record makes, built by hand: 116, the identifier, the record.
std::vector<unsigned char> StreamBytes(const FxParams& p, uint32_t size = 116, const IID& iid = IID_ITwBrioFxProp) {
    std::vector<unsigned char> out(20 + sizeof(FxParams));
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(size >> (8 * i));
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<unsigned char>(iid.Data1 >> (8 * i));
    out[8] = static_cast<unsigned char>(iid.Data2);
    out[9] = static_cast<unsigned char>(iid.Data2 >> 8);
    out[10] = static_cast<unsigned char>(iid.Data3);
    out[11] = static_cast<unsigned char>(iid.Data3 >> 8);
    std::memcpy(&out[12], iid.Data4, 8);
    std::memcpy(&out[20], &p, sizeof p);
    return out;
}

FxParams Distinct() {
    FxParams p = kDefaultFxParams;
    p.delayClock = kClockTime;
    p.delayNote = kNoteEighthTriplet;
    p.delayTime = 4321;
    p.delayDecay = 456;
    p.delayMix = 789;
    p.delayOn = 1;
    p.reverbType = kReverbPlate;
    p.reverbMix = 321;
    p.reverbOn = 1;
    p.lfoType = kLfoWahWah;
    p.lfoClock = kClockTempo;
    p.lfoPeriod = kPeriodTwoMeasures;
    p.lfoRate = 10999;
    p.lfoDepth = 77;
    p.lfoOn = 1;
    p.distSlew = 55;
    p.distHardClip = 1;
    p.distOn = 1;
    p.eqMid = -123;
    p.eqBass = 45;
    p.eqTreble = 249;
    p.eqOn = 1;
    p.tempo = 97.25;
    return p;
}

// Saved, and every pending change taken by the streaming side.
void MarkSaved(CTwBrioFxTransform& fx) {
    ChainSnapshot s;
    fx.Snapshot(&s);
    FxParams p;
    fx.ClearDirtySince(fx.ParamsForSave(&p));
}

size_t Notices(HWND window, WPARAM* last = nullptr) {
    tw::PostedMessage msgs[16];
    const size_t n = tw::TakePostedMessages(window, msgs, 16);
    if (n && last) *last = msgs[n - 1].wParam;
    return n;
}

}  // namespace

TEST(Persist, SaveWritesTheLayoutAndLoadRestoresIt) {
    CountingOuter outerA, outerB;
    CTwBrioFxTransform a(&outerA), b(&outerB);
    const FxParams x = Distinct();
    ASSERT_EQ(S_OK, a.SetParams(&x));

    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, tw::CreateMemoryStream(&stream));
    EXPECT_EQ(S_OK, PersistSave(a, stream, TRUE));
    EXPECT_EQ(S_FALSE, PersistIsDirty(a));

    LARGE_INTEGER zero{};
    ULARGE_INTEGER end{};
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_CUR, &end));
    EXPECT_EQ(116u, end.QuadPart);
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    std::vector<unsigned char> bytes(116);
    ULONG got = 0;
    ASSERT_EQ(S_OK, stream->Read(bytes.data(), 116, &got));
    ASSERT_EQ(116u, got);
    EXPECT_EQ(StreamBytes(x), bytes);

    HWND window = tw::CreateNoticeWindow();
    ASSERT_EQ(S_OK, b.SetNotifyWindow(window, kNoticeCommandId));
    MarkSaved(b);
    ASSERT_EQ(S_OK, stream->Seek(zero, STREAM_SEEK_SET, nullptr));
    EXPECT_EQ(S_OK, PersistLoad(b, stream));
    FxParams y;
    b.GetParams(&y);
    EXPECT_EQ(0, std::memcmp(&x, &y, sizeof x));
    EXPECT_EQ(S_OK, PersistIsDirty(b));
    ChainSnapshot s;
    EXPECT_EQ(static_cast<uint32_t>(kChangeAllWithReset), b.Snapshot(&s) & kChangeAllWithReset);
    WPARAM wParam = 0;
    EXPECT_EQ(1u, Notices(window, &wParam));
    EXPECT_EQ((WPARAM{100} << 16) | 32700, wParam);

    stream->Release();
    b.SetNotifyWindow(window, 0);
    tw::DestroyNoticeWindow(window);
}

TEST(Persist, RefusedHeadersChangeNothing) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    HWND window = tw::CreateNoticeWindow();
    fx.SetNotifyWindow(window, kNoticeCommandId);
    MarkSaved(fx);
    FxParams before;
    fx.GetParams(&before);

    IID other = IID_ITwBrioFxProp;
    other.Data4[7] ^= 1;
    ScriptedStream wrongSize, wrongId, shortHeader, failing;
    wrongSize.data = StreamBytes(Distinct(), 120);
    wrongId.data = StreamBytes(Distinct(), 116, other);
    shortHeader.data = StreamBytes(Distinct());
    shortHeader.data.resize(12);
    failing.data = StreamBytes(Distinct());
    failing.failReadCall = 0;

    EXPECT_EQ(E_FAIL, PersistLoad(fx, &wrongSize));
    EXPECT_EQ(E_FAIL, PersistLoad(fx, &wrongId));
    EXPECT_EQ(E_FAIL, PersistLoad(fx, &shortHeader));
    EXPECT_EQ(STG_E_INVALIDFUNCTION, PersistLoad(fx, &failing));
    EXPECT_EQ(E_POINTER, PersistLoad(fx, nullptr));
    EXPECT_EQ(1, wrongSize.reads);  // the record is not even read

    FxParams after;
    fx.GetParams(&after);
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
    EXPECT_EQ(S_FALSE, PersistIsDirty(fx));
    EXPECT_FALSE(fx.HasPendingChanges());
    EXPECT_EQ(0u, Notices(window));
    fx.SetNotifyWindow(window, 0);
    tw::DestroyNoticeWindow(window);
}

TEST(Persist, RecordCutShortOrUnreadableChangesNothing) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    HWND window = tw::CreateNoticeWindow();
    fx.SetNotifyWindow(window, kNoticeCommandId);
    MarkSaved(fx);
    FxParams before;
    fx.GetParams(&before);

    ScriptedStream cut, unreadable;
    cut.data = StreamBytes(Distinct());
    cut.data.resize(20 + 50);  // the read reports S_OK with 50 bytes
    unreadable.data = StreamBytes(Distinct());
    unreadable.failReadCall = 1;

    EXPECT_EQ(E_FAIL, PersistLoad(fx, &cut));
    EXPECT_EQ(STG_E_INVALIDFUNCTION, PersistLoad(fx, &unreadable));

    FxParams after;
    fx.GetParams(&after);
    EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
    EXPECT_EQ(S_FALSE, PersistIsDirty(fx));
    EXPECT_FALSE(fx.HasPendingChanges());
    // The page re-reads its controls after any load attempt that got past the header.
    EXPECT_EQ(2u, Notices(window));
    fx.SetNotifyWindow(window, 0);
    tw::DestroyNoticeWindow(window);
}

TEST(Persist, LoadedRecordsAreClamped) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        int32_t FxParams::*field;
        int32_t value;
        int32_t stored;
    } ints[] = {{&FxParams::delayTime, -5, 0}, {&FxParams::lfoRate, 20000, 11000}, {&FxParams::eqBass, 999, 250}};
    for (const Case& c : ints) {
        CountingOuter outer;
        CTwBrioFxTransform fx(&outer);
        FxParams p = Distinct();
        p.*c.field = c.value;
        ScriptedStream s;
        s.data = StreamBytes(p);
        ASSERT_EQ(S_OK, PersistLoad(fx, &s));
        FxParams out;
        fx.GetParams(&out);
        EXPECT_EQ(c.stored, out.*c.field) << c.value;
    }
    const double tempos[][2] = {{500, 250}, {nan, 120}, {inf, 120}, {-inf, 120}, {10, 40}};
    for (const auto& t : tempos) {
        CountingOuter outer;
        CTwBrioFxTransform fx(&outer);
        FxParams p = Distinct();
        p.tempo = t[0];
        ScriptedStream s;
        s.data = StreamBytes(p);
        ASSERT_EQ(S_OK, PersistLoad(fx, &s));
        FxParams out;
        fx.GetParams(&out);
        EXPECT_EQ(t[1], out.tempo) << t[0];
    }
}

TEST(Persist, DirtyFlagFollowsChangesAndSaves) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    EXPECT_EQ(S_OK, PersistIsDirty(fx));  // the construction-time load

    ScriptedStream keep;
    EXPECT_EQ(S_OK, PersistSave(fx, &keep, FALSE));
    EXPECT_EQ(S_OK, PersistIsDirty(fx));
    EXPECT_EQ(116u, keep.data.size());

    ScriptedStream clear;
    EXPECT_EQ(S_OK, PersistSave(fx, &clear, TRUE));
    EXPECT_EQ(S_FALSE, PersistIsDirty(fx));
    EXPECT_EQ(keep.data, clear.data);

    fx.SetDelayMix(500);  // the value it has
    fx.FoldTempo(90.0);   // the host's tempo is no user change
    EXPECT_EQ(S_FALSE, PersistIsDirty(fx));
    fx.SetDelayMix(501);
    EXPECT_EQ(S_OK, PersistIsDirty(fx));

    // Failed or short writes keep the flag: the project is not saved.
    ScriptedStream headerFails, recordFails, recordShort;
    headerFails.failWriteCall = 0;
    recordFails.failWriteCall = 1;
    recordShort.shortWriteCall = 1;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, PersistSave(fx, &headerFails, TRUE));
    EXPECT_EQ(1, headerFails.writes);
    EXPECT_EQ(STG_E_INVALIDFUNCTION, PersistSave(fx, &recordFails, TRUE));
    EXPECT_EQ(STG_E_MEDIUMFULL, PersistSave(fx, &recordShort, TRUE));
    EXPECT_EQ(S_OK, PersistIsDirty(fx));
    EXPECT_EQ(E_POINTER, PersistSave(fx, nullptr, TRUE));

    // A change that arrives while the record is being written is not in the stream.
    ScriptedStream racing;
    racing.onWrite = [&](int call) {
        if (call == 1) fx.SetDelayMix(502);
    };
    EXPECT_EQ(S_OK, PersistSave(fx, &racing, TRUE));
    EXPECT_EQ(S_OK, PersistIsDirty(fx));
    ScriptedStream calm;
    EXPECT_EQ(S_OK, PersistSave(fx, &calm, TRUE));
    EXPECT_EQ(S_FALSE, PersistIsDirty(fx));

    ScriptedStream load;
    load.data = calm.data;
    EXPECT_EQ(S_OK, PersistLoad(fx, &load));
    EXPECT_EQ(S_OK, PersistIsDirty(fx));
}

TEST(Persist, SizeAndClassId) {
    ULARGE_INTEGER size;
    size.QuadPart = ~0ull;
    EXPECT_EQ(S_OK, PersistGetSizeMax(&size));
    EXPECT_EQ(116u, size.QuadPart);
    EXPECT_EQ(E_POINTER, PersistGetSizeMax(nullptr));

    const CLSID filter = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    CLSID out{};
    EXPECT_EQ(S_OK, PersistGetClassID(filter, &out));
    EXPECT_TRUE(IsEqualGUID(filter, out));
    EXPECT_EQ(E_POINTER, PersistGetClassID(filter, nullptr));
}
