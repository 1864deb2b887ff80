// The command tables of the interpreter, in the row format of AtCommandEntry.
#pragma once

#include "layer2/corecode/cmd/at_context.h"

extern const AtCommandEntry BasicCommands[];
extern const AtCommandEntry BasicCommands2[];
extern const AtCommandEntry ValidationCommands[];
extern const AtCommandEntry ExtendedCommands[];
extern const AtCommandEntry V253CommonCommands[];
extern const AtCommandEntry V80AndV8Commands[];
extern const AtCommandEntry DebugCommands[];
