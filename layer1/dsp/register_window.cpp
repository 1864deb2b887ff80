// Register primitives of the emulated DSP, the reply queue and the device lock.
#include "layer1/dsp/register_window.h"

#include <cstring>

namespace {

void WritePacket(DspInterfaceBlock* block, const QueuedPacket& p)
{
    const int n = p.length < kIcdMaxPayload ? p.length : kIcdMaxPayload;
    WindowStoreBytes(block, kRegReplyPayload, p.payload, n);
    WindowStoreRelaxed(block, kRegReplyReserved1, 0);
    WindowStoreRelaxed(block, kRegReplyLength, static_cast<uint8_t>(n));
    WindowStoreRelaxed(block, kRegReplyReserved3, 0);
    WindowStore(block, kRegReplyCode, p.code);
    RaiseCallback(block);
}

void RefillMailboxes(DspInterfaceBlock* block)
{
    if (block->link.refill != nullptr)
        block->link.refill(block->link.refillOwner);
}

}  // namespace

void RaiseCallback(DspInterfaceBlock* block)
{
    __atomic_add_fetch(&block->link.pendingCallbacks, 1u, __ATOMIC_RELAXED);
}

// 255: with notifications enabled (247 bit 1) the controller is called and the value is not stored; else it
// is stored. 254: the doorbell runs the command entry (no data-pump code rings it).
void WriteRegister(DspInterfaceBlock* block, int reg, uint8_t value)
{
    reg &= 0xFF;
    if (reg == kRegNotify) {
        if (WindowLoad(block, kRegHostControl) & kNotifyEnable)
            RaiseCallback(block);
        else
            WindowStore(block, kRegNotify, value);
        return;
    }
    if (reg == kRegDoorbell) {
        (void)value;
        return;  // the controller's doorbell: see the command entry; nothing to store
    }
    WindowStore(block, reg, value);
}

uint8_t ReadRegister(DspInterfaceBlock* block, int reg)
{
    reg &= 0xFF;
    if (reg == kRegDoorbell || reg == kRegNotify)
        return 0;
    return WindowLoad(block, reg);
}

void SetRegister(DspInterfaceBlock* block, int reg, uint8_t value)
{
    WindowStore(block, reg, value);
}

uint8_t GetRegister(const DspInterfaceBlock* block, int reg)
{
    return WindowLoad(block, reg);
}

// Register 54: 0-15 replace the pump state (low nibble); a larger value sets (set = 1) or clears (set = 0)
// its bits. No notification.
void UpdateStatusRegister(DspInterfaceBlock* block, uint8_t value, int set)
{
    const uint8_t old = WindowLoad(block, kRegStatus);
    uint8_t next;
    if (value <= 15)
        next = static_cast<uint8_t>((old & 0xF0u) | value);
    else if (set == 1)
        next = static_cast<uint8_t>(old | value);
    else
        next = static_cast<uint8_t>(old & ~value);
    WindowStore(block, kRegStatus, next);
}

int FlushReplyQueue(DspInterfaceBlock* block)
{
    PumpLink& link = block->link;
    if (link.queueCount == 0 || WindowLoad(block, kRegReplyCode) != 0)
        return 0;
    WritePacket(block, link.queue[link.queueHead]);
    link.queueHead = (link.queueHead + 1) % kReplyQueueEntries;
    link.queueCount -= 1;
    return 1;
}

// Replies and events share register 0: a packet that finds it busy (or finds older packets waiting) is
// queued in order instead of being lost. At most 16 payload bytes are posted; the length says so.
int PostReply(DspInterfaceBlock* block, uint8_t code, uint8_t length, const uint8_t* payload)
{
    PumpLink& link = block->link;
    QueuedPacket p{};
    p.code = code;
    p.length = length < kIcdMaxPayload ? length : static_cast<uint8_t>(kIcdMaxPayload);
    if (payload != nullptr)
        std::memcpy(p.payload, payload, p.length);
    FlushReplyQueue(block);
    if (link.queueCount == 0 && WindowLoad(block, kRegReplyCode) == 0) {
        WritePacket(block, p);
        return 1;
    }
    if (link.queueCount == kReplyQueueEntries) {
        link.droppedPackets += 1;
        return 0;
    }
    link.queue[(link.queueHead + link.queueCount) % kReplyQueueEntries] = p;
    link.queueCount += 1;
    return 1;
}

// Takes the command in registers 64-83: code, length (more than 15 read as 16) and payload; clears 64.
int FetchCommand(DspInterfaceBlock* block, uint8_t* code, uint8_t* length, uint8_t* payload)
{
    const uint8_t c = WindowLoad(block, kRegCommandCode);
    if (c == 0)
        return 0;
    uint8_t n = WindowLoadRelaxed(block, kRegCommandLength);
    if (n > 15)
        n = kIcdMaxPayload;
    WindowLoadBytes(block, kRegCommandPayload, payload, n);
    *code = c;
    *length = n;
    WindowStore(block, kRegCommandCode, 0);
    RaiseCallback(block);
    return 1;
}

// The bytes go in first, then count and flags together; the count never exceeds 32.
int PostRxBytes(DspInterfaceBlock* block, uint8_t flags, uint8_t count, const uint8_t* bytes)
{
    if (WindowLoadPair(block, kRegRxCount) != 0)
        return 0;
    const uint8_t n = count < kMailboxBytes ? count : static_cast<uint8_t>(kMailboxBytes);
    if (bytes != nullptr)
        WindowStoreBytes(block, kRegRxData, bytes, n);
    WindowStorePair(block, kRegRxCount, static_cast<uint16_t>(n | (flags << 8)));
    RaiseCallback(block);
    return 1;
}

int RxMailboxFree(const DspInterfaceBlock* block)
{
    return WindowLoadPair(block, kRegRxCount) == 0 ? 1 : 0;
}

// A chunk is taken when count or flags is non-zero; both are read in one access, so a chunk is never seen
// half published. Count above 32 is taken as 32.
int FetchTxBytes(DspInterfaceBlock* block, uint8_t* flags, uint8_t* count, uint8_t* bytes)
{
    const uint16_t pair = WindowLoadPair(block, kRegTxCount);
    if (pair == 0)
        return 0;
    uint8_t n = static_cast<uint8_t>(pair & 0xFFu);
    if (n > kMailboxBytes)
        n = kMailboxBytes;
    WindowLoadBytes(block, kRegTxData, bytes, n);
    *flags = static_cast<uint8_t>(pair >> 8);
    *count = n;
    WindowStorePair(block, kRegTxCount, 0);
    RaiseCallback(block);
    return 1;
}

uint8_t ReadTxCount(const DspInterfaceBlock* block)
{
    return WindowLoad(block, kRegTxCount);
}

uint8_t ReadTxFlags(const DspInterfaceBlock* block)
{
    return WindowLoad(block, kRegTxFlags);
}

void InitPumpLink(DspInterfaceBlock* block)
{
    std::memset(&block->link, 0, sizeof(block->link));
    KeInitializeMutex(&block->link.lock, 0);
}

void LockDsp(DspInterfaceBlock* block)
{
    KeWaitForSingleObject(&block->link.lock, Executive, KernelMode, FALSE, nullptr);
    FlushReplyQueue(block);
    RefillMailboxes(block);
}

int TryLockDsp(DspInterfaceBlock* block)
{
    LARGE_INTEGER poll;
    poll.QuadPart = 0;
    if (KeWaitForSingleObject(&block->link.lock, Executive, KernelMode, FALSE, &poll) != STATUS_SUCCESS)
        return 0;
    FlushReplyQueue(block);
    RefillMailboxes(block);
    return 1;
}

void UnlockDsp(DspInterfaceBlock* block)
{
    for (;;) {
        const uint32_t n = __atomic_exchange_n(&block->link.pendingCallbacks, 0u, __ATOMIC_RELAXED);
        KeReleaseMutex(&block->link.lock, FALSE);
        if (n == 0)
            return;
        const ControllerCallback callback = block->controllerCallback;
        if (callback != nullptr) {
            for (uint32_t i = 0; i < n; ++i)
                callback(block);
        }
        // The controller usually takes the packet inside its callback: move the next one in at once. At
        // DISPATCH_LEVEL the lock can only be polled; a holder moves the packet when it lets go, else the
        // next command or block does.
        if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
            if (!TryLockDsp(block))
                return;
        } else {
            LockDsp(block);
        }
    }
}
