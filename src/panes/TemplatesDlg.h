// The templates pane: the recording's beat families as their average shape
// at the view's calibrated scale, with class and count, largest first. A
// family can be relabelled as a whole, stepped through beat by beat, and
// split off from a selected beat (the split lives in the pane only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/BeatClass.h"
#include "analysis/SampleReader.h"
#include "panes/Panes.h"

class QPushButton;
class QToolButton;
class CTemplateCanvas;

class CTemplatesDlg : public CDialogEx {
    Q_OBJECT
public:
    struct Group {
        BeatClass beatClass = BeatClass::Unclassified;   // the most common class of its beats
        std::vector<size_t> beats;                       // indices into the document's beats
        std::vector<int16_t> shape;                      // average beat, R at BEAT_SHAPE_BEFORE
        bool split = false;                              // split off in this pane
    };

    CTemplatesDlg();
    // Rebuilds the groups from the document's results; splits are kept by
    // the beats' positions, so they survive edits of other beats.
    void Refill();
    void Clear();
    const std::vector<Group>& GetGroups() const { return m_groups; }
    int GetCurrentGroup() const { return m_nCurrent; }
    void SetCurrentGroup(int group);
    // The view's selected beat (-1 for none) and scale (pixels per mV at zoom 1, zoom).
    void SetSelectedBeat(int64_t position) { m_nSelected = position; UpdateButtons(); }
    void SetScale(int gain, float zoom);
    int GetGain() const { return m_nGain; }
    float GetZoom() const { return m_fZoom; }
    // Where a split reads its beats.
    void SetSampleReader(SampleReader reader) { m_reader = std::move(reader); }

    // The current group's beats all become `to` (one step).
    void RelabelCurrent(BeatClass to);
    // The current group's next beat is selected (and centred) in the view.
    void StepCurrent();
    // The selected beat and the beats of its group that correlate better
    // with it than with the group's average (or as well) become a group of their own.
    bool SplitFromSelected();

signals:
    void relabelRequested(const std::vector<size_t>& indices, BeatClass to);
    void selectRequested(uint32_t position);

private:
    void UpdateButtons();
    bool ReadShape(uint32_t position, std::vector<double>* shape) const;

    std::vector<Group> m_groups;
    std::vector<std::vector<uint32_t>> m_splits;   // split groups by beat position
    const CEcgDocument* m_pSplitDocument = nullptr;   // the document the splits belong to
    int m_nCurrent = -1;
    size_t m_nStep = 0;
    int64_t m_nSelected = -1;
    int m_nGain = 50;
    float m_fZoom = 1.0f;
    SampleReader m_reader;
    CTemplateCanvas* m_pCanvas = nullptr;
    QToolButton* m_pRelabel = nullptr;
    QPushButton* m_pStep = nullptr;
    QPushButton* m_pSplit = nullptr;
};
