// The lower component reaching up: the include check must refuse this.
#pragma once

#include "high/b.h"
