#include "filter/presets.h"
#include "filter/transform.h"
#include "platform/window_notice.h"
#include "tests/filter/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using testing_support::CountingOuter;

namespace {

std::vector<WPARAM> Take(HWND window) {
    tw::PostedMessage msgs[16];
    const size_t n = tw::TakePostedMessages(window, msgs, 16);
    std::vector<WPARAM> out;
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(static_cast<UINT>(WM_COMMAND), msgs[i].message);
        EXPECT_EQ(0, msgs[i].lParam);
        out.push_back(msgs[i].wParam);
    }
    return out;
}

WPARAM Notice(WORD code, WORD id) { return (static_cast<WPARAM>(code) << 16) | id; }

}  // namespace

TEST(Notices, TwoSlotsRegisterUpdateAndDropGoneWindows) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    HWND w1 = tw::CreateNoticeWindow();
    HWND w2 = tw::CreateNoticeWindow();
    HWND w3 = tw::CreateNoticeWindow();
    ASSERT_TRUE(w1 && w2 && w3);

    EXPECT_EQ(S_OK, fx.SetNotifyWindow(w1, 32700));
    EXPECT_EQ(S_OK, fx.SetNotifyWindow(w2, 7));
    EXPECT_EQ(E_OUTOFMEMORY, fx.SetNotifyWindow(w3, 5));
    EXPECT_EQ(S_OK, fx.SetNotifyWindow(w3, 0));  // unregistering a stranger is no failure

    fx.Notify(kNoticeParamsLoaded);
    EXPECT_EQ(std::vector<WPARAM>{Notice(100, 32700)}, Take(w1));
    EXPECT_EQ(std::vector<WPARAM>{Notice(100, 7)}, Take(w2));
    EXPECT_TRUE(Take(w3).empty());

    // The same window again updates its slot; the pin direction is a code too.
    EXPECT_EQ(S_OK, fx.SetNotifyWindow(w2, 9));
    fx.Notify(1);
    EXPECT_EQ(std::vector<WPARAM>{Notice(1, 32700)}, Take(w1));
    EXPECT_EQ(std::vector<WPARAM>{Notice(1, 9)}, Take(w2));

    EXPECT_EQ(S_OK, fx.SetNotifyWindow(w1, 0));
    fx.Notify(0);
    EXPECT_TRUE(Take(w1).empty());
    EXPECT_EQ(S_OK, fx.SetNotifyWindow(w3, 5));  // the freed slot

    // A window that is gone is dropped on the next notice, freeing its slot.
    tw::DestroyNoticeWindow(w2);
    EXPECT_EQ(E_OUTOFMEMORY, fx.SetNotifyWindow(w1, 4));
    fx.Notify(100);
    EXPECT_EQ(std::vector<WPARAM>{Notice(100, 5)}, Take(w3));
    EXPECT_EQ(S_OK, fx.SetNotifyWindow(w1, 4));

    fx.SetNotifyWindow(w1, 0);
    fx.SetNotifyWindow(w3, 0);
    tw::DestroyNoticeWindow(w1);
    tw::DestroyNoticeWindow(w3);
}

TEST(PresetLoad, LoadingAPresetSetsEverythingAndTellsTheWindows) {
    CountingOuter outer;
    CTwBrioFxTransform fx(&outer);
    HWND window = tw::CreateNoticeWindow();
    fx.SetNotifyWindow(window, kNoticeCommandId);
    ChainSnapshot s;
    fx.Snapshot(&s);

    ASSERT_EQ(S_OK, fx.LoadPreset(13));  // "Th-THUMP"
    FxParams p;
    fx.GetParams(&p);
    EXPECT_EQ(1, p.delayOn);
    EXPECT_EQ(kClockTempo, p.delayClock);
    EXPECT_EQ(kNoteEighth, p.delayNote);
    EXPECT_EQ(600, p.delayMix);
    EXPECT_EQ(1, p.eqOn);
    EXPECT_EQ(-250, p.eqMid);
    EXPECT_EQ(60, p.eqBass);
    EXPECT_EQ(-250, p.eqTreble);
    EXPECT_EQ(0, p.reverbOn + p.lfoOn + p.distOn);
    EXPECT_EQ(120.0, p.tempo);
    EXPECT_TRUE(fx.IsDirty());
    EXPECT_EQ(static_cast<uint32_t>(kChangeAllWithReset), fx.Snapshot(&s) & kChangeAllWithReset);
    EXPECT_EQ(std::vector<WPARAM>{Notice(100, 32700)}, Take(window));

    ASSERT_EQ(S_OK, fx.LoadPreset(1));  // "Default all parameters"
    fx.GetParams(&p);
    EXPECT_EQ(0, p.delayOn + p.reverbOn + p.lfoOn + p.distOn + p.eqOn);
    EXPECT_EQ(0, std::memcmp(&p, &kFxPresets[0].params, sizeof p));
    EXPECT_EQ(1u, Take(window).size());

    fx.Snapshot(&s);
    EXPECT_EQ(E_INVALIDARG, fx.LoadPreset(14));
    EXPECT_EQ(E_INVALIDARG, fx.LoadPreset(-1));
    EXPECT_TRUE(Take(window).empty());
    EXPECT_FALSE(fx.HasPendingChanges());

    WCHAR name[kPresetNameChars];
    EXPECT_EQ(E_INVALIDARG, GetPresetName(14, name));
    EXPECT_EQ(E_INVALIDARG, GetPresetName(-1, name));

    fx.SetNotifyWindow(window, 0);
    tw::DestroyNoticeWindow(window);
}
