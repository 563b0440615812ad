#include "analysis/BeatReview.h"

#include <algorithm>
#include <cstdlib>

CBeatReview::CBeatReview(std::vector<uint32_t> beats, std::vector<BeatClass> classes)
    : m_beats(std::move(beats)), m_classes(std::move(classes))
{
    m_classes.resize(m_beats.size(), BeatClass::Unclassified);
}

bool CBeatReview::Relabel(const std::vector<size_t>& indices, BeatClass to)
{
    Step step{Step::relabel, {}, {}, to, 0};
    for (size_t i : indices)
        if (i < m_beats.size() && m_classes[i] != to) {
            step.indices.push_back(i);
            step.before.push_back(m_classes[i]);
        }
    if (step.indices.empty())
        return false;
    Push(std::move(step));
    return true;
}

bool CBeatReview::Delete(size_t index)
{
    if (index >= m_beats.size())
        return false;
    Push(Step{Step::remove, {index}, {m_classes[index]}, BeatClass::Unclassified, m_beats[index]});
    return true;
}

bool CBeatReview::Insert(uint32_t position, BeatClass cls, size_t* index)
{
    const auto it = std::lower_bound(m_beats.begin(), m_beats.end(), position);
    if (it != m_beats.end() && *it == position)
        return false;
    const size_t at = size_t(it - m_beats.begin());
    Push(Step{Step::insert, {at}, {}, cls, position});
    if (index)
        *index = at;
    return true;
}

void CBeatReview::Push(Step step)
{
    Apply(step, true);
    m_undo.push_back(std::move(step));
    m_redo.clear();
    ++m_revision;
    // A saved state that was undone past can no longer be reached.
    if (m_savedRevision >= m_revision)
        m_savedRevision = -1;
}

bool CBeatReview::Undo()
{
    if (m_undo.empty())
        return false;
    Step step = std::move(m_undo.back());
    m_undo.pop_back();
    Apply(step, false);
    m_redo.push_back(std::move(step));
    --m_revision;
    return true;
}

bool CBeatReview::Redo()
{
    if (m_redo.empty())
        return false;
    Step step = std::move(m_redo.back());
    m_redo.pop_back();
    Apply(step, true);
    m_undo.push_back(std::move(step));
    ++m_revision;
    return true;
}

void CBeatReview::Apply(const Step& step, bool forward)
{
    const size_t at = step.indices.empty() ? 0 : step.indices.front();
    switch (step.kind) {
    case Step::relabel:
        for (size_t k = 0; k < step.indices.size(); ++k)
            m_classes[step.indices[k]] = forward ? step.after : step.before[k];
        break;
    case Step::remove:
    case Step::insert:
        if ((step.kind == Step::remove) == forward) {
            m_beats.erase(m_beats.begin() + std::ptrdiff_t(at));
            m_classes.erase(m_classes.begin() + std::ptrdiff_t(at));
        } else {
            m_beats.insert(m_beats.begin() + std::ptrdiff_t(at), step.position);
            m_classes.insert(m_classes.begin() + std::ptrdiff_t(at),
                             step.kind == Step::remove ? step.before.front() : step.after);
        }
        break;
    }
}

size_t CBeatReview::Nearest(uint32_t position) const
{
    if (m_beats.empty())
        return npos;
    const auto it = std::lower_bound(m_beats.begin(), m_beats.end(), position);
    if (it == m_beats.end())
        return m_beats.size() - 1;
    const size_t i = size_t(it - m_beats.begin());
    if (i > 0 && position - m_beats[i - 1] < *it - position)
        return i - 1;
    return i;
}

uint32_t FindLocalPeak(const int16_t* samples, uint32_t count, uint64_t first, uint64_t near, uint32_t radius)
{
    if (count == 0)
        return uint32_t(near);
    int64_t sum = 0;
    for (uint32_t i = 0; i < count; ++i)
        sum += samples[i];
    const int64_t mean = sum / int64_t(count);
    const uint64_t from = std::max(first, near > radius ? near - radius : 0);
    const uint64_t to = std::min(first + count - 1, near + radius);
    uint64_t best = std::clamp(near, first, first + count - 1);
    int64_t bestDev = -1;
    for (uint64_t s = from; s <= to; ++s) {
        const int64_t dev = std::llabs(int64_t(samples[s - first]) - mean);
        if (dev > bestDev) {
            bestDev = dev;
            best = s;
        }
    }
    return uint32_t(best);
}
