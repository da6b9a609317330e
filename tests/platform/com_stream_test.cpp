#include "platform/com_stream.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The stream's function table as a C caller sees it, slot by slot.
struct StreamVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(IStream*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* AddRef)(IStream*);
    ULONG(STDMETHODCALLTYPE* Release)(IStream*);
    HRESULT(STDMETHODCALLTYPE* Read)(IStream*, void*, ULONG, ULONG*);
    HRESULT(STDMETHODCALLTYPE* Write)(IStream*, const void*, ULONG, ULONG*);
    HRESULT(STDMETHODCALLTYPE* Seek)(IStream*, LARGE_INTEGER, DWORD, ULARGE_INTEGER*);
    HRESULT(STDMETHODCALLTYPE* SetSize)(IStream*, ULARGE_INTEGER);
    void* CopyTo;
    void* Commit;
    void* Revert;
    void* LockRegion;
    void* UnlockRegion;
    HRESULT(STDMETHODCALLTYPE* Stat)(IStream*, STATSTG*, DWORD);
    HRESULT(STDMETHODCALLTYPE* Clone)(IStream*, IStream**);
};

struct PersistStreamVtbl {
    void* QueryInterface;
    void* AddRef;
    void* Release;
    HRESULT(STDMETHODCALLTYPE* GetClassID)(IPersistStream*, CLSID*);
    HRESULT(STDMETHODCALLTYPE* IsDirty)(IPersistStream*);
    HRESULT(STDMETHODCALLTYPE* Load)(IPersistStream*, IStream*);
    HRESULT(STDMETHODCALLTYPE* Save)(IPersistStream*, IStream*, BOOL);
    HRESULT(STDMETHODCALLTYPE* GetSizeMax)(IPersistStream*, ULARGE_INTEGER*);
};

template <typename Vtbl, typename T>
const Vtbl* TableOf(T* object) {
    return *reinterpret_cast<Vtbl* const*>(object);
}

LARGE_INTEGER Move(LONGLONG v) {
    LARGE_INTEGER li;
    li.QuadPart = v;
    return li;
}

ULARGE_INTEGER Size(ULONGLONG v) {
    ULARGE_INTEGER li;
    li.QuadPart = v;
    return li;
}

// Each slot answers with its own number, so a call through the table shows which slot it hit.
class SlotPersist final : public IPersistStream {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return 3; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return 4; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) override { return 5; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return 6; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override {
        size->QuadPart = 116;
        return 7;
    }
};

}  // namespace

TEST(ComStream, InterfaceIdsAndTypes) {
    const IID stream = {0x0000000C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const IID persist = {0x0000010C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const IID persistStream = {0x00000109, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const IID sequential = {0x0C733A30, 0x2A1C, 0x11CE,
                            {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    EXPECT_TRUE(IsEqualIID(IID_IStream, stream));
    EXPECT_TRUE(IsEqualIID(IID_IPersist, persist));
    EXPECT_TRUE(IsEqualIID(IID_IPersistStream, persistStream));
    EXPECT_TRUE(IsEqualIID(IID_ISequentialStream, sequential));
    EXPECT_EQ(sizeof(LARGE_INTEGER), 8u);
    EXPECT_EQ(sizeof(ULARGE_INTEGER), 8u);
    EXPECT_EQ(offsetof(STATSTG, cbSize), sizeof(void*) == 8 ? 16u : 8u);
    EXPECT_EQ(sizeof(STATSTG), sizeof(void*) == 8 ? 80u : 72u);
    EXPECT_EQ(STREAM_SEEK_SET, 0);
    EXPECT_EQ(STREAM_SEEK_CUR, 1);
    EXPECT_EQ(STREAM_SEEK_END, 2);
}

TEST(ComStream, ReadWriteAndShortReadAtTheEnd) {
    EXPECT_EQ(tw::CreateMemoryStream(nullptr), E_POINTER);
    IStream* s = nullptr;
    ASSERT_EQ(tw::CreateMemoryStream(&s), S_OK);
    ASSERT_NE(s, nullptr);

    const BYTE data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ULONG n = 99;
    ASSERT_EQ(s->Write(data, sizeof(data), &n), S_OK);
    EXPECT_EQ(n, 10u);

    ULARGE_INTEGER pos;
    ASSERT_EQ(s->Seek(Move(0), STREAM_SEEK_SET, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 0u);

    BYTE back[16];
    std::memset(back, 0xEE, sizeof(back));
    n = 99;
    EXPECT_EQ(s->Read(back, sizeof(back), &n), S_OK);  // short, yet success
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(std::memcmp(back, data, 10), 0);
    EXPECT_EQ(back[10], 0xEE);

    n = 99;
    EXPECT_EQ(s->Read(back, 4, &n), S_OK);  // at the end: nothing, still success
    EXPECT_EQ(n, 0u);

    EXPECT_EQ(s->Release(), 0u);
}

TEST(ComStream, SeekSetSizeAndStat) {
    IStream* s = nullptr;
    ASSERT_EQ(tw::CreateMemoryStream(&s), S_OK);
    const BYTE data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(s->Write(data, sizeof(data), nullptr), S_OK);

    ULARGE_INTEGER pos;
    ASSERT_EQ(s->Seek(Move(-3), STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 7u);
    BYTE b = 0;
    ULONG n = 0;
    ASSERT_EQ(s->Read(&b, 1, &n), S_OK);
    EXPECT_EQ(b, 8);
    ASSERT_EQ(s->Seek(Move(-2), STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 8u);
    EXPECT_TRUE(FAILED(s->Seek(Move(-1), STREAM_SEEK_SET, &pos)));
    EXPECT_TRUE(FAILED(s->Seek(Move(0), 7, &pos)));
#ifndef _WIN32
    EXPECT_EQ(s->Seek(Move(-11), STREAM_SEEK_END, &pos), STG_E_INVALIDFUNCTION);
#endif
    ASSERT_EQ(s->Seek(Move(0), STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 8u);  // a refused seek leaves the position

    // Past the end, then write: the gap reads as zeros.
    ASSERT_EQ(s->Seek(Move(14), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(s->Write(data, 2, &n), S_OK);
    STATSTG st;
    std::memset(&st, 0xCC, sizeof(st));
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(st.cbSize.QuadPart, 16u);
    BYTE all[16];
    ASSERT_EQ(s->Seek(Move(0), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(s->Read(all, 16, &n), S_OK);
    ASSERT_EQ(n, 16u);
    EXPECT_EQ(std::memcmp(all, data, 10), 0);
    EXPECT_EQ(all[14], 1);
    EXPECT_EQ(all[15], 2);
#ifndef _WIN32
    // Our stream zero-fills gaps; the system's leaves their contents undefined.
    const BYTE gap[4] = {0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(all + 10, gap, 4), 0);
#endif

    // Shrinking keeps the head; growing again (natively) brings zeros back, not the old tail.
    ASSERT_EQ(s->SetSize(Size(4)), S_OK);
    ASSERT_EQ(s->SetSize(Size(8)), S_OK);
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 8u);
    ASSERT_EQ(s->Seek(Move(0), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(s->Read(all, 16, &n), S_OK);
    ASSERT_EQ(n, 8u);
    EXPECT_EQ(std::memcmp(all, data, 4), 0);
#ifndef _WIN32
    const BYTE regrown[8] = {1, 2, 3, 4, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(all, regrown, 8), 0);
#endif

    EXPECT_EQ(s->Release(), 0u);
}

TEST(ComStream, SlotOrderThroughTheFunctionTable) {
    IStream* s = nullptr;
    ASSERT_EQ(tw::CreateMemoryStream(&s), S_OK);
    const StreamVtbl* v = TableOf<StreamVtbl>(s);

    void* q = nullptr;
    ASSERT_EQ(v->QueryInterface(s, IID_ISequentialStream, &q), S_OK);
    EXPECT_NE(q, nullptr);
    EXPECT_EQ(v->Release(s), 1u);
    EXPECT_EQ(v->QueryInterface(s, IID_IPersistStream, &q), E_NOINTERFACE);
    EXPECT_EQ(q, nullptr);
    EXPECT_EQ(v->AddRef(s), 2u);
    EXPECT_EQ(v->Release(s), 1u);

    const char text[] = "BRIO";
    ULONG n = 0;
    ASSERT_EQ(v->Write(s, text, 4, &n), S_OK);
    EXPECT_EQ(n, 4u);
    ULARGE_INTEGER pos;
    ASSERT_EQ(v->Seek(s, Move(1), STREAM_SEEK_SET, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 1u);
    char back[4] = {};
    ASSERT_EQ(v->Read(s, back, 4, &n), S_OK);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::memcmp(back, "RIO", 3), 0);
    ASSERT_EQ(v->SetSize(s, Size(2)), S_OK);
    STATSTG st;
    ASSERT_EQ(v->Stat(s, &st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 2u);
#ifndef _WIN32
    IStream* clone = reinterpret_cast<IStream*>(&st);
    EXPECT_EQ(v->Clone(s, &clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    EXPECT_EQ(s->Commit(0), E_NOTIMPL);
    EXPECT_EQ(s->CopyTo(nullptr, Size(1), nullptr, nullptr), E_NOTIMPL);
#endif
    EXPECT_EQ(v->Release(s), 0u);

    SlotPersist persist;
    IPersistStream* ps = &persist;
    const PersistStreamVtbl* pv = TableOf<PersistStreamVtbl>(ps);
    CLSID clsid;
    ULARGE_INTEGER size;
    EXPECT_EQ(pv->GetClassID(ps, &clsid), 3);
    EXPECT_EQ(pv->IsDirty(ps), 4);
    EXPECT_EQ(pv->Load(ps, nullptr), 5);
    EXPECT_EQ(pv->Save(ps, nullptr, TRUE), 6);
    EXPECT_EQ(pv->GetSizeMax(ps, &size), 7);
    EXPECT_EQ(size.QuadPart, 116u);
}

#ifndef _WIN32
static bool FailAllocations(size_t) { return false; }

TEST(ComStream, AllocationFailures) {
    tw::SetZeroAllocHook(FailAllocations);
    IStream* s = reinterpret_cast<IStream*>(&s);
    EXPECT_EQ(tw::CreateMemoryStream(&s), E_OUTOFMEMORY);
    EXPECT_EQ(s, nullptr);
    tw::SetZeroAllocHook(nullptr);

    ASSERT_EQ(tw::CreateMemoryStream(&s), S_OK);
    tw::SetZeroAllocHook(FailAllocations);
    ULONG n = 99;
    EXPECT_EQ(s->Write("x", 1, &n), STG_E_MEDIUMFULL);
    EXPECT_EQ(n, 0u);
    tw::SetZeroAllocHook(nullptr);
    STATSTG st;
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 0u);
    EXPECT_EQ(s->Release(), 0u);
}
#endif
