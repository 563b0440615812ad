// BioSig crashes, overruns its buffers or loops on some damaged files (the
// fuzz target finds such files within minutes), so every call into it runs
// in a child process: the program sees a result or a failure, never the fault.
// The child is also a sandbox: before the work starts it drops every open
// descriptor it does not need, takes limits on memory, CPU time and file
// size, and a system-call filter that ends it on anything beyond reading its
// inputs, managing memory and writing its results.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// What a child writes back: plain values, appended in order.
class CResultWriter {
public:
    explicit CResultWriter(int fd) : m_fd(fd) {}
    ~CResultWriter() { Flush(); }
    void Bytes(const void* p, size_t n);
    template <class T>
    void Value(T v) { Bytes(&v, sizeof v); }
    void String(const std::string& s);
    void Flush();

private:
    int m_fd;
    std::string m_buffer;
};

// Reads them back in the same order; false once anything is missing.
class CResultReader {
public:
    explicit CResultReader(const std::string& data) : m_data(data) {}
    bool Bytes(void* p, size_t n);
    template <class T>
    bool Value(T* v) { return Bytes(v, sizeof *v); }
    bool String(std::string* s);
    size_t Left() const { return m_data.size() - m_pos; }

private:
    const std::string& m_data;
    size_t m_pos = 0;
};

class CFileException;

// A file error crosses over as its cause, system error and file name.
void WriteFileError(CResultWriter& w, const CFileException& e);
[[noreturn]] void RaiseFileError(CResultReader& in, const std::string& path);

// forbidden: the filter ended the child (it stepped outside what it may do).
enum class SandboxOutcome { done, failed, timedOut, forbidden };

// Runs work in a sandboxed child process with a deadline; *out gets what it
// wrote to its first writer. The second writer takes bulk data into an
// in-memory file whose descriptor (positioned at its start) goes to *bulk, or
// -1. "done" only when the child wrote everything and exited normally.
// The child may open only the files in readable (opened before the filter
// goes on; one missing then reads as missing), each as often as it likes.
SandboxOutcome RunInChildSandbox(const std::vector<std::string>& readable,
                                 const std::function<void(CResultWriter&, CResultWriter&)>& work, int seconds,
                                 std::string* out, int* bulk);

// A job the decode helper runs by name: argument strings in, results out
// through the two writers, as a work function of RunInChildSandbox would.
struct SandboxJob {
    const char* name;
    void (*work)(const std::vector<std::string>& args, CResultWriter& out, CResultWriter& bulk);
};

// As RunInChildSandbox, but the child executes the decode helper afresh,
// which sets up its sandbox itself and runs the job: a forked copy of a
// program with threads may find its allocator or library locks held by a
// thread that no longer exists, and it would carry every other recording
// the program has open. Without a helper a job given with its work runs in a
// forked child; one given by name only fails.
SandboxOutcome RunSandboxJob(const std::vector<std::string>& readable, const SandboxJob& job,
                             const std::vector<std::string>& args, int seconds, std::string* out, int* bulk);

// The helper beside executable, in its parent folder (tests, benchmarks)
// or in ../libexec/vitrel-ecg (installed); "" when there is none.
std::string FindDecodeHelper(const std::string& executable);
// The same for this program, worked out once.
const std::string& DecodeHelperPath();

// The helper's main: runs the job RunSandboxJob names in argv. Returns only
// when argv is not such a call.
int RunSandboxJobMain(int argc, char** argv, const std::vector<SandboxJob>& jobs);

// What BioSig reads to decode path: the file itself and, for a WFDB header,
// the signal files it names and the record's annotation file.
std::vector<std::string> DecoderInputs(const std::string& path);
