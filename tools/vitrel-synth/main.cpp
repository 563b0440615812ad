// vitrel-synth: writes synthetic recordings for trying out and measuring
// the application and the analysis.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "SynthSignal.h"
#include "SynthWriters.h"
#include "recording/EcgFile.h"
#include "resources/Version.h"

namespace {


constexpr const char* kUsage = R"(Usage:
  vitrel-synth short [--remote] [OPTIONS] OUT   write a 21.6 s short recording to OUT
  vitrel-synth long [OPTIONS] DIR               write a long recording DIR/YYMMDDHH.MM
  vitrel-synth --help | --version

Short recordings are 14352 bytes (14374 with --remote: 22 leading bytes,
then the header, then the samples); the header carries the start time,
result flags, QRS count, beat table and averaged measurements of the
generated signal. Long recordings are bare 16-bit samples named after
their start time. The path written is printed on standard output.

Options:
  --start "YYYY-MM-DD hh:mm[:ss]"  recording start, years 2000-2099
                            (default 2024-05-06 08:30:00)
  --seed N                  random seed (default 1); equal seeds and options
                            give identical files
  --beats FILE              also write the true R peaks as "index,code" lines
                            (code N normal, V premature ventricular, A
                            supraventricular premature)
  --rhythm FILE             also write the rhythm stretches as "first,last,rhythm"
                            lines covering the recording (N sinus, AFIB atrial
                            fibrillation, B bigeminy, T trigeminy; last inclusive)
  --rate BPM                mean heart rate 30-200 instead of the daily course
                            (lower at night, higher in the afternoon)
  --pvc-rate P              fraction of beats that are premature ventricular,
                            each followed by a compensatory pause (default 0.002)
  --pause-rate P            fraction of beats preceded by a sinus pause of about
                            2-3 s (default 0.00005)
  --svpb-rate P             fraction of beats that are supraventricular premature:
                            normal QRS, early, without a compensatory pause,
                            with a normal, an inverted or a hidden P wave
                            (default 0)
  --vrun-rate P             fraction of beats that start a V couplet or run
                            (default 0)
  --vrun-beats MIN-MAX      beats in each couplet or run, 2-50 (default 2-6)
  --bigeminy-per-hour N     stretches of ventricular bigeminy (default 0)
  --trigeminy-per-hour N    stretches of ventricular trigeminy (default 0)
  --stretch-seconds S       mean length of those stretches, 5-3600 (default 60)
  --af-per-hour N           stretches of atrial fibrillation: irregular RR, no
                            P waves, fibrillatory baseline (default 0)
  --af-seconds S            their mean length, 5-36000 (default 120)
  --f-wave-mv MV            fibrillatory wave amplitude, 0-0.5 (default 0.06)
  --r-mv MV                 mean R-wave amplitude (default from the seed, 1.0-1.5)
  --pr-ms MS                PR interval at 70 bpm, 80-300 (default 160)
  --qtc-ms MS               rate-corrected QT interval, 300-600 (default 410)
  --st-mv MV                ST-segment shift, -1 to 1 (default 0)
  --noise-mv MV             broadband noise, standard deviation (default 0.008)
  --hum-mv MV               mains hum amplitude (default 0.012)
  --mains HZ                mains frequency 0, 50 or 60 (default 50)
  --wander-mv MV            baseline wander scale (default 0.08)
Long recordings only:
  --hours H, --minutes M, --seconds S
                            duration, added together (default 30 minutes)
  --samples N               exact number of samples instead
  --dropouts N              stretches per hour in which the recorder loses the
                            signal and holds 0 (electrode off) or either end of
                            its range (saturated); they begin and end midway
                            between beats, and the beats inside are not in the
                            --beats list (default 0)
  --dropout-seconds S       length of each such stretch, 1-3600 (default 10)
  --clip-mv MV              input range: samples beyond +-MV saturate there
                            (default: none)
Short recordings only:
  --remote                  write the remote variant

Exit status: 0 done, 1 an output could not be written, 2 usage error.
)";

struct UsageError {
    std::string message;
};

double ParseNumber(const std::string& opt, const std::string& text, double lo, double hi)
{
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (end == s || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw UsageError{opt + ": not a number: " + text};
    if (v < lo || v > hi)
        throw UsageError{opt + ": " + text + " is outside " + std::to_string(lo) + " to " + std::to_string(hi)};
    return v;
}

uint64_t ParseCount(const std::string& opt, const std::string& text, uint64_t hi)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError{opt + ": not a whole number: " + text};
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v > hi)
        throw UsageError{opt + ": " + text + " is too large"};
    return v;
}

bool IsLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

void ParseStart(const std::string& text, SynthParams& p)
{
    int y, mo, d, h, mi, s = 0, used = 0;
    const char* c = text.c_str();
    const bool withSeconds = std::sscanf(c, "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) == 6 &&
                             c[used] == '\0';
    if (!withSeconds) {
        used = 0;
        s = 0;
        if (std::sscanf(c, "%4d-%2d-%2d %2d:%2d%n", &y, &mo, &d, &h, &mi, &used) != 5 || c[used] != '\0')
            throw UsageError{"--start: expected \"YYYY-MM-DD hh:mm[:ss]\": " + text};
    }
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool ok = y >= 2000 && y <= 2099 && mo >= 1 && mo <= 12 && d >= 1 &&
                    d <= kDays[mo - 1] + (mo == 2 && IsLeap(y) ? 1 : 0) && h >= 0 && h <= 23 && mi >= 0 &&
                    mi <= 59 && s >= 0 && s <= 59;
    if (!ok)
        throw UsageError{"--start: not a date and time in 2000-2099: " + text};
    p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = mi, p.second = s;
}

// The stretches as a rhythm file, sinus rhythm between them.
void WriteRhythm(const SynthParams& p, int64_t sampleCount, const std::string& path)
{
    if (path.empty())
        return;
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        throw std::runtime_error("cannot write " + path);
    int64_t at = 0;
    auto line = [&](int64_t first, int64_t end, const char* rhythm) {
        if (end > first)
            std::fprintf(f, "%lld,%lld,%s\n", static_cast<long long>(first), static_cast<long long>(end - 1), rhythm);
    };
    for (const SynthStretch& st : SynthRhythmStretches(p, sampleCount)) {
        line(at, st.first, "N");
        line(st.first, st.end, st.kind == 'F' ? "AFIB" : st.kind == 'B' ? "B" : "T");
        at = st.end;
    }
    line(at, sampleCount, "N");
    if (std::fclose(f) != 0)
        throw std::runtime_error("cannot write " + path);
}

int Run(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        throw UsageError{"missing mode (short or long)"};
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("vitrel-synth %s\n", VITREL_VERSION);
        return 0;
    }
    const std::string mode = args[0];
    if (mode != "short" && mode != "long")
        throw UsageError{"unknown mode: " + mode};
    const bool isLong = mode == "long";

    SynthParams p;
    bool remote = false;
    std::string beatsPath, rhythmPath, out;
    double seconds = 0;
    bool haveDuration = false;
    int64_t exactSamples = -1;

    for (size_t i = 1; i < args.size(); ++i) {
        std::string opt = args[i], value;
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt.rfind("--", 0) != 0) {
            if (!out.empty())
                throw UsageError{"more than one output given: " + opt};
            out = opt;
            continue;
        }
        if (opt == "--remote") {
            if (isLong)
                throw UsageError{"--remote applies to short recordings only"};
            remote = true;
            continue;
        }
        const size_t eq = opt.find('=');
        if (eq != std::string::npos) {
            value = opt.substr(eq + 1);
            opt.resize(eq);
        } else {
            if (i + 1 >= args.size())
                throw UsageError{opt + " needs a value"};
            value = args[++i];
        }
        const bool durationOpt = opt == "--hours" || opt == "--minutes" || opt == "--seconds" || opt == "--samples";
        if (durationOpt && !isLong)
            throw UsageError{opt + " applies to long recordings only (a short one is always 21.6 s)"};
        const bool faultOpt = opt == "--dropouts" || opt == "--dropout-seconds" || opt == "--clip-mv";
        if (faultOpt && !isLong)
            throw UsageError{opt + " applies to long recordings only"};

        if (opt == "--start") ParseStart(value, p);
        else if (opt == "--seed") p.seed = ParseCount(opt, value, UINT64_MAX);
        else if (opt == "--beats") beatsPath = value;
        else if (opt == "--rhythm") rhythmPath = value;
        else if (opt == "--svpb-rate") p.svpbPerBeat = ParseNumber(opt, value, 0, 1);
        else if (opt == "--vrun-rate") p.vRunPerBeat = ParseNumber(opt, value, 0, 1);
        else if (opt == "--vrun-beats") {
            int lo = 0, hi = 0, used = 0;
            if (std::sscanf(value.c_str(), "%d-%d%n", &lo, &hi, &used) != 2 || value[size_t(used)] != '\0' || lo < 2 ||
                hi < lo || hi > 50)
                throw UsageError{"--vrun-beats: expected MIN-MAX within 2-50: " + value};
            p.vRunMin = lo, p.vRunMax = hi;
        }
        else if (opt == "--bigeminy-per-hour") p.bigeminyPerHour = ParseNumber(opt, value, 0, 60);
        else if (opt == "--trigeminy-per-hour") p.trigeminyPerHour = ParseNumber(opt, value, 0, 60);
        else if (opt == "--stretch-seconds") p.stretchSeconds = ParseNumber(opt, value, 5, 3600);
        else if (opt == "--af-per-hour") p.afPerHour = ParseNumber(opt, value, 0, 60);
        else if (opt == "--af-seconds") p.afSeconds = ParseNumber(opt, value, 5, 36000);
        else if (opt == "--f-wave-mv") p.fWaveMv = ParseNumber(opt, value, 0, 0.5);
        else if (opt == "--rate") p.fixedRateBpm = ParseNumber(opt, value, 30, 200);
        else if (opt == "--pvc-rate") p.pvcPerBeat = ParseNumber(opt, value, 0, 1);
        else if (opt == "--pause-rate") p.pausePerBeat = ParseNumber(opt, value, 0, 1);
        else if (opt == "--r-mv") p.rMv = ParseNumber(opt, value, 0.2, 4);
        else if (opt == "--pr-ms") p.prMs = ParseNumber(opt, value, 80, 300);
        else if (opt == "--qtc-ms") p.qtcMs = ParseNumber(opt, value, 300, 600);
        else if (opt == "--st-mv") p.stMv = ParseNumber(opt, value, -1, 1);
        else if (opt == "--noise-mv") p.noiseMv = ParseNumber(opt, value, 0, 1);
        else if (opt == "--hum-mv") p.humMv = ParseNumber(opt, value, 0, 1);
        else if (opt == "--wander-mv") p.wanderMv = ParseNumber(opt, value, 0, 2);
        else if (opt == "--dropouts") p.dropoutsPerHour = ParseNumber(opt, value, 0, 120);
        else if (opt == "--dropout-seconds") p.dropoutSeconds = ParseNumber(opt, value, 1, 3600);
        else if (opt == "--clip-mv") p.clipMv = ParseNumber(opt, value, 0.1, 32);
        else if (opt == "--mains") {
            p.mainsHz = static_cast<int>(ParseCount(opt, value, 60));
            if (p.mainsHz != 0 && p.mainsHz != 50 && p.mainsHz != 60)
                throw UsageError{"--mains: 0, 50 or 60"};
        } else if (opt == "--hours") seconds += 3600 * ParseNumber(opt, value, 0, 1e5), haveDuration = true;
        else if (opt == "--minutes") seconds += 60 * ParseNumber(opt, value, 0, 6e6), haveDuration = true;
        else if (opt == "--seconds") seconds += ParseNumber(opt, value, 0, 3.6e8), haveDuration = true;
        else if (opt == "--samples") exactSamples = static_cast<int64_t>(ParseCount(opt, value, 1ull << 40));
        else throw UsageError{"unknown option: " + opt};
    }
    if (out.empty())
        throw UsageError{isLong ? "missing output directory" : "missing output file"};
    if (exactSamples >= 0 && haveDuration)
        throw UsageError{"--samples cannot be combined with --hours, --minutes or --seconds"};

    if (!isLong) {
        WriteShortRecording(p, remote, out, beatsPath);
        WriteRhythm(p, SHORT_SAMPLE_COUNT, rhythmPath);
        std::printf("%s\n", out.c_str());
        return 0;
    }
    const int64_t samples = exactSamples >= 0 ? exactSamples
                                              : std::llround((haveDuration ? seconds : 1800.0) * ECG_SAMPLE_RATE);
    // These two lengths are the short formats: such a file would not open as a long recording.
    if (static_cast<uint64_t>(samples) * 2 == NORMAL_FILE_LENGTH ||
        static_cast<uint64_t>(samples) * 2 == REMOTE_FILE_LENGTH)
        throw UsageError{std::to_string(samples) + " samples would make a file of a short recording's length"};
    const std::string written = WriteLongRecording(p, samples, out, beatsPath);
    WriteRhythm(p, samples, rhythmPath);
    std::printf("%s\n", written.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "vitrel-synth: %s\nTry 'vitrel-synth --help'.\n", e.message.c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vitrel-synth: %s\n", e.what());
        return 1;
    }
}
