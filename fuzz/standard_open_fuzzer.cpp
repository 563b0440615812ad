// BioSig's open in this process (the program's own path contains its faults
// in a child): the fuzzer's minimiser and crash stacks work on this target.
#include "standard_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return FuzzBiosigOpen(data, size);
}
