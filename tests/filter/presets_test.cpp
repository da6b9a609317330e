#include "filter/presets.h"
#include "filter/resource_strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::u16string Wide(const WCHAR* s) {
    std::u16string out;
    for (; *s; ++s) out.push_back(static_cast<char16_t>(*s));
    return out;
}

std::u16string PresetName(int index) {
    WCHAR buffer[kPresetNameChars];
    std::memset(buffer, 0x55, sizeof(buffer));
    EXPECT_EQ(GetPresetName(index, buffer), S_OK) << "index " << index;
    return Wide(buffer);
}

// Each slot answers with its own number, so a call through the C view shows which slot it hit.
class SlotPreset final : public IStaticFilterPreset {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetPresetCount(int*) override { return 3; }
    HRESULT STDMETHODCALLTYPE GetPresetName(int, WCHAR*, int) override { return 4; }
    HRESULT STDMETHODCALLTYPE LoadPreset(int) override { return 5; }
};

}  // namespace

TEST(Presets, ThumpAndDefaultAllRowsExactly) {
    const FxParams& thump = kFxPresets[13].params;
    EXPECT_EQ(kFxPresets[13].nameId, 6033u);
    EXPECT_EQ(thump.delayOn, 1);
    EXPECT_EQ(thump.delayClock, kClockTempo);
    EXPECT_EQ(thump.delayNote, kNoteEighth);
    EXPECT_EQ(thump.delayTime, 11250);
    EXPECT_EQ(thump.delayDecay, 0);
    EXPECT_EQ(thump.delayMix, 600);
    EXPECT_EQ(thump.reverbOn, 0);
    EXPECT_EQ(thump.reverbType, kReverbHall);
    EXPECT_EQ(thump.reverbMix, 500);
    EXPECT_EQ(thump.lfoOn, 0);
    EXPECT_EQ(thump.lfoType, kLfoFlange);
    EXPECT_EQ(thump.lfoClock, kClockTime);
    EXPECT_EQ(thump.lfoPeriod, kPeriodOneMeasure);
    EXPECT_EQ(thump.lfoRate, 100);
    EXPECT_EQ(thump.lfoDepth, 50);
    EXPECT_EQ(thump.distOn, 0);
    EXPECT_EQ(thump.distSlew, 0);
    EXPECT_EQ(thump.distHardClip, 0);
    EXPECT_EQ(thump.eqOn, 1);
    EXPECT_EQ(thump.eqMid, -250);
    EXPECT_EQ(thump.eqBass, 60);
    EXPECT_EQ(thump.eqTreble, -250);
    EXPECT_EQ(thump.tempo, 120.0);

    // Row 1 switches every block off and is byte for byte row 0, the new filter's record.
    const FxParams& all = kFxPresets[1].params;
    EXPECT_EQ(kFxPresets[1].nameId, 6021u);
    EXPECT_EQ(all.delayOn + all.reverbOn + all.lfoOn + all.distOn + all.eqOn, 0);
    EXPECT_EQ(all.delayClock, 1);
    EXPECT_EQ(all.delayNote, 1);
    EXPECT_EQ(all.delayTime, 11250);
    EXPECT_EQ(all.delayMix, 500);
    EXPECT_EQ(all.reverbType, 1);
    EXPECT_EQ(all.reverbMix, 500);
    EXPECT_EQ(all.lfoPeriod, 2);
    EXPECT_EQ(all.lfoRate, 100);
    EXPECT_EQ(all.lfoDepth, 50);
    EXPECT_EQ(std::memcmp(&kFxPresets[0].params, &all, sizeof(FxParams)), 0);
    EXPECT_EQ(std::memcmp(&kDefaultFxParams, &all, sizeof(FxParams)), 0);

    // A few settings read back from other rows.
    EXPECT_EQ(kFxPresets[4].params.delayTime, 500);    // Slapback: 50.0 ms
    EXPECT_EQ(kFxPresets[5].params.delayTime, 10);     // Chirp: 1.0 ms
    EXPECT_EQ(kFxPresets[5].params.delayDecay, 900);
    EXPECT_EQ(kFxPresets[5].params.reverbOn, 1);
    EXPECT_EQ(kFxPresets[6].params.distOn, 1);
    EXPECT_EQ(kFxPresets[11].params.reverbType, kReverbClub);
    EXPECT_EQ(kFxPresets[12].params.reverbType, kReverbBigEmptyHall);
    EXPECT_EQ(kFxPresets[12].params.reverbMix, 100);
}

TEST(Presets, EveryRowIsInRange) {
    for (int i = 0; i < kPresetCount; ++i) {
        const FxParams& p = kFxPresets[i].params;
        SCOPED_TRACE(i);
        EXPECT_EQ(kFxPresets[i].nameId, kPresetNameIdFirst + static_cast<UINT>(i));
        EXPECT_EQ(p.tempo, 120.0);
        for (int32_t on : {p.delayOn, p.reverbOn, p.lfoOn, p.distOn, p.distHardClip, p.eqOn}) {
            EXPECT_TRUE(on == 0 || on == 1);
        }
        EXPECT_TRUE(p.delayClock == kClockTime || p.delayClock == kClockTempo);
        EXPECT_TRUE(p.lfoClock == kClockTime || p.lfoClock == kClockTempo);
        EXPECT_GE(p.delayNote, kNoteDottedQuarter);
        EXPECT_LE(p.delayNote, kNoteSixteenthTriplet);
        EXPECT_GE(p.delayTime, 0);
        EXPECT_LE(p.delayTime, 22500);
        EXPECT_GE(p.delayDecay, 0);
        EXPECT_LE(p.delayDecay, 900);
        EXPECT_GE(p.delayMix, 0);
        EXPECT_LE(p.delayMix, 1000);
        EXPECT_GE(p.reverbType, kReverbClub);
        EXPECT_LE(p.reverbType, kReverbBigEmptyHall);
        EXPECT_GE(p.reverbMix, 0);
        EXPECT_LE(p.reverbMix, 1000);
        EXPECT_GE(p.lfoType, kLfoFlange);
        EXPECT_LE(p.lfoType, kLfoWahWah);
        EXPECT_GE(p.lfoPeriod, kPeriodOneBeat);
        EXPECT_LE(p.lfoPeriod, kPeriodFourMeasures);
        EXPECT_GE(p.lfoRate, 1);
        EXPECT_LE(p.lfoRate, 11000);
        EXPECT_GE(p.lfoDepth, 1);
        EXPECT_LE(p.lfoDepth, 100);
        EXPECT_GE(p.distSlew, 0);
        EXPECT_LE(p.distSlew, 100);
        for (int32_t db : {p.eqMid, p.eqBass, p.eqTreble}) {
            EXPECT_GE(db, -250);
            EXPECT_LE(db, 250);
        }
    }
}

TEST(Presets, NamesAndIndexes) {
    tw::SetResourceLanguage(0);
    const char16_t* const names[kPresetCount] = {
        u"(Default)",       u"Default all parameters", u"Dotted Eighth Delay",
        u"Triplet Delay",   u"Slapback Delay",         u"Delay Chirp",
        u"Delay Crunch",    u"Two Beat Phaser",        u"One Measure Flanger",
        u"One Beat Wah",    u"Guitar Chorus",          u"Club Guitar",
        u"Distant Echoes",  u"Th-THUMP",
    };
    size_t longest = 0;
    for (int i = 0; i < kPresetCount; ++i) {
        const std::u16string name = PresetName(i);
        EXPECT_TRUE(name == names[i]) << "index " << i;
        longest = name.size() > longest ? name.size() : longest;
    }
    EXPECT_EQ(longest, 22u);  // fits kPresetNameChars with its NUL

    WCHAR buffer[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(GetPresetName(14, buffer), E_INVALIDARG);
    EXPECT_EQ(GetPresetName(-1, buffer), E_INVALIDARG);
    EXPECT_EQ(buffer[0], u'x');  // untouched
    EXPECT_EQ(GetPresetName(0, nullptr), E_POINTER);
}

TEST(ResourceStrings, LoadTruncateAndLanguage) {
    WCHAR buffer[32];
    tw::SetResourceLanguage(0);
    EXPECT_EQ(tw::GetResourceLanguage(), 1033);
    EXPECT_EQ(tw::LoadResString(6033, buffer, 32), 8);
    EXPECT_TRUE(Wide(buffer) == u"Th-THUMP");

    // Truncated to capacity - 1 and terminated.
    EXPECT_EQ(tw::LoadResString(6021, buffer, 8), 7);
    EXPECT_TRUE(Wide(buffer) == u"Default");
    EXPECT_EQ(tw::LoadResString(6021, buffer, 1), 0);
    EXPECT_EQ(buffer[0], 0);
    buffer[0] = u'x';
    EXPECT_EQ(tw::LoadResString(6021, buffer, 0), 0);
    EXPECT_EQ(buffer[0], u'x');
    EXPECT_EQ(tw::LoadResString(6021, nullptr, 8), 0);

    // Unknown ids give an empty string.
    buffer[0] = u'x';
    EXPECT_EQ(tw::LoadResString(59999, buffer, 32), 0);
    EXPECT_EQ(buffer[0], 0);

    // A language without strings of its own falls back to English, and 0 means 1033 again.
    tw::SetResourceLanguage(1031);
    EXPECT_EQ(tw::GetResourceLanguage(), 1031);
    EXPECT_EQ(tw::LoadResString(6024, buffer, 32), 14);
    EXPECT_TRUE(Wide(buffer) == u"Slapback Delay");
    tw::SetResourceLanguage(0);
    EXPECT_EQ(tw::GetResourceLanguage(), 1033);

#ifdef _WIN32
    // A module without a string table of its own leaves the built-in English strings.
    tw::SetResourceModule(GetModuleHandleW(nullptr));
    EXPECT_EQ(tw::LoadResString(6032, buffer, 32), 14);
    EXPECT_TRUE(Wide(buffer) == u"Distant Echoes");
    tw::SetResourceModule(nullptr);
#endif
}

TEST(Presets, InterfaceSlotOrder) {
    struct Vtbl {
        void* unknown[3];
        HRESULT(STDMETHODCALLTYPE* count)(IStaticFilterPreset*, int*);
        HRESULT(STDMETHODCALLTYPE* name)(IStaticFilterPreset*, int, WCHAR*, int);
        HRESULT(STDMETHODCALLTYPE* load)(IStaticFilterPreset*, int);
    };
    IStaticFilterPreset* itf = new SlotPreset;
    const Vtbl* v = *reinterpret_cast<Vtbl* const*>(itf);
    EXPECT_EQ(v->count(itf, nullptr), 3);
    EXPECT_EQ(v->name(itf, 0, nullptr, 260), 4);
    EXPECT_EQ(v->load(itf, 0), 5);
    delete static_cast<SlotPreset*>(itf);
}
