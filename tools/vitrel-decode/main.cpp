// The decode helper: vitrel-ecg and its tools execute it for each standard
// file they open, to decode it in a fresh sandboxed process.
#include "formats/ChildSandbox.h"
#include "formats/DecoderJobs.h"

int main(int argc, char** argv)
{
    return RunSandboxJobMain(argc, argv, {kStandardDecodeJob, kEmbeddedAnnotationsJob});
}
