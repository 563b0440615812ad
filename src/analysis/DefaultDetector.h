// Which R-wave detector a recording gets unless the user picks one.
#pragma once

#include "analysis/EcgDocument.h"

// The recorder's own kinds keep the detector whose results their users know;
// standard recordings come from other devices, with other filters, offsets
// and polarities, and get the precise one.
inline DetectorKind DefaultDetectorFor(int fileKind)
{
    return fileKind == ECG_KIND_STANDARD ? DetectorKind::Precise : DetectorKind::Standard;
}
