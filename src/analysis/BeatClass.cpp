#include "analysis/BeatClass.h"

#include "analysis/Episodes.h"
#include "resources/Resource.h"

namespace {

// N keeps the R mark's own colour, so that a recording of normal beats draws
// exactly as without classes; the others stay apart from the yellow trace
// on the dark grid and on white paper.
constexpr BeatClassInfo kClasses[BEAT_CLASS_COUNT] = {
    {BeatClass::Unclassified, '.', MitCode::NORMAL, "N", IDS_CLASS_UNCLASSIFIED, 0x00C8C8},
    {BeatClass::N, 'N', MitCode::NORMAL, "N", IDS_CLASS_N, 0x00C8C8},
    {BeatClass::S, 'S', MitCode::SVPB, "S", IDS_CLASS_S, 0xFF9900},
    {BeatClass::V, 'V', MitCode::PVC, "V", IDS_CLASS_V, 0xFF3030},
    {BeatClass::F, 'F', MitCode::FUSION, "F", IDS_CLASS_F, 0xE040FF},
    {BeatClass::Q, 'Q', MitCode::UNKNOWN, "Q", IDS_CLASS_Q, 0xA0A0A0},
};

constexpr const char* kEpisodeKeys[EPISODE_TYPE_COUNT] = {
    "isolatedV", "coupletV", "runV", "VT", "bigeminy", "trigeminy",
    "isolatedS", "coupletS", "runS", "SVT", "pause",   "AF",
};

}  // namespace

const BeatClassInfo& GetBeatClassInfo(BeatClass beatClass)
{
    const auto i = static_cast<unsigned>(beatClass);
    return kClasses[i < BEAT_CLASS_COUNT ? i : 0];
}

BeatClass BeatClassFromLetter(char letter)
{
    for (const BeatClassInfo& c : kClasses)
        if (c.beatClass != BeatClass::Unclassified && c.letter == letter)
            return c.beatClass;
    return BeatClass::Unclassified;
}

BeatClass BeatClassFromMitCode(int code)
{
    using namespace MitCode;
    switch (code) {
    case NORMAL: case LBBB: case RBBB: case BBB: case NESC: case AESC: case SVESC:
        return BeatClass::N;
    case ABERR: case NPC: case APC: case SVPB:
        return BeatClass::S;
    case PVC: case VESC: case RONT:
        return BeatClass::V;
    case FUSION:
        return BeatClass::F;
    case PACE: case UNKNOWN: case PFUS: case LEARN:
        return BeatClass::Q;
    default:
        return BeatClass::Unclassified;
    }
}

BeatClass BeatClassFromMitLetter(char m)
{
    switch (m) {
    case 'N': case 'L': case 'R': case 'B': case 'e': case 'j': case 'n': return BeatClass::N;
    case 'A': case 'a': case 'J': case 'S': return BeatClass::S;
    case 'V': case 'E': case 'r': return BeatClass::V;
    case 'F': return BeatClass::F;
    case '/': case 'f': case 'Q': case '?': return BeatClass::Q;
    default: return BeatClass::Unclassified;
    }
}

const char* EpisodeTypeKey(EpisodeType type)
{
    const auto i = static_cast<unsigned>(type);
    return i < EPISODE_TYPE_COUNT ? kEpisodeKeys[i] : "";
}

int EpisodeTypeNameId(EpisodeType type)
{
    return IDS_EPISODE_FIRST + static_cast<int>(type);
}
