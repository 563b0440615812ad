// Fuzz harness for the standard formats (BioSig behind the kind selection).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Byte 0 picks the file name (.edf .bdf .gdf .hea .scp .xml .bin), the rest
// is the file; for a WFDB header byte 1 is the header's length and what
// follows it is both its signal and its annotation file. The standard opener
// must be registered.
int FuzzStandardFormat(const uint8_t* data, size_t size);

// Writes such an input's files into the scratch folder and returns the
// recording's path ("" when too short); *written gets every file written.
std::string WriteStandardFuzzInput(const uint8_t* data, size_t size, std::vector<std::string>* written);

// The same input handed to BioSig's open in this process, where its faults
// are the fuzzer's to see: for reducing the inputs the real path contains.
int FuzzBiosigOpen(const uint8_t* data, size_t size);
