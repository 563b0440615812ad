// Fuzz harness for the standard formats (BioSig behind the kind selection).
#pragma once

#include <cstddef>
#include <cstdint>

// Byte 0 picks the file name (.edf .bdf .gdf .hea .scp .xml .bin), the rest
// is the file; for a WFDB header byte 1 is the header's length and what
// follows it is both its signal and its annotation file. The standard opener
// must be registered.
int FuzzStandardFormat(const uint8_t* data, size_t size);
