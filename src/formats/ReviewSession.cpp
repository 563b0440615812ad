#include "formats/ReviewSession.h"

#include <algorithm>
#include <fstream>

#include "resources/StringTable.h"

namespace {

constexpr uint32_t kPeakRadius = ECG_SAMPLE_RATE * 60 / 1000;  // 60 ms

}  // namespace

ReviewStatus CReviewSession::Begin()
{
    m_bActive = false;
    m_bOtherFile = false;
    const std::shared_ptr<const AnalysisResults> results = m_doc.GetResults();
    if (!results || !m_doc.GetEcgFile())
        return ReviewStatus::absent;
    // A day's checksum takes longer than a frame: it is worked out when a
    // review is there to check, else when one is first saved.
    m_bIdentified = false;
    SavedReview saved;
    ReviewStatus status = ReviewStatus::absent;
    if (std::ifstream(ReviewPath(), std::ios::binary)) {
        Identify();
        status = ReadReview(ReviewPath(), m_identity, &saved);
    }
    m_bOtherFile = status == ReviewStatus::foreign || status == ReviewStatus::damaged;
    if (status == ReviewStatus::loaded && !m_doc.ReplaceBeats(saved.beats, saved.classes))
        status = ReviewStatus::damaged;
    if (status == ReviewStatus::loaded)
        m_review = CBeatReview(std::move(saved.beats), std::move(saved.classes));
    else
        m_review = CBeatReview(results->beats, results->classes);
    m_bActive = true;
    return status;
}

void CReviewSession::Identify()
{
    if (m_bIdentified || !m_doc.GetEcgFile())
        return;
    std::unique_ptr<CEcgFile> samples = m_doc.GetEcgFile()->OpenReader();
    m_identity = IdentifyRecording(*samples);
    m_bIdentified = true;
}

bool CReviewSession::Publish()
{
    return m_doc.ReplaceBeats(m_review.Beats(), m_review.Classes());
}

bool CReviewSession::Relabel(const std::vector<size_t>& indices, BeatClass to)
{
    return m_bActive && m_review.Relabel(indices, to) && Publish();
}

bool CReviewSession::Delete(size_t index)
{
    return m_bActive && m_review.Delete(index) && Publish();
}

bool CReviewSession::InsertNear(uint32_t near, BeatClass cls, size_t* index)
{
    if (!m_bActive || near >= m_doc.GetSampleCount())
        return false;
    const uint64_t first = near > 4 * kPeakRadius ? near - 4 * kPeakRadius : 0;
    std::vector<int16_t> window(8 * kPeakRadius + 1);
    const uint32_t n = m_doc.ReadSamples(window.data(), int64_t(first), uint32_t(window.size()));
    const uint32_t at = FindLocalPeak(window.data(), n, first, near, kPeakRadius);
    return m_review.Insert(at, cls, index) && Publish();
}

bool CReviewSession::Undo()
{
    return m_bActive && m_review.Undo() && Publish();
}

bool CReviewSession::Redo()
{
    return m_bActive && m_review.Redo() && Publish();
}

bool CReviewSession::Save(std::string* error, const std::string& path)
{
    if (!m_bActive)
        return false;
    if (path.empty() && m_bOtherFile) {
        std::string text = Text::kReviewKeepsOther;
        text.replace(text.find("%1"), 2, ReviewPath());
        *error = text;
        return false;
    }
    Identify();
    if (!WriteReview(path.empty() ? ReviewPath() : path, m_identity, m_review.Beats(), m_review.Classes(), error))
        return false;
    m_review.MarkSaved();
    return true;
}
