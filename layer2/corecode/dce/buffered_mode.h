// Buffered mode: a connection without error control. The application's bytes go from the from-DTE ring to
// the line transmit ring, and the line's bytes from the line receive ring to the to-DTE ring, each while
// the ring ahead has room, so a full ring holds its producer back instead of losing a byte. A break from the
// line reaches the application in sequence with the data.
#pragma once

#include <cstdint>

struct DteContext;
struct LineBlock;

struct BufferedMoveCounts {
    uint32_t to_line;  // bytes moved towards the line on this pass
    uint32_t to_dte;   // bytes moved towards the application
};

// One pass of the mover; does nothing while the DTE side is clamped (command state).
BufferedMoveCounts buffered_mode_poll(DteContext* d, LineBlock* lb);
