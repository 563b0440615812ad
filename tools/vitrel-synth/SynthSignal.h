// Synthetic single-lead ECG: a beat schedule with a daily heart-rate course
// and a renderer that turns it into 250/s samples block by block, so that a
// recording of any length streams through a fixed amount of memory.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

struct SynthParams {
    uint64_t seed = 1;
    // Recording start, local calendar fields.
    int year = 2024, month = 5, day = 6, hour = 8, minute = 30, second = 0;
    double fixedRateBpm = 0;        // > 0: this mean rate instead of the daily course
    double pvcPerBeat = 0.002;      // chance that a beat is a premature ventricular one
    double pausePerBeat = 0.00005;  // chance of a sinus pause before a beat
    double rMv = 0;                 // mean R amplitude; 0: chosen from the seed (1.0 to 1.5)
    double prMs = 160;              // PR interval at 70 bpm
    double qtcMs = 410;             // rate-corrected QT (QT = QTc * sqrt(RR))
    double stMv = 0;                // ST-segment shift
    double noiseMv = 0.008;         // broadband noise, standard deviation
    double humMv = 0.012;           // mains hum amplitude
    int mainsHz = 50;               // 0, 50 or 60
    double wanderMv = 0.08;         // baseline wander scale
    // Recorder faults, long recordings only.
    double dropoutsPerHour = 0;     // stretches where the recorder holds one value
    double dropoutSeconds = 10;     // their length
    double clipMv = 0;              // > 0: input range, samples beyond it saturate
    // Ectopy and rhythm; all off by default, and while off they draw no
    // random numbers, so every recording made without them stays as it was.
    double svpbPerBeat = 0;         // chance of a supraventricular premature beat
    double vRunPerBeat = 0;         // chance that a beat starts a V couplet or run
    int vRunMin = 2, vRunMax = 6;   // beats in such a couplet or run
    double bigeminyPerHour = 0;     // stretches of ventricular bigeminy
    double trigeminyPerHour = 0;    // and of trigeminy
    double stretchSeconds = 60;     // their mean length
    double afPerHour = 0;           // stretches of atrial fibrillation
    double afSeconds = 120;         // their mean length
    double fWaveMv = 0.06;          // fibrillatory baseline amplitude

    bool Ectopy() const
    {
        return svpbPerBeat > 0 || vRunPerBeat > 0 || bigeminyPerHour > 0 || trigeminyPerHour > 0 || afPerHour > 0;
    }
};

// A stretch [first, end) of samples with one rhythm: 'B' bigeminy,
// 'T' trigeminy, 'F' atrial fibrillation.
struct SynthStretch {
    int64_t first;
    int64_t end;
    char kind;
};

// The stretches of a recording, in order and apart, from the seed alone.
std::vector<SynthStretch> SynthRhythmStretches(const SynthParams& params, int64_t sampleCount);

// One Gaussian wave of a complex, in samples relative to the R peak.
struct SynthWave {
    double center;
    double sigma;
    double amplitude;  // sample units
};

struct SynthBeat {
    int64_t position = 0;  // sample index of the R-wave maximum
    char code = 'N';       // 'N' normal, 'V' premature ventricular, 'A' supraventricular premature
    bool hidden = false;   // lost in a dropout: not in the signal, not a true beat
    double rrBefore = 0;   // seconds
    SynthWave waves[6];
    int waveCount = 0;
    double stShift = 0;      // plateau from the J point to the end of T, units
    double stEnd = 0;        // where the plateau ends, samples after R
    double stFall = 1;       // length of its descent, samples
    // What a recorder would measure on this complex without noise.
    double prMs = 0, qtMs = 0;
    double rAmp = 0, pAmp = 0, tAmp = 0, stLevel = 0;  // units

    double Plateau(double offset) const;
    double CleanValue(double offset) const;  // the complex alone at offset samples from R
};

// Small deterministic generator (xoshiro256**), independent of the
// standard library's distributions so that a seed means the same
// recording everywhere.
class SynthRandom {
public:
    explicit SynthRandom(uint64_t seed);
    uint64_t Next();
    double Uniform();  // [0, 1)
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    double Gauss();

private:
    uint64_t m_s[4];
};

uint64_t SynthHash(uint64_t x);

class BeatSource {
public:
    BeatSource(const SynthParams& params, int64_t sampleCount);
    SynthBeat Next();

private:
    double MeanRate(double t);
    void Build(SynthBeat& beat, double rr, bool ventricular);
    const SynthStretch* StretchAt(int64_t position) const;

    SynthParams m_p;
    int64_t m_nSampleCount;
    SynthRandom m_rng;
    int64_t m_nLast = -1;      // position of the previous beat
    double m_t = 0;            // seconds from the start to the previous beat
    double m_drift = 0;        // slow wandering of the rate, bpm
    double m_personOffset;     // bpm
    double m_respHz, m_respPhase;
    double m_rMean;
    double m_activityStart = -1, m_activityLength = 0, m_activityBoost = 0;
    double m_compensatory = 0; // RR owed after a premature beat, seconds
    int m_startOfDay;          // seconds after local midnight
    // Ectopy and rhythm stretches (SynthParams::Ectopy).
    SynthRandom m_ectopyRng;
    std::vector<SynthStretch> m_stretches;
    int m_runLeft = 0;         // V beats still to come in a run
    int m_sinceV = 0;          // beats since the last V beat
    int m_pShape = 0;          // P wave of the beat being built: 0 normal, 1 abnormal, 2 none
};

class SignalRenderer {
public:
    SignalRenderer(const SynthParams& params, int64_t sampleCount);
    // Renders samples [first, first + count); calls must follow each other
    // without gaps. Beats whose R peak falls in the range are appended.
    void Render(int64_t first, int count, int16_t* out, std::vector<SynthBeat>* beats);

private:
    // A stretch [first, end) in which the recorder lost the signal: off the
    // electrodes (0) or stuck at either end of its range.
    struct Dropout {
        int64_t first;
        int64_t end;
        int16_t value;
    };

    double Background(int64_t i);
    double FibrillatoryWaves(int64_t i) const;
    void Schedule(SynthBeat& beat);

    SynthParams m_p;
    int64_t m_nSampleCount;
    BeatSource m_source;
    std::deque<SynthBeat> m_active;
    SynthBeat m_pending;
    bool m_bHavePending = false;
    double m_hum[25];
    std::vector<double> m_acc;
    std::vector<int32_t> m_val;
    // Dropouts begin and end midway between two beats, so no complex is cut.
    SynthRandom m_faultRng;
    std::deque<Dropout> m_dropouts;
    bool m_bInDropout = false;
    int64_t m_nNextDropout = 0;   // no dropout begins before this sample
    int64_t m_nDropoutEnd = 0;    // the open one ends at the first beat after this
    int64_t m_nPrevBeat = -1;
    std::vector<SynthStretch> m_fibrillation;  // the 'F' stretches
};
