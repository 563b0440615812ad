#include <gtest/gtest.h>

#include <fstream>

#include "formats/MitAnnotations.h"
#include "formats/ReviewFile.h"
#include "formats/ReviewSession.h"
#include "recording/EcgFile.h"
#include "support/Recordings.h"
#include "support/TempDir.h"

using namespace testsupport;

namespace {

using C = BeatClass;

TEST(ReviewFile, MitAnnotationsRoundTrip)
{
    // Long steps need SKIPs (beyond 10 bits, beyond 16), aux texts of odd
    // length their padding byte, a channel change its CHN word.
    const std::vector<MitAnnotation> in = {
        {0, 22, 0, 0, "## time resolution: 250"}, {5, 1, 0, 0, {}},         {1029, 5, 0, 0, {}},
        {70000, 28, 0, 0, "(AFIB"},               {70000, 1, 2, 1, {}},      {5000000000ULL, 9, 0, 1, {}},
    };
    std::vector<MitAnnotation> out;
    ASSERT_TRUE(DecodeMitAnnotations(EncodeMitAnnotations(in), &out));
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(out[i].sample, in[i].sample) << i;
        EXPECT_EQ(out[i].code, in[i].code) << i;
        EXPECT_EQ(out[i].subtype, in[i].subtype) << i;
        EXPECT_EQ(out[i].channel, in[i].channel) << i;
        EXPECT_EQ(out[i].aux, in[i].aux) << i;
    }
    // Cut short, or without its end word, it is no annotation file.
    const std::string bytes = EncodeMitAnnotations(in);
    EXPECT_FALSE(DecodeMitAnnotations(bytes.substr(0, bytes.size() - 2), &out));
    EXPECT_FALSE(DecodeMitAnnotations(bytes.substr(0, 7), &out));
}

TEST(ReviewFile, BelongsToItsRecordingOnly)
{
    TempDir dir;
    const std::string rec = WriteSamples(dir.Path("20030108.30"), SpikeTrain(3000));
    CHolterFile file(rec);
    const RecordingIdentity id = IdentifyRecording(file);
    EXPECT_EQ(id.sampleCount, 3000u);
    const std::string path = ReviewPathFor(rec);
    EXPECT_EQ(path, rec + ".vitrel.atr");

    SavedReview review;
    EXPECT_EQ(ReadReview(path, id, &review), ReviewStatus::absent);
    std::string error;
    const std::vector<uint32_t> beats = {100, 300, 2999};
    const std::vector<C> classes = {C::N, C::V, C::S};
    ASSERT_TRUE(WriteReview(path, id, beats, classes, &error)) << error;
    ASSERT_EQ(ReadReview(path, id, &review), ReviewStatus::loaded);
    EXPECT_EQ(review.version, REVIEW_FORMAT_VERSION);
    EXPECT_EQ(review.beats, beats);
    EXPECT_EQ(review.classes, classes);

    // One sample changed, or another length: not this recording's review,
    // and the file stays as it is.
    const std::string before = ReadWholeFile(path);
    std::vector<int16_t> changed = SpikeTrain(3000);
    changed[1234] += 1;
    const std::string other = WriteSamples(dir.Path("20030108.31"), changed);
    CHolterFile otherFile(other);
    EXPECT_EQ(ReadReview(path, IdentifyRecording(otherFile), &review), ReviewStatus::foreign);
    EXPECT_EQ(ReadReview(path, RecordingIdentity{2999, id.checksum}, &review), ReviewStatus::foreign);
    EXPECT_EQ(ReadReview(path + "x", id, &review), ReviewStatus::absent);
    EXPECT_EQ(ReadWholeFile(path), before);

    // Not a review: an annotation file without the identity note, or garbage.
    WriteFile(path, std::vector<uint8_t>{0x05, 0x04, 0x00, 0x00});
    EXPECT_EQ(ReadReview(path, id, &review), ReviewStatus::damaged);
    WriteFile(path, std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(ReadReview(path, id, &review), ReviewStatus::damaged);
}

TEST(ReviewFile, OlderVersionAndOtherToolsNotesAreRead)
{
    // A first-version review: no time-resolution note, an identity note
    // without the fields added since, and a rhythm note another tool added.
    char note[96];
    std::snprintf(note, sizeof note, "vitrel-review 1 samples=%d fnv1a=%016llx", 3000, 0x1234ULL);
    const std::vector<MitAnnotation> old = {
        {0, 22, 0, 0, note}, {100, 1, 0, 0, {}}, {150, 28, 0, 0, "(N"}, {300, 5, 0, 0, {}}};
    TempDir dir;
    const std::string path = dir.Path("old.vitrel.atr");
    const std::string bytes = EncodeMitAnnotations(old);
    WriteFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    SavedReview review;
    ASSERT_EQ(ReadReview(path, RecordingIdentity{3000, 0x1234}, &review), ReviewStatus::loaded);
    EXPECT_EQ(review.version, 1);
    EXPECT_EQ(review.beats, (std::vector<uint32_t>{100, 300}));
    EXPECT_EQ(review.classes, (std::vector<C>{C::N, C::V}));
}

}  // namespace

namespace {

TEST(ReviewSession, EditsSaveAndComeBackInTheNextSitting)
{
    TempDir dir;
    const std::string rec = WriteSamples(dir.Path("20030108.30"), SpikeTrain(30000));
    const auto analysed = [&](CEcgDocument& doc) {
        doc.OpenFile(rec);
        doc.StartAnalysis(nullptr);
        doc.WaitAnalysis();
        return doc.GetResults();
    };
    std::vector<uint32_t> edited;
    {
        CEcgDocument doc;
        const auto results = analysed(doc);
        ASSERT_TRUE(results && results->beats.size() > 20);
        CReviewSession session(doc);
        EXPECT_FALSE(session.Relabel({0}, C::V));  // not begun
        EXPECT_EQ(session.Begin(), ReviewStatus::absent);
        EXPECT_TRUE(session.Relabel({3}, C::V));
        EXPECT_TRUE(session.Delete(5));
        // A click 10 samples off the R wave puts the beat on its apex.
        const uint32_t missing = results->beats[5];
        size_t at = 0;
        EXPECT_TRUE(session.InsertNear(missing + 10, C::N, &at));
        EXPECT_EQ(session.Review().Beats()[at], missing);
        EXPECT_TRUE(session.Delete(10));
        EXPECT_TRUE(session.Undo());
        EXPECT_TRUE(session.IsModified());
        EXPECT_EQ(doc.GetResults()->beats, session.Review().Beats());
        EXPECT_EQ(doc.GetResults()->classes[3], C::V);
        std::string error;
        ASSERT_TRUE(session.Save(&error)) << error;
        EXPECT_FALSE(session.IsModified());
        edited = session.Review().Beats();
    }
    CEcgDocument doc;
    analysed(doc);
    CReviewSession session(doc);
    EXPECT_EQ(session.Begin(), ReviewStatus::loaded);
    EXPECT_TRUE(doc.IsReviewed());
    EXPECT_EQ(doc.GetResults()->beats, edited);
    EXPECT_EQ(doc.GetResults()->classes[3], C::V);
    EXPECT_FALSE(session.IsModified());
    EXPECT_FALSE(session.Undo());  // the saved review is where this sitting starts

    // A folder that cannot be written: the message names the file.
    std::string error;
    EXPECT_FALSE(session.Save(&error, dir.Path("no-such-folder/x.vitrel.atr")));
    EXPECT_NE(error.find("no-such-folder"), std::string::npos) << error;
}

}  // namespace
