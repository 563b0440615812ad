#include "recording/TempDir.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>

TempDir::TempDir()
{
    std::random_device rd;
    m_dir = std::filesystem::temp_directory_path() / ("vitrel-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(m_dir);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(m_dir, ec);
}

std::string TempDir::WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const
{
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string TempDir::WriteSamples(const std::string& name, const std::vector<int16_t>& samples) const
{
    std::vector<uint8_t> bytes;
    bytes.reserve(samples.size() * 2);
    for (int16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return WriteBytes(name, bytes);
}

ScopedTimeZone::ScopedTimeZone(const char* tz)
{
    const char* old = std::getenv("TZ");
    m_hadOld = old != nullptr;
    if (old)
        m_old = old;
    setenv("TZ", tz, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_hadOld)
        setenv("TZ", m_old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

std::vector<uint8_t> MakeShortImage(const std::vector<uint8_t>& headerStart, const std::vector<uint32_t>& beats,
                                    const std::vector<int16_t>& samples, uint8_t qrsCount)
{
    std::vector<uint8_t> image(14352, 0);
    for (size_t i = 0; i < headerStart.size() && i < 3552; ++i)
        image[i] = headerStart[i];
    image[8] = qrsCount;
    for (size_t k = 0; k < beats.size() && k < 79; ++k) {
        const size_t at = 36 + 44 * k;
        for (int b = 0; b < 4; ++b)
            image[at + b] = static_cast<uint8_t>(beats[k] >> (8 * b));
    }
    for (size_t i = 0; i < samples.size() && i < 5400; ++i) {
        image[3552 + 2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) & 0xFF);
        image[3552 + 2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) >> 8);
    }
    return image;
}
