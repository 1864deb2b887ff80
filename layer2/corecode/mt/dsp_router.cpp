// Message queue of the DSP router: five message nodes (urgent ones ahead of normal ones, each kind in its
// own order), ten handler nodes (the newest registration of a class wins), and the timer messages that
// drive the delta timer list.
#include <cstring>

#include "layer2/corecode/mt/dsp_router.h"
#include "platform/byte_order.h"

namespace {

void free_append(DspMessageQueue* q, DspMessageNode* n)
{
    const uint8_t index = n->poolIndex;
    std::memset(n, 0, sizeof *n);
    n->poolIndex = index;
    if (q->freeTail)
        q->freeTail->next = n;
    else
        q->freeHead = n;
    n->prev = q->freeTail;
    q->freeTail = n;
}

DspMessageNode* unlink_head(DspMessageQueue* q)
{
    DspMessageNode* n = q->head;
    if (!n)
        return nullptr;
    q->head = n->next;
    if (q->head)
        q->head->prev = nullptr;
    else
        q->last = nullptr;
    if (q->lastUrgent == n)
        q->lastUrgent = nullptr;
    n->next = n->prev = nullptr;
    return n;
}

bool queued(const DspMessageQueue* q, const DspMessageNode* n)
{
    for (const DspMessageNode* m = q->head; m; m = m->next)
        if (m == n)
            return true;
    return false;
}

}  // namespace

void dsp_msg_queue_init(DspMessageQueue* q)
{
    const uint32_t count = q->initCount;
    q->freeHead = q->freeTail = nullptr;
    q->head = q->last = q->lastUrgent = nullptr;
    for (int i = 0; i < kDspMessageNodes; ++i) {
        q->nodes[i].poolIndex = static_cast<uint8_t>(i + 1);
        free_append(q, &q->nodes[i]);
    }
    q->freeHandlers = nullptr;
    q->handlers = nullptr;
    for (int i = kDspHandlerNodes - 1; i >= 0; --i) {
        std::memset(&q->handlerNodes[i], 0, sizeof q->handlerNodes[i]);
        q->handlerNodes[i].next = q->freeHandlers;
        q->freeHandlers = &q->handlerNodes[i];
    }
    q->msCounter.store(0);
    q->lastPumped = 0;
    dsp_timer_list_init(&q->timers);
    q->initCount = count + 1;
}

int dsp_msg_take(DspMessageQueue* q, DspMessageNode** node)
{
    if (!q->freeHead && q->head)
        dsp_msg_dispatch(q);
    DspMessageNode* n = q->freeHead;
    if (!n) {
        *node = nullptr;
        return 1;
    }
    q->freeHead = n->next;
    if (q->freeHead)
        q->freeHead->prev = nullptr;
    else
        q->freeTail = nullptr;
    n->next = n->prev = nullptr;
    n->urgent = 0;
    n->msgClass = 0;
    n->type = 0;
    *node = n;
    return 0;
}

void dsp_msg_post(DspMessageQueue* q, DspMessageNode* node)
{
    if (node->urgent) {
        DspMessageNode* after = q->lastUrgent;
        node->prev = after;
        node->next = after ? after->next : q->head;
        if (node->next)
            node->next->prev = node;
        else
            q->last = node;
        if (after)
            after->next = node;
        else
            q->head = node;
        q->lastUrgent = node;
        return;
    }
    node->next = nullptr;
    node->prev = q->last;
    if (q->last)
        q->last->next = node;
    else
        q->head = node;
    q->last = node;
}

void dsp_msg_release(DspMessageQueue* q, DspMessageNode* node)
{
    free_append(q, node);
}

int dsp_msg_register_handler(DspMessageQueue* q, const DspHandlerRequest* request)
{
    if (!request || request->msgClass == 0 || !request->callback)
        return 1;
    DspMessageHandler* h = q->freeHandlers;
    if (!h)
        return 1;
    q->freeHandlers = h->next;
    h->msgClass = request->msgClass;
    h->callback = request->callback;
    h->user = request->user;
    h->prev = nullptr;
    h->next = q->handlers;
    if (q->handlers)
        q->handlers->prev = h;
    q->handlers = h;
    return 0;
}

DspMessageHandler* dsp_msg_find_handler(DspMessageQueue* q, uint8_t msg_class)
{
    if (msg_class == 0)
        return nullptr;
    for (DspMessageHandler* h = q->handlers; h; h = h->next)
        if (h->msgClass == msg_class)
            return h;
    return nullptr;
}

int dsp_msg_queued(const DspMessageQueue* q)
{
    int n = 0;
    for (const DspMessageNode* m = q->head; m; m = m->next)
        ++n;
    return n;
}

void dsp_msg_dispatch(DspMessageQueue* q)
{
    // Messages posted by the handlers wait for the next pass.
    int count = dsp_msg_queued(q);
    while (count-- > 0) {
        DspMessageNode* n = unlink_head(q);
        if (!n)
            break;
        if (n->msgClass == kMsgTimer) {
            if (n->type == 1)
                dsp_timer_list_init(&q->timers);
            else if (n->type == 2)
                dsp_timer_advance(&q->timers, ReadLe32(n->payload));
        } else if (DspMessageHandler* h = dsp_msg_find_handler(q, n->msgClass)) {
            h->callback(n, h->user);
        }
        // A handler that posted its node again keeps it for the next pass.
        if (!queued(q, n))
            dsp_msg_release(q, n);
    }
}

void dsp_msg_post_elapsed(DspMessageQueue* q)
{
    const uint32_t now = q->msCounter.load(std::memory_order_acquire);
    if (now == q->lastPumped)
        return;
    // Unsigned difference: exact across the wrap of the counter.
    const uint32_t elapsed = now - q->lastPumped;
    q->lastPumped = now;
    uint8_t payload[4] = {static_cast<uint8_t>(elapsed), static_cast<uint8_t>(elapsed >> 8),
                          static_cast<uint8_t>(elapsed >> 16), static_cast<uint8_t>(elapsed >> 24)};
    dsp_msg_send(q, kMsgTimer, 2, true, payload, 4);
}

void dsp_msg_add_ms(DspMessageQueue* q, uint32_t ms)
{
    if (q->initCount == 0)
        return;
    q->msCounter.fetch_add(ms, std::memory_order_acq_rel);
}

bool dsp_msg_send(DspMessageQueue* q, uint8_t msg_class, uint8_t type, bool urgent, const uint8_t* payload,
                  int length)
{
    DspMessageNode* n = nullptr;
    if (dsp_msg_take(q, &n) != 0)
        return false;
    n->msgClass = msg_class;
    n->type = type;
    n->urgent = urgent ? 1 : 0;
    if (payload && length > 0)
        std::memcpy(n->payload, payload, static_cast<size_t>(length > 32 ? 32 : length));
    dsp_msg_post(q, n);
    return true;
}

int dsp_apply_s_limit(const uint8_t* limits, uint8_t s_register, uint8_t* value)
{
    if (!limits)
        return 0;
    int count = limits[0] | (limits[1] << 8);
    if (count > 15)
        count = 15;
    for (int i = 0; i < count; ++i) {
        const uint8_t* e = limits + 2 + 6 * i;
        if (e[0] == 255 || e[0] != s_register)
            continue;
        uint8_t v = *value;
        if (v < e[2])
            v = e[2];
        if (v > e[3])
            v = e[3];
        if (e[4] != 255 && v >= e[4] && v <= e[5])
            v = static_cast<uint8_t>(e[5] + 1);
        *value = v;
        return 1;
    }
    return 0;
}
