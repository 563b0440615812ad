// Files the programs write (reports, exports). A file reaches its path whole
// or not at all: it is written under a temporary name in the same folder and
// renamed over the path only once every byte is on disk, so a failure leaves
// an older file as it was and nothing else behind.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();  // discards what was not committed
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    // A file that replaces path on Commit(). Links are followed, so the file
    // they point to is replaced; a device or pipe is written straight to.
    bool Open(const std::string& path);
    // A file without a name in path's folder, gone once closed.
    bool OpenScratch(const std::string& path);

    // Buffered; every failure is kept and ends all later writes.
    bool Write(const void* data, size_t size);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    bool Flush();
    // Flushes, syncs and closes; the file is then ready to be renamed (files
    // that belong together are all finished before the first is committed).
    bool Finish();
    // Finishes when needed, then renames over the path.
    bool Commit();
    // Closes and removes the temporary file.
    void Discard();

    int Descriptor() const { return m_fd; }
    bool Failed() const { return m_error != 0; }
    // The system's text for the first failure, and the same after the path.
    std::string ErrorText() const;
    std::string ErrorMessage() const { return m_strPath + ": " + ErrorText(); }

private:
    bool Fail(int error);
    bool WriteAll(const char* data, size_t size);

    int m_fd = -1;
    int m_error = 0;
    bool m_bDirect = false;     // writing straight to a device or pipe
    bool m_bFinished = false;   // synced and closed, waiting for the rename
    std::string m_strPath;      // as the caller named it
    std::string m_strTarget;    // the file a commit replaces
    std::string m_strTemp;      // the temporary name while it exists
    std::vector<char> m_buffer;
};
