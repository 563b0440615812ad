// vitrel-analyze --json against the expected analyses of the real recordings,
// and the tool's error paths.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/EcgDocument.h"
#include "formats/ReviewFile.h"
#include "resources/Version.h"
#include "support/Programs.h"
#include "support/Recordings.h"
#include "support/SyntheticEcg.h"
#include "support/TempDir.h"

using namespace testsupport;

namespace fs = std::filesystem;

namespace {

// Just enough JSON for the tool's output: numbers stay as their text.
struct Json {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    std::string text;  // number text, string value, or "true"/"false"
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;  // in order
};

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : m_s(s) {}

    bool Parse(Json* out)
    {
        if (!Value(out))
            return false;
        Space();
        return m_pos == m_s.size();
    }

private:
    void Space()
    {
        while (m_pos < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_pos])))
            ++m_pos;
    }
    bool Literal(const char* word)
    {
        const size_t n = std::strlen(word);
        if (m_s.compare(m_pos, n, word) != 0)
            return false;
        m_pos += n;
        return true;
    }
    bool Str(std::string* out)
    {
        if (m_s[m_pos] != '"')
            return false;
        ++m_pos;
        while (m_pos < m_s.size() && m_s[m_pos] != '"') {
            if (m_s[m_pos] == '\\') {
                ++m_pos;
                if (m_pos >= m_s.size())
                    return false;
            }
            *out += m_s[m_pos++];
        }
        if (m_pos >= m_s.size())
            return false;
        ++m_pos;
        return true;
    }
    bool Value(Json* v)
    {
        Space();
        if (m_pos >= m_s.size())
            return false;
        const char c = m_s[m_pos];
        if (c == '{') {
            v->type = Json::Object;
            ++m_pos;
            Space();
            if (m_s[m_pos] == '}')
                return ++m_pos, true;
            for (;;) {
                Space();
                std::string key;
                if (!Str(&key))
                    return false;
                Space();
                if (m_s[m_pos++] != ':')
                    return false;
                Json member;
                if (!Value(&member))
                    return false;
                v->members.emplace_back(key, std::move(member));
                Space();
                if (m_s[m_pos] == ',') {
                    ++m_pos;
                    continue;
                }
                return m_s[m_pos++] == '}';
            }
        }
        if (c == '[') {
            v->type = Json::Array;
            ++m_pos;
            Space();
            if (m_s[m_pos] == ']')
                return ++m_pos, true;
            for (;;) {
                Json item;
                if (!Value(&item))
                    return false;
                v->items.push_back(std::move(item));
                Space();
                if (m_s[m_pos] == ',') {
                    ++m_pos;
                    continue;
                }
                return m_s[m_pos++] == ']';
            }
        }
        if (c == '"') {
            v->type = Json::String;
            return Str(&v->text);
        }
        if (Literal("true") || Literal("false")) {
            v->type = Json::Bool;
            v->text = c == 't' ? "true" : "false";
            return true;
        }
        if (Literal("null"))
            return true;
        const size_t start = m_pos;
        while (m_pos < m_s.size() && std::strchr("+-0123456789.eE", m_s[m_pos]))
            ++m_pos;
        if (m_pos == start)
            return false;
        v->type = Json::Number;
        v->text = m_s.substr(start, m_pos - start);
        return true;
    }

    const std::string& m_s;
    size_t m_pos = 0;
};

bool IsInteger(const std::string& t)
{
    return !t.empty() && t.find_first_not_of("-0123456789") == std::string::npos;
}

// Integers must be equal, other numbers equal as 32-bit floats.
void ExpectSame(const Json& got, const Json& want, const std::string& where)
{
    ASSERT_EQ(got.type, want.type) << where;
    switch (want.type) {
    case Json::Number:
        if (IsInteger(got.text) && IsInteger(want.text))
            EXPECT_EQ(std::stoll(got.text), std::stoll(want.text)) << where;
        else
            EXPECT_EQ(std::strtof(got.text.c_str(), nullptr), std::strtof(want.text.c_str(), nullptr))
                << where << ": " << got.text << " vs " << want.text;
        break;
    case Json::Array:
        ASSERT_EQ(got.items.size(), want.items.size()) << where;
        for (size_t i = 0; i < want.items.size(); ++i)
            ExpectSame(got.items[i], want.items[i], where + "[" + std::to_string(i) + "]");
        break;
    case Json::Object:
        // The tool may add keys after the expected ones, at the top level only.
        if (where.empty())
            ASSERT_GE(got.members.size(), want.members.size());
        else
            ASSERT_EQ(got.members.size(), want.members.size()) << where;
        for (size_t i = 0; i < want.members.size(); ++i) {
            ASSERT_EQ(got.members[i].first, want.members[i].first) << where << ": key order";
            if (want.members[i].first == "file" && where.empty())
                continue;
            ExpectSame(got.members[i].second, want.members[i].second, where + "." + want.members[i].first);
        }
        break;
    default:
        EXPECT_EQ(got.text, want.text) << where;
    }
}

// vitrel-analyze with the time zone of the expected output.
ProgramRun RunTool(const std::vector<std::string>& args)
{
    return RunAnalyze(args, {"TZ=Asia/Shanghai"});
}

std::vector<std::string> Lines(const std::string& s)
{
    std::vector<std::string> v;
    std::istringstream in(s);
    std::string line;
    while (std::getline(in, line))
        v.push_back(line);
    return v;
}

}  // namespace

TEST(AnalyzeExpected, MatchesEveryExpectedAnalysis)
{
    const fs::path dir = fs::path(VITREL_DATA_DIR) / "expected";
    if (!fs::is_directory(dir))
        GTEST_SKIP() << "no test data at " << dir;
    TempDir tmp;
    int checked = 0;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().extension() == ".json")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& expectedPath : files) {
        const std::string stem = expectedPath.stem().string();  // <folder>--<file>
        const size_t sep = stem.find("--");
        ASSERT_NE(sep, std::string::npos) << stem;
        const fs::path recording = fs::path(VITREL_DATA_DIR) / stem.substr(0, sep) / stem.substr(sep + 2);
        SCOPED_TRACE(recording.string());

        std::ifstream in(expectedPath);
        std::stringstream ss;
        ss << in.rdbuf();
        Json want;
        ASSERT_TRUE(JsonParser(ss.str()).Parse(&want)) << expectedPath;

        const ProgramRun r = RunTool({"--json", recording.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(lines.size(), 1u) << r.out;
        Json got;
        ASSERT_TRUE(JsonParser(lines[0]).Parse(&got)) << lines[0];
        ExpectSame(got, want, "");
        // Then heart-rate variability: measures for a long recording, null for a short one.
        ASSERT_GT(got.members.size(), want.members.size());
        const auto& hrv = got.members[want.members.size()];
        EXPECT_EQ(hrv.first, "hrv");
        EXPECT_EQ(hrv.second.type, want.members[1].second.text == "1" ? Json::Object : Json::Null);
        ASSERT_FALSE(got.members.empty());
        EXPECT_EQ(got.members[0].second.text, recording.filename().string());
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(AnalyzeCli, FilesThatCannotBeOpened)
{
    TempDir tmp;
    const std::string good = tmp.Path("good.ecg");
    WriteShortRecording(good, 3, {100, 350, 610});
    const std::string missing = tmp.Path("missing.30");
    // A short recording dated month 13 cannot be opened either.
    const std::string badDate = tmp.Path("baddate.ecg");
    WriteShortRecording(badDate, 0, {});
    {
        std::fstream f(badDate, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(1);
        f.put(char(13));
    }
    const std::string folder = tmp.Path("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);

    const ProgramRun r = RunTool({"--json", missing, good, badDate, folder});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> out = Lines(r.out);
    ASSERT_EQ(out.size(), 1u) << r.out;  // the good file is still analysed
    Json got;
    ASSERT_TRUE(JsonParser(out[0]).Parse(&got));
    EXPECT_EQ(got.members[0].second.text, "good.ecg");
    const std::vector<std::string> err = Lines(r.err);
    ASSERT_EQ(err.size(), 3u) << r.err;
    EXPECT_EQ(err[0], "没有找到 " + missing + "。");
    EXPECT_EQ(err[1], "访问 " + badDate + " 时发生未知错误。");
    EXPECT_EQ(err[2], "对 " + folder + " 的访问被拒绝。");

    // The same in the readable form.
    const ProgramRun text = RunTool({missing, good});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("beats:          3"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("08:56-08:56"), std::string::npos) << text.out;

    // Rates 60 and 15000 / 255; the minute average is their mean.
    const ProgramRun ok = RunTool({"--json", good});
    EXPECT_EQ(ok.status, 0);
    // The keys the tool adds follow.
    EXPECT_EQ(ok.out.substr(0, ok.out.find(", \"classes\"")),
              "{\"file\":\"good.ecg\",\"kind\":2,\"sampleCount\":5400,\"startTime\":1583024160,\"completed\":true, "
              "\"beats\":[100,350,610],\"abnormalBeats\":[], \"minutes\":[{\"index\":0,\"avg\":59.4117661,"
              "\"min\":59.4117661,\"max\":60,\"slowBeat\":610,\"fastBeat\":350}], \"hours\":[{\"startHour\":8,"
              "\"startMinute\":56,\"endHour\":8,\"endMinute\":56,\"avg\":59.4117661,\"min\":59.4117661,\"max\":60,"
              "\"slowBeat\":610,\"fastBeat\":350}], \"minRatePosition\":610,\"maxRatePosition\":350, \"hrv\":null");
}

TEST(AnalyzeCli, Usage)
{
    EXPECT_EQ(RunTool({}).status, 2);
    EXPECT_EQ(RunTool({"--frobnicate", "x"}).status, 2);
    EXPECT_EQ(RunTool({"--reference"}).status, 2);
    EXPECT_EQ(RunTool({"--page-size", "A4", "x"}).status, 2);
    // Refused before the analysis, and no report is begun.
    const ProgramRun size = RunTool({"--report", "never.pdf", "--page-size", "B99", "x"});
    EXPECT_EQ(size.status, 2);
    EXPECT_NE(size.err.find("unknown page size: B99"), std::string::npos) << size.err;
    const ProgramRun v = RunTool({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.out.find(VITREL_VERSION), std::string::npos);
    const ProgramRun h = RunTool({"--help"});
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("Exit status"), std::string::npos);
}

TEST(AnalyzeCli, ReferenceComparison)
{
    TempDir tmp;
    const std::string good = tmp.Path("good.ecg");
    WriteShortRecording(good, 3, {100, 350, 610});
    const std::string ref = tmp.Path("ref.csv");
    {
        std::ofstream out(ref);
        out << "63,N\n380,N\n900,V\n";  // 37 and 30 away: both match; 900 is missed
    }
    const ProgramRun r = RunTool({"--reference", ref, good});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("TP 2 FN 1 FP 1 Se 66.67% +P 66.67%"), std::string::npos) << r.out;
}

// A report path that names an input (as given, through a link or another
// spelling) is refused before anything is written.
TEST(AnalyzeCli, ReportNeverOverwritesAnInput)
{
#ifndef VITREL_HAVE_REPORT
    GTEST_SKIP() << "this build has no report renderer";
#endif
    TempDir tmp;
    const std::string good = tmp.Path("good.ecg");
    WriteShortRecording(good, 3, {100, 350, 610});
    const std::string ref = tmp.Path("ref.csv");
    std::ofstream(ref) << "100,N\n";
    const auto bytes = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string recording = bytes(good);
    ASSERT_EQ(::link(good.c_str(), tmp.Path("hard.pdf").c_str()), 0);
    ASSERT_EQ(::symlink(good.c_str(), tmp.Path("soft.pdf").c_str()), 0);
    const std::string dotted = fs::path(good).parent_path().string() + "/./good.ecg";
    for (const std::string& out : {good, tmp.Path("hard.pdf"), tmp.Path("soft.pdf"), dotted, ref}) {
        SCOPED_TRACE(out);
        const ProgramRun r = RunTool({"--reference", ref, "--report", out, good});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(out), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(bytes(good), recording);
        EXPECT_EQ(bytes(ref), "100,N\n");
    }
}

TEST(AnalyzeCli, DetectorChoice)
{
    TempDir tmp;
    const std::string path = tmp.Path("20030108.30");
    WriteSamples(path, SyntheticEcg(3 * ANALYSIS_CHUNK_STEP, 190, 1400, 4, 10));
    const ProgramRun standard = RunTool({"--json", path});
    ASSERT_EQ(standard.status, 0) << standard.err;
    // Naming the default changes nothing.
    EXPECT_EQ(RunTool({"--json", "--detector", "standard", path}).out, standard.out);

    const ProgramRun precise = RunTool({"--detector", "precise", "--json", path});
    ASSERT_EQ(precise.status, 0) << precise.err;
    Json a, b;
    ASSERT_TRUE(JsonParser(Lines(standard.out).at(0)).Parse(&a));
    ASSERT_TRUE(JsonParser(Lines(precise.out).at(0)).Parse(&b));
    ASSERT_EQ(a.members.size(), b.members.size());
    for (size_t i = 0; i < a.members.size(); ++i)
        EXPECT_EQ(a.members[i].first, b.members[i].first);
    EXPECT_EQ(b.members[5].first, "beats");
    EXPECT_GE(b.members[5].second.items.size(), size_t(3 * ANALYSIS_CHUNK_STEP / 190 - 1));

    EXPECT_EQ(RunTool({"--detector", "fast", path}).status, 2);
    EXPECT_EQ(RunTool({path, "--detector"}).status, 2);
}

TEST(AnalyzeCli, ReferenceLeavesOutWhatIsNotScored)
{
    TempDir tmp;
    const std::string good = tmp.Path("good.ecg");
    WriteShortRecording(good, 3, {100, 350, 610});
    const std::string ref = tmp.Path("ref.csv");
    {
        std::ofstream out(ref);
        out << "63,N\n380,N\n900,V\n";
    }
    // 900 is left out: nothing is missed.
    ProgramRun r = RunTool({"--reference", ref, "--exclude", "850-950", good});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("TP 2 FN 0 FP 1 "), std::string::npos) << r.out;
    // From 2 s (sample 500) on: 610 is false, 900 missed.
    r = RunTool({"--reference", ref, "--score-from", "2", good});
    EXPECT_NE(r.out.find("TP 0 FN 1 FP 1 "), std::string::npos) << r.out;

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--score-from", "300", good}, {"--reference", ref, "--exclude", "9-3", good},
          {"--reference", ref, "--exclude", "12", good}, {"--reference", ref, "--score-from", "-1", good}})
        EXPECT_EQ(RunTool(bad).status, 2) << bad[1];
}

TEST(AnalyzeCli, SavedReviewReplacesTheBeats)
{
    TempDir tmp;
    const std::string path = tmp.Path("20030108.30");
    WriteSamples(path, SyntheticEcg(2 * ANALYSIS_CHUNK_STEP, 200, 1400, 4, 10));
    const auto member = [](const ProgramRun& run, const std::string& key) {
        Json j;
        EXPECT_TRUE(JsonParser(Lines(run.out).at(0)).Parse(&j)) << run.out;
        for (const auto& [k, v] : j.members)
            if (k == key)
                return v;
        ADD_FAILURE() << "no " << key;
        return Json{};
    };
    const ProgramRun plain = RunTool({"--json", path});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(member(plain, "reviewed").text, "false");

    CHolterFile file(path);
    const RecordingIdentity id = IdentifyRecording(file);
    std::string error;
    ASSERT_TRUE(WriteReview(ReviewPathFor(path), id, {100, 300, 700}, {BeatClass::N, BeatClass::V, BeatClass::N},
                            &error));
    const ProgramRun reviewed = RunTool({"--json", path});
    ASSERT_EQ(reviewed.status, 0) << reviewed.err;
    EXPECT_EQ(member(reviewed, "reviewed").text, "true");
    EXPECT_EQ(member(reviewed, "beats").items.size(), 3u);
    EXPECT_EQ(member(reviewed, "classes").text, "NVN");
    EXPECT_NE(RunTool({path}).out.find("review:         applied"), std::string::npos);
    // --no-review, and a review of another recording, leave the detector's beats.
    EXPECT_EQ(RunTool({"--json", "--no-review", path}).out, plain.out);
    ASSERT_TRUE(WriteReview(ReviewPathFor(path), RecordingIdentity{id.sampleCount, id.checksum + 1}, {100},
                            {BeatClass::N}, &error));
    const ProgramRun foreign = RunTool({"--json", path});
    EXPECT_EQ(foreign.out, plain.out);
    EXPECT_NE(foreign.err.find("belongs to another recording"), std::string::npos) << foreign.err;
    // An export never replaces the review.
    EXPECT_EQ(RunTool({"--beats", ReviewPathFor(path), path}).status, 1);
}

TEST(AnalyzeCli, ReferenceScoresClassesAndRhythm)
{
    const std::filesystem::path dir = std::filesystem::path(VITREL_DATA_DIR) / "mitdb-203";
    const std::string rec = (dir / "20031406.55").string();
    const ProgramRun run = RunTool({"--detector", "precise", "--reference", (dir / "203.beats.csv").string(),
                                    "--score-from", "300", "--reference-rhythm", (dir / "203.rhythm.csv").string(), rec});
    ASSERT_EQ(run.status, 0) << run.err;
    // Record 203 is mostly AF with many V beats: both are found, and the
    // figures come out as numbers.
    const auto figure = [&](const std::string& label) {
        const size_t at = run.out.find(label);
        EXPECT_NE(at, std::string::npos) << run.out;
        return at == std::string::npos ? 0.0 : std::atof(run.out.c_str() + at + label.size());
    };
    EXPECT_GT(figure("classes VEB Se "), 85.0);
    EXPECT_GT(figure("duration Se "), 85.0);
    // A rhythm list that is not one is a usage error.
    EXPECT_EQ(RunTool({"--reference-rhythm", rec, rec}).status, 2);
}
