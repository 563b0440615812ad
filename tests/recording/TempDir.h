// A scratch directory per test with helpers that write recording files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string WriteSamples(const std::string& name, const std::vector<int16_t>& samples) const;
    const std::filesystem::path& Dir() const { return m_dir; }

private:
    std::filesystem::path m_dir;
};

// Sets TZ for the lifetime of the object.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz);
    ~ScopedTimeZone();

private:
    std::string m_old;
    bool m_hadOld;
};

// A normal (14352-byte) recording image: header fields from the arguments,
// samples from `samples` (padded with zeros).
std::vector<uint8_t> MakeShortImage(const std::vector<uint8_t>& headerStart, const std::vector<uint32_t>& beats,
                                    const std::vector<int16_t>& samples, uint8_t qrsCount);
