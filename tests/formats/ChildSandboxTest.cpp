// The decoding child: what it may read and write, and that stepping outside
// its filter ends it without harm to the parent.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <new>
#include <thread>

#include <filesystem>

#include "formats/ChildSandbox.h"
#include "formats/Reference.h"
#include "formats/StandardFile.h"
#include "standard_harness.h"
#include "support/Programs.h"
#include "support/Recordings.h"
#include "support/TempDir.h"

using namespace testsupport;

namespace {

using Work = std::function<void(CResultWriter&)>;

SandboxOutcome RunChild(const std::vector<std::string>& readable, const Work& work, std::string* out = nullptr)
{
    std::string result;
    int bulk = -1;
    const SandboxOutcome outcome =
        RunInChildSandbox(readable, [&](CResultWriter& w, CResultWriter&) { work(w); }, 10, &result, &bulk);
    if (bulk >= 0)
        ::close(bulk);
    if (out)
        *out = result;
    return outcome;
}

bool NoChildLeft()
{
    return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

size_t OpenDescriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

}  // namespace

TEST(ChildSandbox, StepsOutsideTheFilterEndTheChild)
{
    TempDir dir;
    const std::string input = WriteFile(dir.Path("in.edf"), {'x'});
    const std::string other = WriteFile(dir.Path("other.txt"), {'s', 'e', 'c', 'r', 'e', 't'});
    const std::vector<std::pair<const char*, Work>> attempts = {
        {"open another file", [&](CResultWriter&) { std::fopen(other.c_str(), "rb"); }},
        {"open a system file", [](CResultWriter&) { ::open("/etc/hostname", O_RDONLY); }},
        {"write the input", [&](CResultWriter&) { ::open(input.c_str(), O_WRONLY); }},
        {"create a file", [&](CResultWriter&) { ::open(dir.Path("new").c_str(), O_RDONLY | O_CREAT, 0600); }},
        {"internet socket", [](CResultWriter&) { ::socket(AF_INET, SOCK_STREAM, 0); }},
        {"local socket", [](CResultWriter&) { ::socket(AF_UNIX, SOCK_DGRAM, 0); }},
        {"run a program", [](CResultWriter&) { ::execl("/bin/true", "true", nullptr); }},
        {"start a process", [](CResultWriter&) { ::fork(); }},
        {"trace", [](CResultWriter&) { ::syscall(SYS_ptrace, 0, 0, 0, 0); }},
        {"write elsewhere", [](CResultWriter&) { ::pwrite(2, "x", 1, 0); }},
        {"executable memory",
         [](CResultWriter&) { ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); }},
    };
    for (const auto& [what, work] : attempts) {
        SCOPED_TRACE(what);
        std::string out;
        EXPECT_EQ(RunChild({input}, [&](CResultWriter& w) {
                      w.Value(int32_t(1));
                      w.Flush();
                      work(w);
                      w.Value(int32_t(2));
                  }, &out),
                  SandboxOutcome::forbidden);
        EXPECT_EQ(out.size(), sizeof(int32_t));  // what it wrote before stays, nothing after
        EXPECT_TRUE(NoChildLeft());
    }
    EXPECT_EQ(ReadWholeFile(input), "x");
    EXPECT_FALSE(std::ifstream(dir.Path("new")).good());
    // The next child runs as if nothing had happened.
    EXPECT_EQ(RunChild({input}, [](CResultWriter& w) { w.Value(int32_t(0)); }), SandboxOutcome::done);
}

TEST(ChildSandbox, ReadsItsInputsOnlyAndNothingOfTheParents)
{
    TempDir dir;
    const std::string input = WriteFile(dir.Path("rec.hea"), {'h', 'e', 'a'});
    const std::string missing = dir.Path("rec.dat");
    const int parentFile = ::open(input.c_str(), O_RDONLY);
    ASSERT_GE(parentFile, 0);
    const std::string cwd = dir.Dir().parent_path().string();
    const std::string relative = dir.Dir().filename().string() + "/rec.hea";
    char before[4096];
    ASSERT_TRUE(::getcwd(before, sizeof before));
    ASSERT_EQ(::chdir(cwd.c_str()), 0);

    std::string out;
    const SandboxOutcome outcome = RunChild({relative, missing}, [&](CResultWriter& w) {
        // Opened twice, by other spellings, each read from its start.
        for (const std::string& p : {input, "./" + relative, dir.Dir().string() + "//./x/../rec.hea"}) {
            std::ifstream in(p);
            std::string text;
            in >> text;
            w.String(text);
        }
        struct stat st {};
        w.Value(int32_t(::stat(input.c_str(), &st) == 0 ? st.st_size : -1));
        w.Value(int32_t(::access(input.c_str(), R_OK)));
        // Missing inputs read as absent; the user lookup works as outside.
        errno = 0;
        w.Value(int32_t(::open(missing.c_str(), O_RDONLY) < 0 ? errno : 0));
        w.Value(int32_t(::stat(missing.c_str(), &st) < 0 ? errno : 0));
        w.Value(int32_t(::getpwuid(::geteuid()) ? 0 : ENOENT));
        w.Value(int32_t(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0) < 0 ? errno : 0));
        // What the parent had open is gone.
        w.Value(int32_t(::fcntl(parentFile, F_GETFD) < 0 ? errno : 0));
    }, &out);
    ASSERT_EQ(::chdir(before), 0);
    ::close(parentFile);
    ASSERT_EQ(outcome, SandboxOutcome::done);
    CResultReader in(out);
    for (int i = 0; i < 3; ++i) {
        std::string text;
        ASSERT_TRUE(in.String(&text));
        EXPECT_EQ(text, "hea") << i;
    }
    int32_t size = 0, access = 0, openMissing = 0, statMissing = 0, passwd = 0, socket = 0, inherited = 0;
    ASSERT_TRUE(in.Value(&size) && in.Value(&access) && in.Value(&openMissing) && in.Value(&statMissing) &&
                in.Value(&passwd) && in.Value(&socket) && in.Value(&inherited));
    EXPECT_EQ(size, 3);
    EXPECT_EQ(access, 0);
    EXPECT_EQ(openMissing, ENOENT);
    EXPECT_EQ(statMissing, ENOENT);
    EXPECT_EQ(passwd, ::getpwuid(::geteuid()) ? 0 : ENOENT);
    EXPECT_EQ(socket, EACCES);
    EXPECT_EQ(inherited, EBADF);
}

TEST(ChildSandbox, MemoryIsLimited)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory leaves no room for an address-space limit";
#endif
    std::string out;
    EXPECT_EQ(RunChild({}, [](CResultWriter& w) {
                  try {
                      std::vector<char> huge(size_t(64) << 30);
                      w.Value(int32_t(huge.size() != 0));
                  } catch (const std::bad_alloc&) {
                      w.Value(int32_t(-1));
                  }
              }, &out),
              SandboxOutcome::done);
    CResultReader in(out);
    int32_t v = 0;
    ASSERT_TRUE(in.Value(&v));
    EXPECT_EQ(v, -1);
}

TEST(ChildSandbox, DecoderInputsOfAWfdbHeader)
{
    TempDir dir;
    const std::string hea = "# made here\nrec 3 360 100\nrec.dat 212 200 11 1024 0 0 0 MLII\n"
                            "rec.dat 212 200 11 1024 0 0 0 V5\n/abs/other.dat 16 200 16 0 0 0 0 X\n";
    const std::string path = WriteFile(dir.Path("rec.hea"), std::vector<uint8_t>(hea.begin(), hea.end()));
    EXPECT_EQ(DecoderInputs(path),
              (std::vector<std::string>{path, dir.Path("rec.atr"), dir.Path("rec.dat"), "/abs/other.dat"}));
    EXPECT_EQ(DecoderInputs(dir.Path("x.edf")), std::vector<std::string>{dir.Path("x.edf")});
}

// Each kept input (library-*) made BioSig fault; through the program's own open path it
// is a message naming the file, and the program goes on as before.
TEST(ChildSandbox, KeptLibraryFaultsGiveAMessageAndLeaveTheParentWhole)
{
    TempDir dir;
    const ProgramRun synth = RunSynth({"long", "--minutes", "1", "--start", "2024-05-06 09:15", dir.Path("")});
    ASSERT_EQ(synth.status, 0) << synth.err;
    const ProgramRun edf = RunAnalyze({"--export-edf", dir.Path("good.edf"), dir.Path("24050609.15")});
    ASSERT_EQ(edf.status, 0) << edf.err;
    const auto goodSamples = [&] {
        CTime t;
        auto file = OpenStandardRecording(dir.Path("good.edf"), {}, &t);
        return file ? file->GetSampleCount() : 0;
    };
    const uint64_t expected = goodSamples();
    ASSERT_GT(expected, 0u);

    const size_t descriptors = OpenDescriptors();
    int replayed = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(VITREL_FUZZ_REGRESSIONS) / "standard_format")) {
        if (e.path().filename().string().rfind("library-", 0) != 0)
            continue;
        const std::string bytes = ReadWholeFile(e.path().string());
        std::vector<std::string> written;
        const std::string path =
            WriteStandardFuzzInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &written);
        SCOPED_TRACE(e.path().filename().string());
        // The message names the file at fault: the one opened, or a file of
        // its record (a WFDB signal or annotation file).
        const auto namesAFile = [&](const std::string& message) {
            if (message.find(path) != std::string::npos)
                return true;
            for (const std::string& w : written)
                if (message.find(w) != std::string::npos)
                    return true;
            return false;
        };
        // An over-read that stays inside mapped memory goes unseen without
        // a sanitizer: such a file may open.
        try {
            CTime t;
            EXPECT_TRUE(OpenStandardRecording(path, {}, &t));
        } catch (const CFileException& x) {
            EXPECT_TRUE(namesAFile(x.GetErrorMessage())) << x.GetErrorMessage();
        }
        std::vector<int64_t> beats;
        std::string error;
        if (!ReadReferenceBeats(path, &beats, &error)) {
            EXPECT_TRUE(namesAFile(error)) << error;
        }
        for (const std::string& w : written)
            ::unlink(w.c_str());
        ++replayed;
    }
    EXPECT_GE(replayed, 5);
    EXPECT_TRUE(NoChildLeft());
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(goodSamples(), expected);
}

// A program of the build finds the helper (else each decode falls back to
// a forked copy of it), an installed one in libexec, a tool's own first.
TEST(ChildSandbox, TheDecodeHelperIsFound)
{
    ASSERT_FALSE(DecodeHelperPath().empty());
    EXPECT_EQ(std::filesystem::path(DecodeHelperPath()).filename(), "vitrel-decode");
    TempDir dir;
    const auto executable = [&](const std::string& name) {
        std::filesystem::create_directories(std::filesystem::path(dir.Path(name)).parent_path());
        const std::string path = WriteFile(dir.Path(name), {'#', '!'});
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    };
    const std::string installed = executable("usr/libexec/vitrel-ecg/vitrel-decode");
    EXPECT_EQ(FindDecodeHelper(dir.Path("usr/bin/vitrel-ecg")), installed);
    WriteFile(dir.Path("usr/bin/vitrel-decode"), {'#', '!'});  // not executable
    EXPECT_EQ(FindDecodeHelper(dir.Path("usr/bin/vitrel-ecg")), installed);
    EXPECT_EQ(FindDecodeHelper(dir.Path("usr/libexec/vitrel-ecg/tool")), installed);
}

// The decode's child ran the parent's allocator and C library after fork:
// with another thread allocating or converting times, it could find a lock
// held (the sanitizer's allocator's, the time zone's) and hang until the time
// limit called the file damaged.
TEST(ChildSandbox, DecodesWhileAnotherThreadHoldsLibraryLocks)
{
    const std::string record = (std::filesystem::path(VITREL_DATA_DIR) / "source" / "mitdb" / "100.hea").string();
    CTime t;
    const uint64_t expected = OpenStandardRecording(record, {}, &t)->GetSampleCount();
    std::atomic<bool> stop{false};
    // Every size class from 16 bytes to 512 KiB, emptied and refilled, so
    // that the allocator's shared lists and locks are in use all the time.
    std::thread churn([&] {
        std::vector<std::unique_ptr<char[]>> blocks;
        for (time_t now = 0; !stop.load(std::memory_order_relaxed); ++now) {
            for (size_t i = 0; i < 512; ++i) {
                blocks.emplace_back(new char[size_t(16) << (i % 16)]);
                tm local;
                ::localtime_r(&now, &local);
            }
            blocks.clear();
        }
    });
    for (int i = 0; i < 10; ++i) {
        std::unique_ptr<CStandardFile> file;
        EXPECT_NO_THROW(file = OpenStandardRecording(record, {}, &t)) << i;
        EXPECT_TRUE(file && file->GetSampleCount() == expected) << i;
    }
    stop = true;
    churn.join();
    EXPECT_TRUE(NoChildLeft());
}
