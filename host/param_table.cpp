#include "host/param_table.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace host {

namespace {
const std::vector<const char*> kClock = {"Time", "Tempo"};
const std::vector<const char*> kNote = {"Dotted Quarter Note", "Quarter Note", "Quarter Note Triplet",
                                        "Dotted Eighth Note", "Eighth Note", "Quarter Eighth Triplet",
                                        "Dotted Sixteenth Note", "Sixteenth Note", "Quarter Sixteenth Triplet"};
const std::vector<const char*> kLfoType = {"Flange", "Phaser", "Chorus", "Wah-Wah"};
const std::vector<const char*> kPeriod = {"One Beat", "Two Beats", "One Measure", "Two Measures", "Four Measures"};
const std::vector<const char*> kReverb = {"Club", "Hall", "Plate", "Big Empty Hall"};
const std::vector<const char*> kOnOff = {"off", "on"};
}  // namespace

#define FIELD(n) #n, offsetof(FxParams, n)

const std::vector<ParamField>& ParamFields() {
    static const std::vector<ParamField> fields = {
        {FIELD(delayClock), "clock mode", 0, 1, kClock},
        {FIELD(delayNote), "note value", 0, 8, kNote},
        {FIELD(delayTime), "0.1 ms", 0, 22500, {}},
        {FIELD(delayDecay), "0.1 %", 0, 900, {}},
        {FIELD(delayMix), "0.1 % wet", 0, 1000, {}},
        {FIELD(delayOn), "switch", 0, 1, kOnOff},
        {FIELD(reverbType), "room type", 0, 3, kReverb},
        {FIELD(reverbMix), "0.1 % wet", 0, 1000, {}},
        {FIELD(reverbOn), "switch", 0, 1, kOnOff},
        {FIELD(lfoType), "LFO type", 0, 3, kLfoType},
        {FIELD(lfoClock), "clock mode", 0, 1, kClock},
        {FIELD(lfoPeriod), "LFO period", 0, 4, kPeriod},
        {FIELD(lfoRate), "mHz", 1, 11000, {}},
        {FIELD(lfoDepth), "%", 1, 100, {}},
        {FIELD(lfoOn), "switch", 0, 1, kOnOff},
        {FIELD(distSlew), "%", 0, 100, {}},
        {FIELD(distHardClip), "switch", 0, 1, kOnOff},
        {FIELD(distOn), "switch", 0, 1, kOnOff},
        {FIELD(eqMid), "0.1 dB", -250, 250, {}},
        {FIELD(eqBass), "0.1 dB", -250, 250, {}},
        {FIELD(eqTreble), "0.1 dB", -250, 250, {}},
        {FIELD(eqOn), "switch", 0, 1, kOnOff},
    };
    return fields;
}

#undef FIELD

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const ParamField* FindParamField(const std::string& name) {
    for (const ParamField& f : ParamFields())
        if (EqualsIgnoreCase(name, f.name)) return &f;
    return nullptr;
}

int32_t GetField(const FxParams& p, const ParamField& f) {
    int32_t v;
    std::memcpy(&v, reinterpret_cast<const char*>(&p) + f.offset, sizeof(v));
    return v;
}

void SetField(FxParams* p, const ParamField& f, int32_t value) {
    std::memcpy(reinterpret_cast<char*>(p) + f.offset, &value, sizeof(value));
}

bool ParseFieldValue(const ParamField& f, const std::string& text, int32_t* value) {
    for (size_t i = 0; i < f.choices.size(); ++i)
        if (EqualsIgnoreCase(text, f.choices[i])) {
            *value = static_cast<int32_t>(i);
            return true;
        }
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

std::string DescribeValue(const ParamField& f, int32_t value) {
    if (value >= 0 && static_cast<size_t>(value) < f.choices.size())
        return std::to_string(value) + " (" + f.choices[static_cast<size_t>(value)] + ")";
    return std::to_string(value);
}

std::string DescribeBlocks(const FxParams& p) {
    std::string s;
    auto add = [&s](const std::string& part) { s += (s.empty() ? "" : ", ") + part; };
    if (p.distOn) add(std::string("distortion") + (p.distHardClip ? " (hard)" : ""));
    if (p.eqOn) add("EQ");
    if (p.lfoOn && p.lfoType >= 0 && p.lfoType <= 3) add(std::string("LFO ") + kLfoType[static_cast<size_t>(p.lfoType)]);
    if (p.delayOn) {
        if (p.delayClock == kClockTempo && p.delayNote >= 0 && p.delayNote <= 8)
            add(std::string("delay (") + kNote[static_cast<size_t>(p.delayNote)] + ")");
        else
            add("delay (" + std::to_string(p.delayTime / 10) + "." + std::to_string(p.delayTime % 10) + " ms)");
    }
    if (p.reverbOn && p.reverbType >= 0 && p.reverbType <= 3)
        add(std::string("reverb ") + kReverb[static_cast<size_t>(p.reverbType)]);
    return s.empty() ? "nothing (every block off)" : s;
}

}  // namespace host
