// The jobs the decode helper (tools/vitrel-decode) runs in its sandbox.
// Programs name them only: the jobs, and BioSig and the resampler with
// them, are linked into the helper and not loaded by every program.
#pragma once

#include "formats/ChildSandbox.h"

// A standard recording's decode: source, kind, duration field, lead.
inline constexpr char kStandardDecodeName[] = "decode";
// The annotations embedded in an EDF+, BDF+ or GDF record: path.
inline constexpr char kEmbeddedAnnotationsName[] = "reference";

extern const SandboxJob kStandardDecodeJob;
extern const SandboxJob kEmbeddedAnnotationsJob;
