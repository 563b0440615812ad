#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "recording/EcgFile.h"
#include "recording/ErrorMessage.h"
#include "support/Recordings.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"

using namespace testsupport;

namespace {

// A normal short recording: the header's first six bytes (the date), its
// beat table and stored count, and the samples.
std::vector<uint8_t> ShortImage(const std::vector<uint8_t>& date, const std::vector<uint32_t>& beats = {},
                                const std::vector<int16_t>& samples = {}, int qrsCount = 0)
{
    RecordingHeader header = ShortHeader(date[0], date[1], date[2], date[3], date[4], date[5]);
    SetBeats(header, beats, qrsCount);
    return ShortRecordingBytes(header, samples);
}

std::string Formatted(CEcgFile& file)
{
    char text[32];
    std::memset(text, 'x', sizeof text);
    if (!file.FormatStartTime(text))
        return "<false>";
    return text;
}

CTime Local(int y, int mo, int d, int h, int mi)
{
    return CTime(y, mo, d, h, mi, 0);
}

}  // namespace

TEST(KindSelection, ChoosesKindByExactLength)
{
    ScopedTimeZone tz("UTC");
    TempDir dir;
    struct Case {
        size_t bytes;
        int kind;
        uint64_t samples;
    } cases[] = {{14352, 2, 5400}, {14353, 1, 7176}, {14374, 3, 5400}, {14351, 1, 7175}, {0, 1, 0}, {1, 1, 0}};
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(c.bytes, 0);
        if (c.bytes >= 14352) {  // a valid date so short kinds open
            const std::vector<uint8_t> head{10, 11, 8, 14, 30, 59};
            std::copy(head.begin(), head.end(), bytes.begin() + (c.bytes == 14374 ? 22 : 0));
        }
        const std::string path = dir.WriteBytes("f" + std::to_string(c.bytes), bytes);
        CTime start(0);
        auto file = OpenEcgFile(path, &start);
        ASSERT_TRUE(file) << c.bytes;
        EXPECT_EQ(file->GetFileKind(), c.kind) << c.bytes;
        EXPECT_EQ(file->GetSampleCount(), c.samples) << c.bytes;
    }
}

// The one mapping of what went wrong to what the window and vitrel-analyze say.
TEST(KindSelection, ErrorMessages)
{
    EXPECT_EQ(ErrorMessageFor(CFileException(CFileException::accessDenied, EACCES, "a.ecg"), "b.ecg"),
              "对 a.ecg 的访问被拒绝。");
    EXPECT_EQ(ErrorMessageFor(CTimeException(CTimeException::E_FAIL_CODE), "b.ecg"), "访问 b.ecg 时发生未知错误。");
    EXPECT_EQ(ErrorMessageFor(std::bad_alloc(), "b.ecg"), "内存不足。");
    EXPECT_EQ(ErrorMessageFor(std::runtime_error("other"), "b.ecg"), "other");
}

TEST(KindSelection, OpenFailuresRaiseFileErrorsWithThePath)
{
    TempDir dir;
    const std::string missing = dir.Path("gone.ecg");
    try {
        OpenEcgFile(missing, nullptr);
        FAIL() << "no error";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
        EXPECT_EQ(e.GetErrorMessage(), "没有找到 " + missing + "。");
    }
    // A file gone between the kind probe and the reader's own open is an
    // error now, not a closed reader that fails later on an invalid handle.
    for (int kind : {ECG_KIND_HOLTER, ECG_KIND_NORMAL, ECG_KIND_REMOTE})
        EXPECT_THROW(OpenEcgFileOfKind(kind, missing), CFileException) << kind;
    try {
        OpenEcgFile(dir.Dir().string(), nullptr);
        FAIL() << "a directory opened";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        EXPECT_EQ(e.GetErrorMessage(), "对 " + dir.Dir().string() + " 的访问被拒绝。");
    }
    try {
        OpenEcgFile(dir.Path("nofolder/x/10110814.30"), nullptr);
        FAIL();
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    }
    const std::string fileAsDir = dir.WriteBytes("plain", {1, 2});
    try {
        OpenEcgFile(fileAsDir + "/inner", nullptr);
        FAIL();
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::badPath);
        EXPECT_EQ(e.GetErrorMessage(), fileAsDir + "/inner 包含错误的路径。");
    }
    // A named pipe must neither hang nor open.
    const std::string fifo = dir.Path("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(OpenEcgFile(fifo, nullptr), CFileException);
    // A socket cannot be opened at all: the system's ENXIO is the generic cause.
    const std::string sock = dir.Path("sock");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, sock.c_str(), sizeof addr.sun_path - 1);
    if (fd >= 0 && sock.size() < sizeof addr.sun_path && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        try {
            OpenEcgFile(sock, nullptr);
            FAIL() << "a socket opened";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.GetErrorMessage(), "访问 " + sock + " 时发生未知错误。");
        }
    }
    if (fd >= 0)
        ::close(fd);
    if (geteuid() != 0) {
        const std::string locked = dir.WriteBytes("locked", {0, 0});
        chmod(locked.c_str(), 0);
        try {
            OpenEcgFile(locked, nullptr);
            FAIL();
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::accessDenied);
        }
    }
}

TEST(FileErrors, EveryCauseHasItsMessage)
{
    EXPECT_EQ(CFileException::FormatMessage(CFileException::genericException, "/a"), "访问 /a 时发生未知错误。");
    EXPECT_EQ(CFileException::FormatMessage(CFileException::tooManyOpenFiles, "/a"), "无法打开 /a，因为打开的文件太多。");
    EXPECT_EQ(CFileException::FormatMessage(CFileException::invalidFile, "/a"), "与 /a 相关联的文件句柄不正确。");
    EXPECT_EQ(CFileException::FormatMessage(CFileException::badSeek, "/a"), "对 /a 进行查找失败。");
    EXPECT_EQ(CFileException::FormatMessage(CFileException::hardIO, "/a"), "访问 /a 时遇到硬件 I/O 错误。");
    EXPECT_EQ(CFileException::FormatMessage(CFileException::sharingViolation, "/a"), "访问 /a 时遇到共享冲突。");
    EXPECT_EQ(CFileException::FormatMessage(CFileException::lockViolation, "/a"), "访问 /a 时遇到锁定冲突。");
    // A path containing %1 is inserted once, not expanded again.
    EXPECT_EQ(CFileException::FormatMessage(CFileException::fileNotFound, "/x%1"), "没有找到 /x%1。");
    EXPECT_EQ(CFileException::OsErrorToCause(EMFILE), CFileException::tooManyOpenFiles);
    EXPECT_EQ(CFileException::OsErrorToCause(EIO), CFileException::hardIO);
    EXPECT_EQ(CFileException::OsErrorToCause(ENOSPC), CFileException::genericException);
}

TEST(SampleReading, ReadsAtAndPastTheEnd)
{
    ScopedTimeZone tz("UTC");
    TempDir dir;
    std::vector<int16_t> samples(5400);
    for (int i = 0; i < 5400; ++i)
        samples[i] = static_cast<int16_t>(i * 7 - 20000);
    auto image = ShortImage({10, 11, 8, 14, 30, 59}, {}, samples, 0);
    const std::string normal = dir.WriteBytes("n.ecg", image);
    auto file = OpenEcgFile(normal, nullptr);
    int16_t buf[10];
    std::fill(std::begin(buf), std::end(buf), int16_t(0x5A5A));
    EXPECT_EQ(file->ReadSamples(buf, 5399, 10), 1u);
    EXPECT_EQ(buf[0], samples[5399]);
    EXPECT_EQ(buf[1], int16_t(0x5A5A));
    std::fill(std::begin(buf), std::end(buf), int16_t(0x5A5A));
    EXPECT_EQ(file->ReadSamples(buf, 5400, 10), 0u);
    EXPECT_EQ(buf[0], int16_t(0x5A5A));
    EXPECT_EQ(file->ReadSamples(buf, 0, 2), 2u);
    EXPECT_EQ(buf[0], samples[0]);
    EXPECT_EQ(buf[1], samples[1]);
    // Absurd positions read nothing instead of wrapping around.
    EXPECT_EQ(file->ReadSamples(buf, UINT64_MAX - 3, 10), 0u);

    // The remote kind: same samples 22 bytes further on, anything in the lead bytes.
    std::vector<uint8_t> remote(22, 0xEE);
    remote.insert(remote.end(), image.begin(), image.end());
    auto rfile = OpenEcgFile(dir.WriteBytes("r.ecg", remote), nullptr);
    ASSERT_EQ(rfile->GetFileKind(), 3);
    EXPECT_EQ(rfile->ReadSamples(buf, 5398, 10), 2u);
    EXPECT_EQ(buf[0], samples[5398]);
    EXPECT_EQ(buf[1], samples[5399]);
}

TEST(SampleReading, LongRecordingWithOddTrailingByte)
{
    TempDir dir;
    std::vector<uint8_t> bytes(1001);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 13);
    auto file = OpenEcgFile(dir.WriteBytes("odd.bin", bytes), nullptr);
    EXPECT_EQ(file->GetSampleCount(), 500u);
    int16_t buf[10] = {};
    EXPECT_EQ(file->ReadSamples(buf, 499, 10), 1u);
    EXPECT_EQ(static_cast<uint16_t>(buf[0]), bytes[998] | (bytes[999] << 8));
    // The odd byte lands in the low byte of the next element but is not counted.
    EXPECT_EQ(static_cast<uint16_t>(buf[1]) & 0xFF, bytes[1000]);

    auto one = OpenEcgFile(dir.WriteBytes("one", {7}), nullptr);
    EXPECT_EQ(one->GetSampleCount(), 0u);
    EXPECT_EQ(one->ReadSamples(buf, 0, 4), 0u);
}

TEST(SampleReading, ClosedObjectRaisesFileErrors)
{
    TempDir dir;
    CHolterFile file(dir.Path("10110814.30"));  // never existed
    EXPECT_FALSE(file.IsOpen());
    int16_t buf[4];
    EXPECT_THROW(file.ReadSamples(buf, 0, 4), CFileException);
    EXPECT_THROW(file.GetSampleCount(), CFileException);
    CTime t(42);
    EXPECT_FALSE(file.GetStartTime(&t));
    EXPECT_EQ(t.GetTime(), 42);
}

TEST(SampleReading, VanishedFileKeepsReadingThroughItsHandle)
{
    TempDir dir;
    const std::string path = dir.WriteSamples("20010101.00", std::vector<int16_t>(100, 5));
    auto file = OpenEcgFile(path, nullptr);
    ASSERT_EQ(unlink(path.c_str()), 0);
    int16_t buf[3];
    EXPECT_EQ(file->ReadSamples(buf, 97, 3), 3u);
    EXPECT_EQ(buf[2], 5);
    // A new reader on the stored path fails the way the worker's does.
    CHolterFile again(path);
    EXPECT_THROW(again.GetSampleCount(), CFileException);
}

TEST(Header, ShortRecordingStartTimeAndHeader)
{
    ScopedTimeZone tz("Asia/Shanghai");
    TempDir dir;
    auto image = ShortImage({10, 11, 8, 14, 30, 59}, {100, 350, 610}, {}, 3);
    auto normal = OpenEcgFile(dir.WriteBytes("n.ecg", image), nullptr);
    CTime start(0);
    ASSERT_TRUE(normal->GetStartTime(&start));
    EXPECT_EQ(start, Local(2010, 11, 8, 14, 30));
    EXPECT_EQ(Formatted(*normal), "2010-11-08 14:30");

    RecordingHeader header;
    ASSERT_TRUE(normal->ReadHeader(&header));
    EXPECT_EQ(header.second, 59);
    EXPECT_EQ(HeaderBeatCount(header), 3);
    EXPECT_EQ(HeaderBeatPosition(header, 2), 610u);

    // Kind selection sets the document's start time; the remote kind reads the same header.
    std::vector<uint8_t> remote(22, 0x31);
    remote.insert(remote.end(), image.begin(), image.end());
    CTime docStart(0);
    auto rfile = OpenEcgFile(dir.WriteBytes("r.ecg", remote), &docStart);
    EXPECT_EQ(docStart, Local(2010, 11, 8, 14, 30));
    EXPECT_EQ(Formatted(*rfile), "2010-11-08 14:30");

    // A long recording never has a header and leaves the buffer alone.
    auto holter = OpenEcgFile(dir.WriteSamples("x.bin", {1, 2, 3}), nullptr);
    std::memset(&header, 0xAB, sizeof header);
    EXPECT_FALSE(holter->ReadHeader(&header));
    EXPECT_EQ(header.year, 0xAB);
}

TEST(Header, ImpossibleDatesRaiseAndRollOver)
{
    ScopedTimeZone tz("UTC");
    TempDir dir;
    // An all-zero header (month 0) cannot be opened.
    CTime start(0);
    EXPECT_THROW(OpenEcgFile(dir.WriteBytes("zero.ecg", std::vector<uint8_t>(14352, 0)), &start), CTimeException);
    const struct {
        std::vector<uint8_t> head;
    } bad[] = {{{10, 13, 1, 0, 0, 0}}, {{10, 1, 32, 0, 0, 0}}, {{10, 1, 0, 0, 0, 0}}, {{10, 1, 1, 24, 0, 0}},
               {{10, 1, 1, 0, 60, 0}}};
    int n = 0;
    for (const auto& b : bad) {
        const std::string path = dir.WriteBytes("bad" + std::to_string(n++), ShortImage(b.head, {}, {}, 0));
        try {
            OpenEcgFile(path, &start);
            FAIL() << n;
        } catch (const CTimeException& e) {
            EXPECT_EQ(e.m_hr, CTimeException::E_FAIL_CODE);
        }
    }
    OpenEcgFile(dir.WriteBytes("nov31", ShortImage({10, 11, 31, 14, 30, 0}, {}, {}, 0)), &start);
    EXPECT_EQ(start, Local(2010, 12, 1, 14, 30));
    // The seconds byte is not checked: 99 seconds still opens.
    EXPECT_NO_THROW(OpenEcgFile(dir.WriteBytes("s99", ShortImage({10, 11, 8, 1, 2, 99}, {}, {}, 0)), &start));
    // A header cut short is no header: the start time stays untouched.
    CNormalFile cut(dir.WriteBytes("cut", std::vector<uint8_t>(100, 1)));
    CTime keep(7);
    EXPECT_FALSE(cut.GetStartTime(&keep));
    EXPECT_EQ(keep.GetTime(), 7);
}

TEST(Header, BeatCountAboveCapacityIsLimited)
{
    std::vector<uint8_t> image = ShortImage({10, 1, 1, 0, 0, 0}, {}, {}, 255);
    RecordingHeader header;
    std::memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(header.qrsCount, 255);
    EXPECT_EQ(HeaderBeatCount(header), 79);
}

TEST(NameRule, LongRecordingStartTimes)
{
    ScopedTimeZone tz("Asia/Shanghai");
    struct Good {
        const char* name;
        int y, mo, d, h, mi;
    } good[] = {{"10110814.30", 2010, 11, 8, 14, 30}, {"99123123.59", 2099, 12, 31, 23, 59},
                {"00010100.00", 2000, 1, 1, 0, 0},    {"10113114.30", 2010, 12, 1, 14, 30},
                {"10023014.30", 2010, 3, 2, 14, 30},  {" 5110814.30", 2005, 11, 8, 14, 30},
                {"1a110814.30", 2001, 11, 8, 14, 30}, {"+1110814.30", 2001, 11, 8, 14, 30}};
    for (const Good& g : good) {
        CTime t(0);
        ASSERT_TRUE(CHolterFile::StartTimeFromName(g.name, &t)) << g.name;
        EXPECT_EQ(t, Local(g.y, g.mo, g.d, g.h, g.mi)) << g.name;
    }
    const char* bad[] = {"10110814.3",  "1011081.430",  "10130814.30", "10110832.30", "10110824.30",
                         "10110814.60", "10110814.30.dat", "-1110814.30", "10000814.30", "10110014.30",
                         "10110814 30", "10.10814.30", "1011-814.30"};
    for (const char* name : bad) {
        CTime t(5);
        EXPECT_FALSE(CHolterFile::StartTimeFromName(name, &t)) << name;
        EXPECT_EQ(t.GetTime(), 5) << name;
    }
    // Eleven code points, not eleven bytes: a two-byte character counts once.
    CTime t(0);
    EXPECT_TRUE(CHolterFile::StartTimeFromName("1011081\xC3\xA9.30", &t));
    EXPECT_EQ(t, Local(2010, 11, 8, 1, 30));
    EXPECT_FALSE(CHolterFile::StartTimeFromName("101108\xC3\xA9.30", &t));
}

TEST(NameRule, KindSelectionUsesTheLastPathComponent)
{
    ScopedTimeZone tz("Asia/Shanghai");
    TempDir dir;
    std::filesystem::create_directories(dir.Dir() / "99123123.59");
    const std::string path = dir.WriteSamples("99123123.59/10110814.30", std::vector<int16_t>(10));
    CTime start(0);
    auto file = OpenEcgFile(path, &start);
    EXPECT_EQ(start, Local(2010, 11, 8, 14, 30));
    EXPECT_EQ(Formatted(*file), "2010-11-08 14:30");
    // A name off the rule keeps the previous start time and formats nothing.
    CTime keep(1234);
    auto other = OpenEcgFile(dir.WriteSamples("recording.bin", std::vector<int16_t>(10)), &keep);
    EXPECT_EQ(keep.GetTime(), 1234);
    EXPECT_EQ(Formatted(*other), "<false>");
}

TEST(Time, DaylightSavingFollowsTheZone)
{
    ScopedTimeZone tz("Europe/Berlin");
    // 2010-07-01 12:00 CEST is 10:00 UTC; 2010-01-01 12:00 CET is 11:00 UTC.
    EXPECT_EQ(CTime(2010, 7, 1, 12, 0, 0).GetTime(), 1277978400);
    EXPECT_EQ(CTime(2010, 1, 1, 12, 0, 0).GetTime(), 1262343600);
    const LocalFields f = CTime(1277978400).GetLocalFields();
    EXPECT_EQ(f.hour, 12);
    EXPECT_EQ(f.month, 7);
}

TEST(FileErrors, SameFileMeansSameInodeAndCaseMatters)
{
    TempDir dir;
    const std::string lower = dir.WriteBytes("rec.dat", {1, 2});
    const std::string upper = dir.WriteBytes("REC.dat", {1, 2});
    ASSERT_EQ(::symlink(lower.c_str(), dir.Path("link.dat").c_str()), 0);
    EXPECT_FALSE(IsSameFile(lower, upper));
    EXPECT_TRUE(IsSameFile(lower, dir.Path("link.dat")));
    EXPECT_TRUE(IsSameFile(lower, (dir.Dir() / "." / "rec.dat").string()));
    // Paths not written yet compare by their resolved spelling.
    EXPECT_TRUE(IsSameFile(dir.Path("new.pdf"), (dir.Dir() / "." / "new.pdf").string()));
    EXPECT_FALSE(IsSameFile(dir.Path("new.pdf"), dir.Path("NEW.pdf")));

    // The message follows a path set after construction.
    CFileException e(CFileException::fileNotFound, ENOENT);
    e.m_strFileName = "/a";
    EXPECT_STREQ(e.what(), e.GetErrorMessage().c_str());
}
