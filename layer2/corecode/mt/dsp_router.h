// The DSP message router: a queue of small messages that call control posts for its line-side work, pumped
// from the controller task and delivered to the handler registered for each message class; and the delta
// timer list of millisecond timers that call control uses for its time-outs.
//
// All of it lives in one record per device. Nodes and timer entries are never allocated: 5 message nodes,
// 10 handler nodes and 24 timers exist. (Records holding pointers are larger than their 32-bit sizes.)
#pragma once

#include <atomic>
#include <cstdint>

enum DspMessageClass : uint8_t {
    kMsgRing = 1,
    kMsgTimer = 2,
    kMsgHook = 3,
    kMsgToneDetect = 4,
    kMsgCadence = 5,
    kMsgToneGen = 6,
    kMsgCountry = 7,
    kMsgTable = 8,
    kMsgLineInterface = 9,
};

constexpr int kDspMessageNodes = 5;
constexpr int kDspHandlerNodes = 10;
constexpr int kDspTimers = 24;

struct DspMessageNode {
    DspMessageNode* next;
    DspMessageNode* prev;
    uint8_t poolIndex;  // 1-5
    uint8_t urgent;
    uint8_t msgClass;
    uint8_t type;
    uint8_t payload[32];
};

typedef void (*DspMessageCallback)(DspMessageNode* node, void* user);

struct DspMessageHandler {
    DspMessageHandler* next;
    DspMessageHandler* prev;
    uint8_t msgClass;
    DspMessageCallback callback;
    void* user;
};

typedef void (*DspTimerCallback0)();
typedef void (*DspTimerCallback1)(void* a1);
typedef void (*DspTimerCallback2)(void* a1, void* a2);

enum DspTimerCallKind : uint8_t { kTimerCall0 = 0, kTimerCall1 = 1, kTimerCall2 = 2 };

struct DspTimerEntry {
    DspTimerEntry* next;
    DspTimerEntry* prev;
    uint8_t id;        // 1-24, fixed per entry
    uint8_t* owner;    // the owner's id byte
    uint32_t delta;    // ms after the previous entry
    uint8_t callKind;
    void* callback;
    void* arg1;
    void* arg2;
};

struct DspTimerList {
    DspTimerEntry* freeHead;
    DspTimerEntry* freeTail;
    DspTimerEntry* active;
    DspTimerEntry entries[kDspTimers];
};

struct DspTimerRequest {
    DspTimerList* list;
    uint8_t* owner;
    uint32_t delay;
    uint8_t callKind;
    void* callback;
    void* arg1;
    void* arg2;
    uint8_t id;  // cancel
};

struct DspHandlerRequest {
    uint8_t msgClass;
    DspMessageCallback callback;
    void* user;
};

struct DspMessageQueue {
    DspMessageNode* freeHead;
    DspMessageNode* freeTail;
    DspMessageNode* head;
    DspMessageNode* last;
    DspMessageNode* lastUrgent;
    DspMessageNode nodes[kDspMessageNodes];
    DspMessageHandler* freeHandlers;
    DspMessageHandler* handlers;  // newest first
    DspMessageHandler handlerNodes[kDspHandlerNodes];
    std::atomic<uint32_t> msCounter;  // advanced by the tick thread
    uint32_t lastPumped;
    DspTimerList timers;
    uint32_t initCount;
};

void dsp_msg_queue_init(DspMessageQueue* q);
int dsp_msg_take(DspMessageQueue* q, DspMessageNode** node);
void dsp_msg_post(DspMessageQueue* q, DspMessageNode* node);
void dsp_msg_release(DspMessageQueue* q, DspMessageNode* node);
int dsp_msg_register_handler(DspMessageQueue* q, const DspHandlerRequest* request);
DspMessageHandler* dsp_msg_find_handler(DspMessageQueue* q, uint8_t msg_class);
// Delivers the messages queued at entry and releases their nodes. A handler may post the node it was given
// again (it is then delivered on the next pass and not released); it never releases it itself.
void dsp_msg_dispatch(DspMessageQueue* q);
// Posts the elapsed milliseconds as an urgent timer message and dispatches (the cadence step is the
// caller's, between the two).
void dsp_msg_post_elapsed(DspMessageQueue* q);
void dsp_msg_add_ms(DspMessageQueue* q, uint32_t ms);
int dsp_msg_queued(const DspMessageQueue* q);
// Takes a node and posts it with class, type, urgency and payload; false when no node was free.
bool dsp_msg_send(DspMessageQueue* q, uint8_t msg_class, uint8_t type, bool urgent, const uint8_t* payload,
                  int length);

void dsp_timer_list_init(DspTimerList* list);
int dsp_timer_start(const DspTimerRequest* request);
// The common request: a timer of `list` owned by *owner, `ms` from now, calling callback(arg1, arg2) when
// call_kind is kTimerCall2, callback(arg1) for kTimerCall1. Returns dsp_timer_start's result (0 started).
int dsp_timer_arm(DspTimerList* list, uint8_t* owner, uint32_t ms, uint8_t call_kind, void* callback, void* arg1,
                  void* arg2);
void dsp_timer_cancel(const DspTimerRequest* request);
void dsp_timer_advance(DspTimerList* list, uint32_t ms);

// Country S-register limits: a 16-bit count, then 6-byte entries {index, default, minimum, maximum,
// excluded start, excluded end}. Returns 1 and clamps *value when an entry for the register matched.
int dsp_apply_s_limit(const uint8_t* limits, uint8_t s_register, uint8_t* value);
