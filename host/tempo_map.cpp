#include "host/tempo_map.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace host {

bool ParseMeter(const std::string& text, int* numerator, int* denominator) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + slash) return false;
    const long d = std::strtol(text.c_str() + slash + 1, &end, 10);
    if (*end != '\0') return false;
    if (n < 1 || n > 64 || d < 1 || d > 64 || (d & (d - 1)) != 0) return false;  // denominators are powers of two
    *numerator = static_cast<int>(n);
    *denominator = static_cast<int>(d);
    return true;
}

bool ParseTempoMapText(const std::string& text, std::vector<TempoChange>* changes, std::string* error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    double last = -1;
    while (std::getline(lines, line)) {
        ++number;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string at, bpm, meter, extra;
        if (!(words >> at)) continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        TempoChange c;
        char* end = nullptr;
        c.seconds = std::strtod(at.c_str(), &end);
        if (*end != '\0' || !(c.seconds >= 0) || !std::isfinite(c.seconds)) {
            *error = where + "position '" + at + "' is not a time in seconds";
            return false;
        }
        if (c.seconds < last) {
            *error = where + "positions must not go backwards";
            return false;
        }
        last = c.seconds;
        if (!(words >> bpm)) {
            *error = where + "expected 'SECONDS BPM [N/D]'";
            return false;
        }
        if (bpm != "-") {
            c.bpm = std::strtod(bpm.c_str(), &end);
            if (*end != '\0' || !(c.bpm >= 1.0 && c.bpm <= 1000.0)) {
                *error = where + "tempo '" + bpm + "' is not a number of beats per minute from 1 to 1000";
                return false;
            }
        }
        if (words >> meter && !ParseMeter(meter, &c.numerator, &c.denominator)) {
            *error = where + "metre '" + meter + "' is not N/D with D a power of two";
            return false;
        }
        if (words >> extra) {
            *error = where + "unexpected '" + extra + "'";
            return false;
        }
        changes->push_back(c);
    }
    return true;
}

HostTempoMap::HostTempoMap(const std::vector<TempoChange>& changes, int sampleRate) : rate_(sampleRate) {
    tempos_.push_back({0, 0, 120.0});
    meters_.push_back({1, 0, 4, 2});
    for (const TempoChange& c : changes) {
        const double tick = SecondsToTicks(c.seconds);
        if (c.bpm > 0) {
            if (tempos_.back().startSeconds >= c.seconds) tempos_.pop_back();
            tempos_.push_back({tempos_.empty() ? 0 : tick, tempos_.empty() ? 0 : c.seconds, c.bpm});
        }
        if (c.numerator > 0) {
            // A metre starts on a measure: the first measure boundary at or after the change.
            const Meter& m = meters_.back();
            const double perMeasure = TicksPerMeasure(m);
            const double measures = std::ceil((tick - m.startTick) / perMeasure - 1e-9);
            Meter next{m.startMeasure + static_cast<int>(measures), m.startTick + measures * perMeasure,
                       c.numerator, static_cast<int>(std::lround(std::log2(c.denominator)))};
            if (next.startMeasure == m.startMeasure) meters_.pop_back();
            meters_.push_back(next);
        }
    }
}

HRESULT HostTempoMap::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IHostTempoMap))
        *ppv = static_cast<IHostTempoMap*>(this);
    else if (IsEqualGUID(riid, IID_IHostMeterMap))
        *ppv = static_cast<IHostMeterMap*>(this);
    else if (IsEqualGUID(riid, IID_IHostTimeConverter))
        *ppv = static_cast<IHostTimeConverter*>(this);
    else
        return E_NOINTERFACE;
    ++refs_;
    return S_OK;
}

double HostTempoMap::TicksToSeconds(double ticks) const {
    const Tempo* t = &tempos_.front();
    for (const Tempo& e : tempos_)
        if (e.startTick <= ticks) t = &e;
    return t->startSeconds + (ticks - t->startTick) / kTicksPerQuarter * 60.0 / t->bpm;
}

double HostTempoMap::SecondsToTicks(double seconds) const {
    const Tempo* t = &tempos_.front();
    for (const Tempo& e : tempos_)
        if (e.startSeconds <= seconds) t = &e;
    return t->startTick + (seconds - t->startSeconds) * t->bpm / 60.0 * kTicksPerQuarter;
}

double HostTempoMap::TicksPerMeasure(const Meter& m) const {
    return m.numerator * kTicksPerQuarter * 4.0 / (1 << m.denominatorPow2);
}

LONG HostTempoMap::TicksToMsecs(LONG ticks) { return static_cast<LONG>(std::lround(TicksToSeconds(ticks) * 1000.0)); }
LONG HostTempoMap::MsecsToTicks(LONG msecs) { return static_cast<LONG>(std::lround(SecondsToTicks(msecs / 1000.0))); }

int HostTempoMap::GetTempoIndexForTime(LONG ticks) {
    int index = 0;
    for (size_t i = 0; i < tempos_.size(); ++i)
        if (tempos_[i].startTick <= ticks) index = static_cast<int>(i);
    return index;
}

HRESULT HostTempoMap::GetTempoAt(int index, LONG* startTicks, int* tempoHundredths) {
    if (index < 0 || index >= GetTempoCount()) return E_INVALIDARG;
    if (startTicks) *startTicks = static_cast<LONG>(std::lround(tempos_[static_cast<size_t>(index)].startTick));
    if (tempoHundredths) *tempoHundredths = static_cast<int>(std::lround(tempos_[static_cast<size_t>(index)].bpm * 100));
    return S_OK;
}

HRESULT HostTempoMap::TicksToMeasureBeatTick(LONG ticks, int* measure, int* beat, int* tick) {
    const Meter& m = meters_[static_cast<size_t>(GetMeterIndexForTime(ticks))];
    const double perMeasure = TicksPerMeasure(m);
    const double perBeat = perMeasure / m.numerator;
    const double into = ticks - m.startTick;
    const int whole = static_cast<int>(std::floor(into / perMeasure));
    const double rest = into - whole * perMeasure;
    if (measure) *measure = m.startMeasure + whole;
    if (beat) *beat = 1 + static_cast<int>(rest / perBeat);
    if (tick) *tick = static_cast<int>(std::fmod(rest, perBeat));
    return S_OK;
}

LONG HostTempoMap::MeasureBeatTickToTicks(int measure, int beat, int tick) {
    const Meter* m = &meters_.front();
    for (const Meter& e : meters_)
        if (e.startMeasure <= measure) m = &e;
    const double perMeasure = TicksPerMeasure(*m);
    return static_cast<LONG>(std::lround(m->startTick + (measure - m->startMeasure) * perMeasure +
                                         (beat - 1) * perMeasure / m->numerator + tick));
}

int HostTempoMap::GetMeterIndexForTime(LONG ticks) {
    int index = 0;
    for (size_t i = 0; i < meters_.size(); ++i)
        if (meters_[i].startTick <= ticks) index = static_cast<int>(i);
    return index;
}

HRESULT HostTempoMap::GetMeterAt(int index, int* startMeasure, int* numerator, int* denominatorPow2) {
    if (index < 0 || index >= GetMeterCount()) return E_INVALIDARG;
    const Meter& m = meters_[static_cast<size_t>(index)];
    if (startMeasure) *startMeasure = m.startMeasure;
    if (numerator) *numerator = m.numerator;
    if (denominatorPow2) *denominatorPow2 = m.denominatorPow2;
    return S_OK;
}

HRESULT HostTempoMap::ConvertTime(HostTime* time, int32_t toFormat) {
    if (!time) return E_POINTER;
    if (time->format == toFormat) return S_OK;
    if (time->format == kHostTimeTicks && toFormat == kHostTimeSamples) {
        time->value = static_cast<int64_t>(std::floor(TicksToSeconds(static_cast<double>(time->value)) * rate_ + 0.5));
    } else if (time->format == kHostTimeSamples && toFormat == kHostTimeTicks) {
        time->value = static_cast<int64_t>(std::floor(SecondsToTicks(static_cast<double>(time->value) / rate_) + 0.5));
    } else {
        return E_INVALIDARG;
    }
    time->format = toFormat;
    return S_OK;
}

}  // namespace host
