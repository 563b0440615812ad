// The Holter summary as rows of figures: what the summary pane lists and the
// report's Holter page prints, built once so that both give the same texts.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct AnalysisResults;
class CEcgDocument;

struct HolterFigure {
    QString caption;
    QString value;
    bool hasTime = false;   // the figure happened at sample
    uint32_t sample = 0;
    QString time;           // the clock (or elapsed) time of sample
};

struct HolterFigureGroup {
    QString title;
    std::vector<HolterFigure> figures;
};

// Rate, V, S, runs, pauses, AF and HRV, in that order; times as doc tells them.
std::vector<HolterFigureGroup> HolterSummaryFigures(const CEcgDocument* doc, const AnalysisResults& r);

// One clock hour of the recording: its rates and its ectopic beats.
struct HourFigures {
    QString span;           // "08:00-08:59"
    float avgRate = 0, minRate = 0, maxRate = 0;
    uint32_t vBeats = 0, sBeats = 0;
};

// One row per hour record, the minutes grouped by clock hour as the document
// groups them.
std::vector<HourFigures> HourlyFigures(const CEcgDocument* doc, const AnalysisResults& r);
