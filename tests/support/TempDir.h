// A scratch directory per test, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Dir() const { return m_dir; }
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    // Write dir/name and return its path.
    std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string WriteSamples(const std::string& name, const std::vector<int16_t>& samples) const;

private:
    std::filesystem::path m_dir;
};

}  // namespace testsupport
