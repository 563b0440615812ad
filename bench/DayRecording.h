// The day the review benchmarks correct: $BENCH_RECORDING (e.g. vitrel-synth
// long --hours 24), or a plain beat train written once to a scratch folder.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

inline std::string BenchDayRecording()
{
    if (const char* path = std::getenv("BENCH_RECORDING"))
        return path;
    static const std::string path = [] {
        char dir[] = "/tmp/vitrel-review-bench-XXXXXX";
        const std::string name = std::string(::mkdtemp(dir)) + "/24050508.00";
        std::vector<int16_t> day(24u * 3600u * 250u, 0);
        for (size_t i = 100; i + 2 < day.size(); i += 200) {
            day[i] = 600;
            day[i + 1] = 1500;
            day[i + 2] = 600;
        }
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(day.data()),
                                                    std::streamsize(day.size() * sizeof(int16_t)));
        return name;
    }();
    return path;
}
