// A reviewer's corrections of the beat list: relabel, delete, insert, each
// one step that can be undone and redone. The document takes the result
// (CEcgDocument::ReplaceBeats) after every step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/BeatClass.h"

class CBeatReview {
public:
    CBeatReview() = default;
    CBeatReview(std::vector<uint32_t> beats, std::vector<BeatClass> classes);

    const std::vector<uint32_t>& Beats() const { return m_beats; }
    const std::vector<BeatClass>& Classes() const { return m_classes; }

    // Each returns false and changes nothing when it would change nothing.
    bool Relabel(const std::vector<size_t>& indices, BeatClass to);
    bool Delete(size_t index);
    // A beat at position (not already one); *index gets where it went.
    bool Insert(uint32_t position, BeatClass cls, size_t* index = nullptr);

    bool CanUndo() const { return !m_undo.empty(); }
    bool CanRedo() const { return !m_redo.empty(); }
    bool Undo();
    bool Redo();

    // Unsaved steps since MarkSaved (or since the start).
    bool IsModified() const { return m_revision != m_savedRevision; }
    void MarkSaved() { m_savedRevision = m_revision; }
    // Index of the beat at or nearest to position; npos without beats.
    size_t Nearest(uint32_t position) const;
    static constexpr size_t npos = size_t(-1);

private:
    struct Step {
        enum Kind { relabel, remove, insert } kind;
        std::vector<size_t> indices;     // relabel: the beats; remove/insert: the one beat
        std::vector<BeatClass> before;   // relabel: their classes before; remove: the removed class
        BeatClass after = BeatClass::Unclassified;
        uint32_t position = 0;           // remove/insert
    };
    void Apply(const Step& step, bool forward);
    void Push(Step step);

    std::vector<uint32_t> m_beats;
    std::vector<BeatClass> m_classes;
    std::vector<Step> m_undo, m_redo;
    // Revisions count steps with undo as a step back, so that undoing to
    // the saved state clears the modified mark.
    long m_revision = 0, m_savedRevision = 0;
};

// The sample within radius of near where the lead deviates most from the
// window's mean: where a beat added by hand is placed. samples holds the
// window [first, first + count).
uint32_t FindLocalPeak(const int16_t* samples, uint32_t count, uint64_t first, uint64_t near, uint32_t radius);
