#include "formats/StandardFile.h"
#include "standard_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RegisterStandardFormats();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return FuzzStandardFormat(data, size);
}
