// What both fuzz harnesses need: a check that aborts (so the fuzzer keeps the
// input) and files written from fuzz bytes into one scratch folder per process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

inline const std::string& FuzzScratchDir()
{
    static const std::string dir = [] {
        char tmpl[] = "/tmp/vitrel-fuzz-XXXXXX";
        const char* made = mkdtemp(tmpl);
        FUZZ_CHECK(made != nullptr);
        return std::string(made);
    }();
    return dir;
}

inline std::string WriteFuzzFile(const std::string& name, const uint8_t* p, size_t n)
{
    const std::string path = FuzzScratchDir() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    if (n)
        FUZZ_CHECK(std::fwrite(p, 1, n, f) == n);
    std::fclose(f);
    return path;
}
