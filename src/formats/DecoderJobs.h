// The jobs the decode helper (tools/vitrel-decode) runs in its sandbox.
#pragma once

#include "formats/ChildSandbox.h"

// A standard recording's decode: source, kind, duration field, lead.
extern const SandboxJob kStandardDecodeJob;
// The annotations embedded in an EDF+, BDF+ or GDF record: path.
extern const SandboxJob kEmbeddedAnnotationsJob;
