// A second R-wave detector for long recordings, at their own 250 samples/s.
// Slope energy over a QRS-wide window, with adaptive signal and noise levels,
// a noise floor, a check against T waves and a search back for beats missed
// in long intervals. Integer arithmetic only, so every machine finds the same
// beats. It streams: samples may arrive in pieces of any size, the pieces
// change nothing, and each beat is handed back once, when it is final (a few
// seconds after its samples at most). Its state is bounded.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class WorkerPool;

class PreciseQrsDetector {
public:
    PreciseQrsDetector();

    void Reset();
    // Continues the stream with count samples. Beats that are final are
    // appended to beats, ascending, as sample indices counted from the first
    // sample since Reset.
    void Process(const int16_t* samples, size_t count, std::vector<uint64_t>& beats);
    // The same, the filters split across the pool's threads (long pieces only).
    void Process(const int16_t* samples, size_t count, std::vector<uint64_t>& beats, WorkerPool& pool);
    // The stream has ended: appends the beats still held back. Process may
    // not be called again before Reset.
    void Finish(std::vector<uint64_t>& beats);

private:
    static constexpr int kRing = 1024;  // samples of history, 4 s
    static constexpr int kMask = kRing - 1;
    static constexpr int kEnergyRing = 2048;  // 8 s of the energy, for the noise floor

    // A local maximum of the slope energy.
    struct Candidate {
        int64_t pos;      // sample of the energy maximum
        int64_t height;   // square root of the energy
        int64_t slope;    // steepest slope under the energy window
        int64_t rPeak;    // where the R wave is
    };

    // What the filters give for one sample, and their state after a piece.
    struct Filtered {
        int32_t lp;
        int32_t d;
        int64_t energy;
        bool flat;
    };
    struct FilterEnd {
        int32_t box5, box4, hp1, hp2, run;
        int64_t hpSum, energy;
        int32_t sum5[8];
    };
    // samples[0] is stream sample base; before it the history ring holds them.
    void FilterPiece(const int16_t* samples, int64_t base, int64_t a, int64_t b, Filtered* out, FilterEnd* end) const;

    void Decide(const int16_t* samples, size_t count, const Filtered* filtered, const std::atomic<size_t>& ready,
                std::vector<uint64_t>& beats);
    void Start(int16_t x);
    int64_t NextCheck() const;
    void CompareHumps(int64_t horizon, std::vector<uint64_t>& beats);
    void OnHump(int64_t pos, int64_t energy, std::vector<uint64_t>& beats);
    void ReleaseHeld(int64_t until, std::vector<uint64_t>& beats);
    void OnCandidate(const Candidate& c, std::vector<uint64_t>& beats);
    void Learn(std::vector<uint64_t>& beats);
    bool SearchBack(int64_t until, std::vector<uint64_t>& beats);
    void Accept(const Candidate& c, bool searchBack, std::vector<uint64_t>& beats);
    bool InFlatStretch(int64_t rPeak) const;
    int64_t Threshold() const;
    int64_t NoiseFloor(int64_t pos) const;
    int64_t SearchBackLimit() const;
    int64_t LocateR(int64_t steepest, bool* upward) const;

    // Filters: a low pass (two moving sums), a high pass (minus the moving
    // mean), a two-sample slope and its energy over the window.
    int64_t m_n = 0;  // samples pushed
    int64_t m_end = INT64_MAX;  // samples given, once Finish pads the stream
    int16_t m_raw[kRing];
    int32_t m_sum5[8];
    int32_t m_lp[kRing];
    int32_t m_d[kRing];
    int64_t m_energies[kEnergyRing];
    int32_t m_box5 = 0, m_box4 = 0;
    int64_t m_hpSum = 0;
    int32_t m_hp1 = 0, m_hp2 = 0;
    int64_t m_energy = 0;
    int32_t m_run = 0;          // repeats of the latest value
    int64_t m_lastFlat = 0;     // latest sample at least kFlatRun equal values long

    // Humps of the energy: a top is confirmed when the energy has fallen to half of it.
    bool m_rising = false;
    int64_t m_topPos = 0, m_top = 0, m_valley = 0;
    struct Hump {
        int64_t pos;
        int64_t energy;
    };
    std::vector<Hump> m_humps;   // confirmed, not yet compared with their neighbours
    std::vector<Hump> m_recent;  // compared, within kSeparation of the next

    // Decisions.
    std::vector<Candidate> m_held;      // waiting for the flat-stretch check
    bool m_learned = false;
    std::vector<Candidate> m_learning;  // the first 2 s
    std::vector<Candidate> m_since;     // rejected since the last beat, for the search back
    int64_t m_signal = 0;               // level of the beats' heights
    int64_t m_noise = 0;                // level of the other candidates
    int64_t m_last = -1;                // energy maximum of the last beat
    int64_t m_lastSlope = 0;
    int64_t m_rr[8] = {};
    int m_rrCount = 0;
    int64_t m_lastOut = -1;
};
