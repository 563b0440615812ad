// A reviewer's sitting over one recording: the corrections (CBeatReview),
// each carried into the document at once, and the review file beside the
// recording that keeps them.
#pragma once

#include <string>
#include <vector>

#include "analysis/BeatReview.h"
#include "analysis/EcgDocument.h"
#include "formats/ReviewFile.h"

class CReviewSession {
public:
    explicit CReviewSession(CEcgDocument& doc) : m_doc(doc) {}

    // Once the document's run has ended: takes its beats and applies the
    // review saved beside the recording, if there is one that belongs to it
    // (foreign and damaged ones are left alone and reported). Raises
    // CFileException when the samples cannot be read.
    ReviewStatus Begin();
    bool IsActive() const { return m_bActive; }

    const CBeatReview& Review() const { return m_review; }
    // Each step goes into the document at once; false when it changed nothing.
    bool Relabel(const std::vector<size_t>& indices, BeatClass to);
    bool Delete(size_t index);
    // A beat on the lead's peak within 60 ms of near; *index gets where it went.
    bool InsertNear(uint32_t near, BeatClass cls, size_t* index = nullptr);
    bool Undo();
    bool Redo();

    bool IsModified() const { return m_review.IsModified(); }
    // Writes the review beside the recording (or to path), whole or not at all.
    // A file found there that is not this recording's review is never replaced.
    bool Save(std::string* error, const std::string& path = {});
    std::string ReviewPath() const { return ReviewPathFor(m_doc.GetFilePath()); }

private:
    bool Publish();
    void Identify();

    CEcgDocument& m_doc;
    CBeatReview m_review;
    RecordingIdentity m_identity;
    bool m_bIdentified = false;
    bool m_bActive = false;
    bool m_bOtherFile = false;  // the review's place holds another recording's or a damaged review
};
