// What a beat is: the beat classes of ANSI/AAMI EC57, and one table that
// tells every consumer (painter, report, panes, exports, the command line)
// how to show and write a class. Nothing else maps a class to a letter, a
// code, a text or a colour.
#pragma once

#include <cstdint>

enum class BeatClass : uint8_t {
    Unclassified = 0,  // no classifier has run (short recordings' stored beats before it)
    N,                 // normal and bundle-branch-block beats, escape beats
    S,                 // supraventricular ectopic
    V,                 // ventricular ectopic
    F,                 // fusion of a ventricular and a normal beat
    Q,                 // unclassifiable: noise, paced beats
};

constexpr int BEAT_CLASS_COUNT = 6;

struct BeatClassInfo {
    BeatClass beatClass;
    char letter;          // N S V F Q, '.' for unclassified
    int mitCode;          // MIT annotation code written for the class
    const char* edfText;  // EDF+ annotation text
    int nameId;           // string id of the class's name (resources/StringTable.h)
    uint32_t rgb;         // drawing colour, 0xRRGGBB
};

// MIT annotation codes the program reads and writes.
namespace MitCode {
constexpr int NORMAL = 1, LBBB = 2, RBBB = 3, ABERR = 4, PVC = 5, FUSION = 6, NPC = 7, APC = 8, SVPB = 9,
              VESC = 10, NESC = 11, PACE = 12, UNKNOWN = 13, NOISE = 14, BBB = 25, RHYTHM = 28, LEARN = 30, FLWAV = 31,
              VFON = 32, VFOFF = 33, AESC = 34, SVESC = 35, NAPC = 37, PFUS = 38, RONT = 41;
}

const BeatClassInfo& GetBeatClassInfo(BeatClass beatClass);
// N S V F Q (upper case only); Unclassified for anything else.
BeatClass BeatClassFromLetter(char letter);
// The EC57 class of an MIT beat annotation code; Unclassified for a code that
// is not a beat (rhythm, noise, comments).
BeatClass BeatClassFromMitCode(int code);
// The same from the annotation's one-letter mnemonic ("N", "L", "/", ...).
BeatClass BeatClassFromMitLetter(char mnemonic);
