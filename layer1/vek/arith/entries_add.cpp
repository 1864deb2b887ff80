// The add entries of every column, generated from their list in entries.h.
#include "layer1/vek/arith/entries.h"

VEK_ARITH_ADD_ENTRIES(VEK_ARITH_DEFINE_ENTRY)
