// Frame buffers, queues and index rings shared by LAPM and the line block.
//
// LAPM and the line block exchange whole HDLC frames: the data pump adds the flags and the frame check
// sequence, so a frame here is the address, control and (for numbered frames) third octet followed by the
// information field. Everything is allocated with the link record; nothing is allocated while a
// connection runs.
#pragma once

#include <cstdint>

#include "platform/kernel.h"

// Nodes of every queue are linked through their first word.
struct QueueNode {
    QueueNode* next;
};

// Octets of a LAPM frame a buffer takes: address, control, third octet and up to 128 information octets,
// with room for the one octet the line block may accept beyond that before it marks a frame too long.
constexpr uint16_t FRAME_NODE_OCTETS = 136;
// Octets a frame buffer holds: an MNP frame (an LT with 256 information octets and its header, the two
// frame-check octets the data pump passes on, or an octet-framed frame with its closing ETX).
constexpr uint16_t FRAME_BUFFER_OCTETS = 268;

enum FrameOwner : uint8_t {
    FRAME_OWNER_RX_POOL = 0,  // a receive buffer of the 40-buffer pool
    FRAME_OWNER_CONTROL = 1,  // a control (U or S) frame built by LAPM
    FRAME_OWNER_IFRAME = 2,   // an I-frame node of the LAPM transmit queue
};

// One frame buffer (on the original 32-bit target 144 bytes for LAPM and 272 for MNP; the status fields
// here are our own).
struct FrameNode : QueueNode {
    uint16_t length;   // octets in data[]
    uint8_t bad;       // set by the line block: FCS error, abort or overlong frame
    uint8_t owner;     // FrameOwner: where the node goes back when it is done with
    uint8_t in_flight; // handed to the line block and not yet reported as sent
    uint8_t release_when_sent;  // done with while in flight: released when the line block gives it back
    uint16_t offset;   // received I-frames: information octets already delivered to the DTE
    uint8_t data[FRAME_BUFFER_OCTETS];
};

// A singly linked ready list and free list of nodes.
struct FrameQueue {
    QueueNode* head;
    QueueNode* tail;
    QueueNode* free_head;
    QueueNode* free_tail;
};

// Fills the free list with `count` nodes of `stride` bytes starting at `first`, in address order.
void ec_frame_queue_reset(FrameQueue* q, void* first, uint32_t count, uint32_t stride);
QueueNode* ec_frame_take_free(FrameQueue* q);
void ec_frame_enqueue(FrameQueue* q, QueueNode* node);
void ec_frame_push_front(FrameQueue* q, QueueNode* node);
// Inserts after the position-th ready node (0 = at the head). Returns false, leaving the node with the
// caller (to release it), when the list is shorter than the position.
bool ec_frame_insert_at(FrameQueue* q, QueueNode* node, uint32_t position);
QueueNode* ec_frame_pop(FrameQueue* q);
// Removes the position-th ready node, counting from 1; null when the list is shorter.
QueueNode* ec_frame_remove_at(FrameQueue* q, uint32_t position);
void ec_frame_release(FrameQueue* q, QueueNode* node);
uint32_t ec_frame_count(const FrameQueue* q);
uint32_t ec_frame_free_count(const FrameQueue* q);

// A ring of node pointers with one-byte indices; N slots hold at most N - 1 nodes (empty when the read
// index equals the write index).
template <uint8_t N>
struct FramePtrRing {
    FrameNode* slot[N];
    uint8_t read;
    uint8_t write;
};

template <uint8_t N>
inline uint8_t ring_advance(uint8_t index)
{
    return index >= N - 1 ? 0 : static_cast<uint8_t>(index + 1);
}

template <uint8_t N>
inline uint8_t ring_depth(const FramePtrRing<N>* r)
{
    return static_cast<uint8_t>((r->write + N - r->read) % N);
}

template <uint8_t N>
inline bool ring_put(FramePtrRing<N>* r, FrameNode* node)
{
    uint8_t next = ring_advance<N>(r->write);
    if (next == r->read)
        return false;
    r->slot[r->write] = node;
    r->write = next;
    return true;
}

template <uint8_t N>
inline FrameNode* ring_take(FramePtrRing<N>* r)
{
    if (r->read == r->write)
        return nullptr;
    FrameNode* node = r->slot[r->read];
    r->read = ring_advance<N>(r->read);
    return node;
}

constexpr uint8_t EC_RX_RING_SLOTS = 41;
constexpr uint8_t EC_RING16_SLOTS = 16;
constexpr uint8_t EC_RX_POOL_BUFFERS = 40;

using FrameRing41 = FramePtrRing<EC_RX_RING_SLOTS>;
using FrameRing16 = FramePtrRing<EC_RING16_SLOTS>;

// The receive buffers: 40 frame buffers whose pointers start in the pool ring (full at reset), and the
// ring of received frames that wait for LAPM (empty at reset).
struct EcRxPool {
    KSPIN_LOCK ring_lock;   // the frame-ring lock: pool take and give
    KSPIN_LOCK pool_lock;   // the frame-pool lock: a completed frame handed over by the line block
    FrameRing41 pool;
    FrameRing41 received;
    FrameNode buffers[EC_RX_POOL_BUFFERS];
};

void ec_rx_pool_reset(EcRxPool* p);
FrameNode* ec_rx_pool_take(EcRxPool* p);
void ec_rx_pool_give(EcRxPool* p, FrameNode* node);
uint8_t ec_rx_pool_free(EcRxPool* p);
FrameNode* ec_rx_ring_take(EcRxPool* p);
bool ec_rx_ring_put(EcRxPool* p, FrameNode* node);
// The line block completed `done` (null when it had no buffer): it joins the received-frame ring and a
// fresh buffer is taken from the pool. Returns the fresh buffer (null when the pool is empty).
FrameNode* ec_rx_frame_done(EcRxPool* p, FrameNode* done);

bool ec_ring16_put(FrameRing16* r, FrameNode* node);
FrameNode* ec_ring16_take(FrameRing16* r);
uint8_t ec_tx_ring_depth(const FrameRing16* r);
