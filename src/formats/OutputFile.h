// Writing an output file whole or not at all: a temporary file in the
// target folder, renamed over the target once every byte is on disk.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();  // an uncommitted file is removed
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // False with *error ("PATH: reason") when the temporary cannot be made.
    bool Create(const std::string& target, std::string* error);
    // Buffered; a failure is kept and reported by Commit.
    void Write(const void* data, size_t size);
    void Write(const std::string& text) { Write(text.data(), text.size()); }
    // Flushes, syncs and closes the temporary; false (and removed) on failure.
    bool Finish(std::string* error);
    // Finishes when needed, then renames over the target; on any failure
    // removes the temporary, leaves the target as it was and returns false.
    bool Commit(std::string* error);

private:
    void Flush();
    void Fail(int err);
    void Discard();

    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
    int m_error = 0;
    std::vector<char> m_buffer;
};

// "PATH: reason" for an errno value.
std::string SystemError(const std::string& path, int err);
