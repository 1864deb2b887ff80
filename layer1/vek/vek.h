// Umbrella header of the vector library's core: status codes, version, memory, copy and fill, the dispatch
// table with its entry points, and the variant selection.
#pragma once

#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_fpu.h"
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/core/vek_select.h"
#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"
#include "layer1/vek/core/vek_version.h"
