// The host side of musical time: a tempo and metre map that the filter reads through the host
// timing interfaces, for --tempo, --meter and --tempo-map. Ticks run at 96000 per quarter note.
#pragma once

#include "platform/host_timing.h"

#include <string>
#include <vector>

namespace host {

struct TempoChange {
    double seconds = 0;  // where the change takes effect
    double bpm = 0;      // 0: tempo unchanged
    int numerator = 0;   // 0: metre unchanged
    int denominator = 0;
};

// Reads "SECONDS BPM [N/D]" lines ('-' for an unchanged tempo, '#' starts a comment).
bool ParseTempoMapText(const std::string& text, std::vector<TempoChange>* changes, std::string* error);
bool ParseMeter(const std::string& text, int* numerator, int* denominator);

class HostTempoMap : public IHostTempoMap, public IHostMeterMap, public IHostTimeConverter {
public:
    // Fine enough that every sample position survives a round trip through ticks at usual tempos and rates.
    static constexpr int kTicksPerQuarter = 96000;

    // The first change may be at 0 s; without one, 120 BPM in 4/4 holds from the start.
    HostTempoMap(const std::vector<TempoChange>& changes, int sampleRate);

    // IUnknown: a stack object owned by the host, counted only for the filter's references.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }

    // IHostTempoMap
    LONG STDMETHODCALLTYPE TicksToMsecs(LONG ticks) override;
    LONG STDMETHODCALLTYPE MsecsToTicks(LONG msecs) override;
    int STDMETHODCALLTYPE GetTicksPerQuarterNote() override { return kTicksPerQuarter; }
    int STDMETHODCALLTYPE GetTempoIndexForTime(LONG ticks) override;
    int STDMETHODCALLTYPE GetTempoCount() override { return static_cast<int>(tempos_.size()); }
    HRESULT STDMETHODCALLTYPE GetTempoAt(int index, LONG* startTicks, int* tempoHundredths) override;

    // IHostMeterMap (measures count from 1)
    HRESULT STDMETHODCALLTYPE TicksToMeasureBeatTick(LONG ticks, int* measure, int* beat, int* tick) override;
    LONG STDMETHODCALLTYPE MeasureBeatTickToTicks(int measure, int beat, int tick) override;
    int STDMETHODCALLTYPE GetMeterIndexForTime(LONG ticks) override;
    int STDMETHODCALLTYPE GetMeterCount() override { return static_cast<int>(meters_.size()); }
    HRESULT STDMETHODCALLTYPE GetMeterAt(int index, int* startMeasure, int* numerator, int* denominatorPow2) override;

    // IHostTimeConverter: ticks <-> samples along the tempo map.
    HRESULT STDMETHODCALLTYPE ConvertTime(HostTime* time, int32_t toFormat) override;

    ULONG references() const { return refs_; }

private:
    struct Tempo {
        double startTick;
        double startSeconds;
        double bpm;
    };
    struct Meter {
        int startMeasure;
        double startTick;
        int numerator;
        int denominatorPow2;
    };
    double TicksToSeconds(double ticks) const;
    double SecondsToTicks(double seconds) const;
    double TicksPerMeasure(const Meter& m) const;

    std::vector<Tempo> tempos_;
    std::vector<Meter> meters_;
    int rate_;
    ULONG refs_ = 1;
};

}  // namespace host
