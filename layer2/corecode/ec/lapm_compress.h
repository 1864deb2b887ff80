// Compression on a LAPM link: the XID operations that carry the V.42bis and V.44 groups beside the HDLC
// group, the restart of the compressor the negotiation chose (V.44 when both sides agreed on it, else
// V.42bis) after each XID exchange, and the compression dispatch working on LAPM's I-frames and the DTE
// rings of its host.
#pragma once

#include "layer2/corecode/ec/comp_dispatch.h"
#include "layer2/corecode/ec/lapm.h"
#include "layer2/corecode/ec/v42bis.h"
#include "layer2/corecode/ec/v44.h"
#include "layer2/corecode/ec/xid.h"

struct LapmCompression {
    LapmLink* link;
    XidState xid;
    XidV44Values v44_request;  // +DS44 values; direction 0 leaves the V.44 group out
    V42bisContext v42bis;
    V44Engine v44;             // dictionaries from the pool while V.44 runs
    CompDispatch comp;
    bool running;              // a compressor runs in at least one direction
    CompTxFrame tx;            // view of the I-frame being built
    CompRxFrame rx;            // view of the received I-frame being decoded
    bool rx_done;
    uint8_t stage[64];         // DTE bytes read from the host and not yet taken by the encoder
    uint8_t stage_count;
};

extern const LapmXidOps lapm_xid_compression_ops;

// Binds the record to the link after `lapm_setup` and before `lapm_start`: the link's XID then proposes
// V.42bis with the set-up's P0, P1 and P2 (and V.44 with `v44` when its direction is not 0).
void lapm_compression_attach(LapmLink* link, LapmCompression* c, const XidV44Values* v44);
// The link stops: the V.44 dictionaries go back to the pool.
void lapm_compression_stop(LapmCompression* c);
