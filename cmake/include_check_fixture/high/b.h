// The higher component using the lower one: allowed.
#pragma once

#include "low/a.h"
