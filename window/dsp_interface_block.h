// The block the data pump shares with the controller: the emulated DSP's register file, the controller's
// callback and the data pump's command entry, and the two parameter directories.
//
// Allocated, owned and freed by the data pump (device start to removal). One struct definition serves both
// drivers; neither computes byte offsets into it (it holds pointers, so its size is not the 32-bit one).
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/ke.h"

struct DspInterfaceBlock;
struct DspContext;

// The controller's DSP event routine: called with the block whenever the data pump has posted a packet, taken
// a command, moved a data chunk or raised a notification. Its result is not used.
typedef void (*ControllerCallback)(DspInterfaceBlock* block);

// The data pump's command entry: the controller calls it after writing register 254 (doorbell) or 247.
typedef void (*DspCommandEntry)(DspContext* context);

// One DSP memory address mapped onto the data pump's state.
struct ParameterEntry {
    uint32_t id;     // DSP memory address
    void* pointer;   // where the value lives
    uint32_t size;   // bytes
};

constexpr int kMemoryDirectoryEntries = 128;
constexpr int kTableDirectoryEntries = 256;

// 256 one-byte registers. Aligned so that the 16-bit register pairs (52/53, 116/117) can be published with one
// 16-bit store.
struct alignas(8) HostRegisterWindow {
    uint8_t reg[256];
};

// One reply or event packet waiting for the reply mailbox (registers 0-19).
struct QueuedPacket {
    uint8_t code;
    uint8_t length;
    uint8_t payload[16];
};

constexpr int kReplyQueueEntries = 16;

// The data pump's own bookkeeping of the window, after everything the controller sees. The device lock
// serialises command dispatch and block processing; callbacks raised while it is held are counted and made
// after it is released, so the controller's event routine may send commands at once. Packets that find the
// reply mailbox busy wait here in order until the controller clears register 0.
struct PumpLink {
    KMUTEX lock;
    uint32_t pendingCallbacks;    // accessed atomically
    QueuedPacket queue[kReplyQueueEntries];
    uint32_t queueHead;
    uint32_t queueCount;
    uint32_t droppedPackets;      // packets lost to a full queue
    // A mode that moves more than one data chunk per block (voice) installs a refill: called with the lock
    // held each time it is taken, it posts the next waiting receive chunk and takes the next transmit chunk
    // once the controller has emptied or filled the mailbox.
    void (*refill)(void* owner);
    void* refillOwner;
};

struct DspInterfaceBlock {
    ControllerCallback controllerCallback;
    DspCommandEntry commandEntry;
    ParameterEntry* memoryDirectory;   // the block's own memoryDirectoryArray
    ParameterEntry* tableDirectory;    // the block's own tableDirectoryArray
    int32_t memoryDirectoryCount;
    int32_t tableDirectoryCount;
    HostRegisterWindow window;
    ParameterEntry memoryDirectoryArray[kMemoryDirectoryEntries];
    ParameterEntry tableDirectoryArray[kTableDirectoryEntries];
    PumpLink link;                     // the data pump's only: the controller never touches it
    // The controller's only: where its event routine finds the controller's own record of this device. The
    // data pump clears it with the block at start and never reads or writes it afterwards.
    void* controllerContext;
};

// The data pump completes its start request with its DspContext, whose first field points to the
// DspInterfaceBlock. The controller reads that field only (the data pump checks that it comes first).
inline DspInterfaceBlock* InterfaceBlockOfContext(const DspContext* context)
{
    DspInterfaceBlock* block;
    std::memcpy(&block, context, sizeof block);
    return block;
}
