#include "support/TempDir.h"

#include <cstdlib>

#include "support/Recordings.h"

namespace testsupport {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vitrel-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::filesystem::filesystem_error("mkdtemp", pattern, std::error_code(errno, std::generic_category()));
    m_dir = pattern;
}

TempDir::~TempDir()
{
    // A test may have taken the permissions away to provoke errors.
    std::error_code ec;
    std::filesystem::permissions(m_dir, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(m_dir, ec);
}

std::string TempDir::WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const
{
    return WriteFile(Path(name), bytes);
}

std::string TempDir::WriteSamples(const std::string& name, const std::vector<int16_t>& samples) const
{
    return testsupport::WriteSamples(Path(name), samples);
}

}  // namespace testsupport
