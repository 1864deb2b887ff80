// Version record of each variant column (slot 0).
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"

// Static record; the caller must not free or change it. Pointers are 8 bytes on 64-bit.
struct VekVersion {
    std::int32_t major;
    std::int32_t minor;
    std::int32_t majorBuild;
    std::int32_t build;
    char targetCpu[4]; // zero padded
    const char* name;
    const char* version;
    const char* buildDate;
};

const VekVersion* vek_get_version_gen();
const VekVersion* vek_get_version_mm();
const VekVersion* vek_get_version_ss();
const VekVersion* vek_get_version_wd();
