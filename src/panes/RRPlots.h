// RR intervals of the whole recording at a glance: the tachogram (RR against
// time, AF shaded, the view's place marked), the histogram and the Poincaré
// plot, stacked in one pane: the tachogram across the top, the other two
// side by side beneath it.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

#include "panes/Panes.h"

struct AnalysisResults;

// Scales shared by the three plots: RR intervals in ms from the beat list.
namespace rrplot {
constexpr int kBinMs = 8;        // histogram bin
constexpr int kAxisMaxMs = 2000;  // longer intervals are drawn at the top edge
}  // namespace rrplot

class CRRTachogram : public QWidget {
    Q_OBJECT
public:
    explicit CRRTachogram(QWidget* parent = nullptr);
    void SetResults(std::shared_ptr<const AnalysisResults> results, uint64_t sampleCount);
    // The part of the recording the view shows; length 0 draws a line.
    void SetViewPosition(uint32_t first, uint32_t length = 0);

    QRect GetPlotRect() const;
    // Sample at plot column x and the column of a sample (clamped to the plot).
    uint32_t SampleAtX(int x) const;
    int XOfSample(uint64_t sample) const;
    uint64_t GetSpan() const { return m_span; }
    bool HasViewPosition() const { return m_hasView; }
    uint32_t GetViewFirst() const { return m_viewFirst; }

signals:
    void sampleClicked(uint32_t sample);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<const AnalysisResults> m_results;
    uint64_t m_span = 0;  // samples across the plot
    uint32_t m_viewFirst = 0, m_viewLength = 0;
    bool m_hasView = false;
};

class CRRHistogram : public QWidget {
    Q_OBJECT
public:
    explicit CRRHistogram(QWidget* parent = nullptr);
    void SetResults(std::shared_ptr<const AnalysisResults> results);
    // Beats per bin of kBinMs from 0 ms; intervals beyond the axis fall in the last bin.
    const std::vector<uint32_t>& GetBins() const { return m_bins; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<uint32_t> m_bins;
};

class CPoincarePlot : public QWidget {
    Q_OBJECT
public:
    explicit CPoincarePlot(QWidget* parent = nullptr);
    void SetResults(std::shared_ptr<const AnalysisResults> results);
    size_t GetPointCount() const;
    // The square the points fall in: RR(n) to the right, RR(n+1) upwards.
    QRect GetPlotRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const AnalysisResults> m_results;
};

class CRRPlotsDlg : public CDialogEx {
    Q_OBJECT
public:
    CRRPlotsDlg();
    // Reads the document's results; the plots are empty without them.
    void Refresh();
    void SetViewPosition(uint32_t first, uint32_t length = 0);

    CRRTachogram* GetTachogram() const { return m_pTachogram; }
    CRRHistogram* GetHistogram() const { return m_pHistogram; }
    CPoincarePlot* GetPoincare() const { return m_pPoincare; }

private:
    CRRTachogram* m_pTachogram = nullptr;
    CRRHistogram* m_pHistogram = nullptr;
    CPoincarePlot* m_pPoincare = nullptr;
};
