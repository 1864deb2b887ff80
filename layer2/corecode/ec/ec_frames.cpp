#include "layer2/corecode/ec/ec_frames.h"

#include <cstring>

void ec_frame_queue_reset(FrameQueue* q, void* first, uint32_t count, uint32_t stride)
{
    std::memset(q, 0, sizeof *q);
    auto* base = static_cast<uint8_t*>(first);
    for (uint32_t i = 0; i < count; ++i)
        ec_frame_release(q, reinterpret_cast<QueueNode*>(base + i * stride));
}

QueueNode* ec_frame_take_free(FrameQueue* q)
{
    QueueNode* node = q->free_head;
    if (!node)
        return nullptr;
    q->free_head = node->next;
    if (!q->free_head)
        q->free_tail = nullptr;
    node->next = nullptr;
    return node;
}

void ec_frame_enqueue(FrameQueue* q, QueueNode* node)
{
    if (!node)
        return;
    node->next = nullptr;
    if (q->tail)
        q->tail->next = node;
    else
        q->head = node;
    q->tail = node;
}

void ec_frame_push_front(FrameQueue* q, QueueNode* node)
{
    if (!node)
        return;
    node->next = q->head;
    q->head = node;
    if (!q->tail)
        q->tail = node;
}

bool ec_frame_insert_at(FrameQueue* q, QueueNode* node, uint32_t position)
{
    if (!node)
        return false;
    if (position == 0) {
        ec_frame_push_front(q, node);
        return true;
    }
    QueueNode* after = q->head;
    for (uint32_t i = 1; after && i < position; ++i)
        after = after->next;
    if (!after)
        return false;
    node->next = after->next;
    after->next = node;
    if (q->tail == after)
        q->tail = node;
    return true;
}

QueueNode* ec_frame_pop(FrameQueue* q)
{
    QueueNode* node = q->head;
    if (!node)
        return nullptr;
    q->head = node->next;
    if (!q->head)
        q->tail = nullptr;
    node->next = nullptr;
    return node;
}

QueueNode* ec_frame_remove_at(FrameQueue* q, uint32_t position)
{
    if (position == 0)
        return nullptr;
    if (position == 1)
        return ec_frame_pop(q);
    QueueNode* before = q->head;
    for (uint32_t i = 2; before && i < position; ++i)
        before = before->next;
    if (!before || !before->next)
        return nullptr;
    QueueNode* node = before->next;
    before->next = node->next;
    if (q->tail == node)
        q->tail = before;
    node->next = nullptr;
    return node;
}

void ec_frame_release(FrameQueue* q, QueueNode* node)
{
    if (!node)
        return;
    node->next = nullptr;
    if (q->free_tail)
        q->free_tail->next = node;
    else
        q->free_head = node;
    q->free_tail = node;
}

static uint32_t list_length(const QueueNode* node)
{
    uint32_t n = 0;
    for (; node; node = node->next)
        ++n;
    return n;
}

uint32_t ec_frame_count(const FrameQueue* q) { return list_length(q->head); }
uint32_t ec_frame_free_count(const FrameQueue* q) { return list_length(q->free_head); }

void ec_rx_pool_reset(EcRxPool* p)
{
    KeInitializeSpinLock(&p->ring_lock);
    KeInitializeSpinLock(&p->pool_lock);
    p->pool.read = 0;
    p->pool.write = 0;
    p->received.read = 0;
    p->received.write = 0;
    for (uint8_t i = 0; i < EC_RX_POOL_BUFFERS; ++i) {
        FrameNode* node = &p->buffers[i];
        node->next = nullptr;
        node->owner = FRAME_OWNER_RX_POOL;
        ring_put(&p->pool, node);
    }
}

static void clear_rx_buffer(FrameNode* node)
{
    node->next = nullptr;
    node->length = 0;
    node->bad = 0;
    node->in_flight = 0;
    node->release_when_sent = 0;
    node->offset = 0;
}

FrameNode* ec_rx_pool_take(EcRxPool* p)
{
    KIRQL old;
    KeAcquireSpinLock(&p->ring_lock, &old);
    FrameNode* node = ring_take(&p->pool);
    KeReleaseSpinLock(&p->ring_lock, old);
    if (node)
        clear_rx_buffer(node);
    return node;
}

void ec_rx_pool_give(EcRxPool* p, FrameNode* node)
{
    if (!node)
        return;
    node->next = nullptr;
    KIRQL old;
    KeAcquireSpinLock(&p->ring_lock, &old);
    ring_put(&p->pool, node);
    KeReleaseSpinLock(&p->ring_lock, old);
}

uint8_t ec_rx_pool_free(EcRxPool* p)
{
    KIRQL old;
    KeAcquireSpinLock(&p->ring_lock, &old);
    uint8_t depth = ring_depth(&p->pool);
    KeReleaseSpinLock(&p->ring_lock, old);
    return depth;
}

FrameNode* ec_rx_ring_take(EcRxPool* p) { return ring_take(&p->received); }
bool ec_rx_ring_put(EcRxPool* p, FrameNode* node) { return ring_put(&p->received, node); }

FrameNode* ec_rx_frame_done(EcRxPool* p, FrameNode* done)
{
    KIRQL old;
    KeAcquireSpinLock(&p->pool_lock, &old);
    // The received ring has one slot more than there are buffers, so a completed buffer always fits.
    if (done)
        ring_put(&p->received, done);
    KeReleaseSpinLock(&p->pool_lock, old);
    return ec_rx_pool_take(p);
}

bool ec_ring16_put(FrameRing16* r, FrameNode* node) { return ring_put(r, node); }
FrameNode* ec_ring16_take(FrameRing16* r) { return ring_take(r); }
uint8_t ec_tx_ring_depth(const FrameRing16* r) { return ring_depth(r); }
