// The four version records.
#include "layer1/vek/core/vek_version.h"

namespace {

constexpr const char* kVersionText = "v2.0 gold";
constexpr const char* kBuildDate = "Dec  4 2001";

const VekVersion kVersionGen = {2, 0, 6, 38, {'g', 'e', 'n', '\0'}, "veksgen", kVersionText, kBuildDate};
const VekVersion kVersionMm = {2, 0, 6, 38, {'m', 'm', '\0', '\0'}, "veksmm", kVersionText, kBuildDate};
const VekVersion kVersionSs = {2, 0, 6, 38, {'s', 's', '\0', '\0'}, "veksss", kVersionText, kBuildDate};
const VekVersion kVersionWd = {2, 0, 6, 38, {'w', 'd', '\0', '\0'}, "vekswd", kVersionText, kBuildDate};

} // namespace

const VekVersion* vek_get_version_gen() { return &kVersionGen; }
const VekVersion* vek_get_version_mm() { return &kVersionMm; }
const VekVersion* vek_get_version_ss() { return &kVersionSs; }
const VekVersion* vek_get_version_wd() { return &kVersionWd; }
