// The controller's side of the DSP link: the data pump's register window addressed as a DSP register file,
// the ICD packet channel (one outgoing buffer, sender and reply waiter), the receive path the data pump
// triggers through the controller callback, DSP memory and table access, and the trace ring.
//
// All state is per device, in one DspLink record owned by the device's controller.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "window/dsp_interface_block.h"
#include "window/icd_codes.h"
#include "window/register_map.h"
#include "platform/kernel.h"

struct DspLink;

// Transport results.
enum IcdResult : int {
    kIcdSent = 0,       // sent (and answered when a reply was awaited)
    kIcdBusy = 1,       // the channel was in use; nothing sent
    kIcdNotTaken = 2,   // the data pump never took the command
    kIcdNoReply = 3,    // no reply arrived
};

// Reply modes of the outgoing buffer.
enum IcdReplyMode : uint8_t { kReplyAck = 0, kReplyExpected = 1, kReplyNone = 2 };

constexpr int kIcdMaxReceived = 60;    // registers 4-63
constexpr int kDspTraceRingSize = 3072;
constexpr int kIcdAttempts = 50;

// The outgoing packet buffer with its reply bookkeeping.
struct IcdBuffer {
    uint8_t packet[4 + kIcdMaxPayload];  // code, 0, length, 0, payload
    uint8_t replyMode;
    uint8_t expectedCode;
    uint16_t waitCounter;
    uint32_t waitStart;
};

struct ReceivedPacket {
    uint8_t code;
    uint8_t zero1;
    uint8_t length;
    uint8_t zero3;
    uint8_t payload[kIcdMaxReceived];
};

// Events the receive path records for call control.
constexpr int kEventCharQueueSize = 32;

struct DspEventState {
    std::atomic<uint8_t> lastEventChar;
    // Every event character in arrival order, for the voice engine (one reader); a full queue keeps the
    // oldest and counts the rest.
    uint8_t charQueue[kEventCharQueueSize];
    std::atomic<uint32_t> charWrite;
    std::atomic<uint32_t> charRead;
    std::atomic<uint32_t> charDropped;
    std::atomic<uint32_t> kindMask;       // bit k set by an event of kind k
    std::atomic<uint8_t> kind0Value;
    std::atomic<uint8_t> kind6Value;
    std::atomic<uint16_t> connectionEvents;  // 0x100, 0x200, 0x800
    std::atomic<uint16_t> eventFlags;        // bit 0 by kind 4
    std::atomic<uint8_t> detectorReportPending;
};

// One {rate, duration, time stamp} sample of the ring-cadence input.
struct CadenceSample {
    uint16_t rate;
    uint16_t duration;
    uint16_t stamp;
};

constexpr int kCadenceQueueSize = 4;

struct CadenceSampleQueue {
    uint8_t write;
    uint8_t read;
    CadenceSample entries[kCadenceQueueSize];
};

// A DSP memory or table location.
struct DspValueRequest {
    uint32_t address;
    uint8_t selector;  // 0 memory, 1 table
};

// A patch table: entries of {bank flags, id, address low, address high, word count low, high, then the
// words' bytes}, each byte at the table's stride; a bank-flags byte of '0' ends it, and so does its size.
struct DspPatchTable {
    const uint8_t* bytes;
    uint32_t size;
    uint8_t stride;
};

// A lock that a thread may take again while it holds it: the notification path runs nested inside a send
// when the data pump answers within the doorbell write, and from the data pump's block thread.
struct DspRecursiveLock {
    KSPIN_LOCK lock;
    std::atomic<std::thread::id> owner;
    uint32_t depth;
    KIRQL oldIrql;
};

// Hooks into the rest of the controller. Null entries are passed over.
struct DspLinkHooks {
    void* ctx;
    // True while the controller task is being restarted: waits end at once.
    bool (*restarting)(void* ctx);
    // Output towards the application (the AT layer's print).
    void (*print)(void* ctx, const char* text);
    // The AT interpreter's command-error flag.
    void (*command_error)(void* ctx);
    // The controller task's time slice and call control's mode (for the hook relay).
    void (*set_slice)(void* ctx, uint8_t setting);
    uint8_t (*cc_mode)(void* ctx);
};

struct DspLink {
    // Register window and the data pump's context (set at start, cleared at stop).
    std::atomic<DspInterfaceBlock*> block;
    DspContext* pumpContext;
    std::atomic<uint8_t> portReady;  // the port record exists: the doorbell reaches the data pump

    // The channel: held by one sender for a whole transaction (send and reply).
    IcdBuffer icd;
    LONG icdFree;                    // 1 free; taken and given back by exchange
    std::atomic<uint8_t> replyReceived;
    std::atomic<uint8_t> inFlightCode;  // the command last handed over; an acknowledgement naming another is stale
    ReceivedPacket received;
    uint8_t replyData[16];
    uint8_t replyCode;               // code of the last reply
    uint8_t ackedCode;               // command code named by the last acknowledgement
    uint8_t failedPacket[4 + kIcdMaxPayload];
    uint8_t failedLength;            // bytes saved in failedPacket; 0 none
    uint8_t suppressFailedSave;
    uint8_t icdFlags[3];             // read and written by call control
    uint32_t lastFailureLine;        // line reported for the last transport fault

    // Receive path.
    DspRecursiveLock callbackLock;
    DspEventState events;
    uint16_t lastCadenceStamp;
    CadenceSampleQueue cadence;
    void (*interruptRoutine)(void* arg);
    void* interruptArg;
    std::atomic<uint8_t> dspInterruptFlag;

    // Trace ring: one writer (the receive path), one reader (the drain after a send).
    uint8_t traceRing[kDspTraceRingSize];
    uint16_t traceRead;
    uint16_t traceWrite;
    uint32_t traceDropped;           // records refused for want of room, bytes dropped as unknown

    // Patch tables for the download the trace records ask for: the built-in one (kinds 0x50 and 0x60, stride
    // 1) and the one the table upload dialogue loaded (other kinds, its own stride). Null: none.
    DspPatchTable builtinPatch;
    DspPatchTable uploadPatch;
    uint8_t patchLoaded;             // a kind-0x60 download completed

    DspLinkHooks hooks;
};

// Life cycle.
void dsp_link_init(DspLink* link, const DspLinkHooks* hooks);
void dsp_set_register_window(DspLink* link, DspInterfaceBlock* block, DspContext* pump_context);
void dsp_set_port_ready(DspLink* link, bool ready);

// Register access.
void dsp_reg_write(DspLink* link, int reg, uint8_t value);
uint8_t dsp_reg_read(DspLink* link, int reg);
bool dsp_notify_enabled(DspLink* link);
void dsp_notify_enable(DspLink* link);
uint8_t dsp_read_notify(DspLink* link);
void dsp_read_rx_chunk(DspLink* link, uint8_t* destination, int count);
// Takes the receive chunk waiting in the window (its count and flags read as one pair, then cleared): the
// number of bytes copied (at most kMailboxBytes), 0 when none waits.
int dsp_take_rx_chunk(DspLink* link, uint8_t* destination);

// GPIO and relays.
void dsp_gpio_clear(DspLink* link, int pin);
void dsp_gpio_set(DspLink* link, int pin);
int dsp_gpio_read(DspLink* link, int pin);
void dsp_relay_voice(DspLink* link, bool on);
void dsp_relay_caller_id(DspLink* link, bool on);
void dsp_relay_speaker_handset(DspLink* link, bool on);
void dsp_relay_hook_output(DspLink* link, bool off_hook);
bool dsp_voice_relay_on(DspLink* link);
bool dsp_caller_id_relay_on(DspLink* link);
bool dsp_speaker_relay_on(DspLink* link);
bool dsp_local_phone_input_low(DspLink* link);
uint16_t dsp_gpio_pins_inverted(DspLink* link);

// Packet transport.
int cp_dsp(DspLink* link);
int dsp_cp(DspLink* link);
int dsp_transact(DspLink* link);
int dsp_send_packet(DspLink* link);
// Fills the buffer and sends it with the channel held from the fill to the reply, so two senders in
// different threads never send or read each other's packet; the reply payload (16 bytes) is copied to
// reply_out when given. A payload over 16 bytes is refused (result 1).
int dsp_send_command(DspLink* link, uint8_t code, const uint8_t* payload, int length, uint8_t reply_mode,
                     uint8_t* reply_out);
// Fills the buffer: code, payload length and payload (at most 16 bytes; a longer payload is refused with
// false and the buffer left alone), reply mode and expected reply code.
bool icd_fill(DspLink* link, uint8_t code, const uint8_t* payload, int length, uint8_t reply_mode,
              uint8_t expected);

// Receive path. The callback lock serialises the receive path per device; its owner may take it again.
void dsp_callback_lock(DspLink* link);
void dsp_callback_unlock(DspLink* link);
void dsp_notify_callback(DspLink* link);
uint8_t dsp_read_packet(DspLink* link, ReceivedPacket* destination);
// The oldest queued event character, 0 when none; and emptying the queue.
uint8_t dsp_take_queued_event_char(DspLink* link);
void dsp_clear_event_chars(DspLink* link);
void dsp_dispatch_packet(DspLink* link, uint8_t code);
void dsp_run_interrupt_routine(DspLink* link);
void dsp_run_interrupt_now(DspLink* link);
void dsp_set_interrupt_routine(DspLink* link, void (*routine)(void*), void* arg);
bool dsp_cadence_take(DspLink* link, CadenceSample* sample);

// DSP memory and tables.
// The value's reply payload (16 bytes) goes to reply_out when given (and to ReplyData in any case).
int dsp_read_value(DspLink* link, const DspValueRequest* request, uint8_t* reply_out = nullptr);
int dsp_write_value(DspLink* link, const DspValueRequest* request, const uint16_t* words, int count);

// Trace ring.
bool dsp_trace_append(DspLink* link, const uint8_t* bytes, int count);
int dsp_trace_used(const DspLink* link);
bool dsp_drain_trace_ring(DspLink* link);

// Patch download: the entries of the table for the kind whose id matches go to the DSP (through the window
// for kind 0x60, else as memory or table writes; kind 0x40 at the given address and bank), then 0xA3
// {id, kind} ends it. Returns 1 on success, else the failed send's transport result.
int dsp_patch_download(DspLink* link, uint8_t kind, uint8_t id, uint16_t address, uint8_t bank);
