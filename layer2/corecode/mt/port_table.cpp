// The port-operation table: slot adapters over the typed operations, and the set-up of the port
// record of a device.
#include <cstring>

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_table.h"

namespace {

template <typename T>
T* ptr(uintptr_t v)
{
    return reinterpret_cast<T*>(v);
}

int slot_set_comm_state(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t, uintptr_t)
{
    return port_set_comm_state(p, ptr<const PortCommState>(a1), static_cast<uint32_t>(a2));
}
int slot_get_comm_state(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_get_comm_state(p, ptr<PortCommState>(a1));
}
int slot_setup_queues(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4)
{
    return port_setup_queues(p, ptr<uint8_t>(a1), static_cast<uint32_t>(a2), ptr<uint8_t>(a3),
                             static_cast<uint32_t>(a4));
}
int slot_transmit_char(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_transmit_char(p, static_cast<uint8_t>(a1));
}
int slot_close(PortRecord* p, uintptr_t, uintptr_t, uintptr_t, uintptr_t) { return port_close(p); }
int slot_get_queue_status(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_get_queue_status(p, ptr<PortQueueStatus>(a1));
}
int slot_clear_error(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t, uintptr_t)
{
    return port_clear_error(p, ptr<PortQueueStatus>(a1), ptr<uint32_t>(a2));
}
int slot_set_msr_shadow(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_set_msr_shadow(p, ptr<uint8_t>(a1));
}
int slot_get_properties(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_get_properties(p, ptr<uint8_t>(a1));
}
int slot_escape(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t)
{
    return port_escape(p, static_cast<uint32_t>(a1), a2, ptr<uintptr_t>(a3));
}
int slot_purge(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_purge(p, static_cast<uint32_t>(a1));
}
int slot_set_event_mask(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t, uintptr_t)
{
    return port_set_event_mask(p, static_cast<uint32_t>(a1), ptr<uint32_t>(a2));
}
int slot_get_event_mask(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t, uintptr_t)
{
    return port_get_event_mask(p, static_cast<uint32_t>(a1), ptr<uint32_t>(a2));
}
int slot_write(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t)
{
    return port_write(p, ptr<const uint8_t>(a1), static_cast<uint32_t>(a2), ptr<uint32_t>(a3));
}
int slot_read(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t)
{
    return port_read(p, ptr<uint8_t>(a1), static_cast<uint32_t>(a2), ptr<uint32_t>(a3));
}
int slot_enable_notification(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t, uintptr_t)
{
    return port_enable_notification(p, reinterpret_cast<PortCallback>(a1), ptr<void>(a2));
}
int slot_set_read_callback(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t)
{
    return port_set_read_callback(p, static_cast<uint32_t>(a1), reinterpret_cast<PortCallback>(a2), ptr<void>(a3));
}
int slot_set_write_callback(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t)
{
    return port_set_write_callback(p, static_cast<uint32_t>(a1), reinterpret_cast<PortCallback>(a2),
                                   ptr<void>(a3));
}
int slot_get_modem_status(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_get_modem_status(p, ptr<uint32_t>(a1));
}
int slot_get_comm_config(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t, uintptr_t)
{
    return port_get_comm_config(p, ptr<uint8_t>(a1), ptr<uint32_t>(a2));
}
int slot_set_comm_config(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t, uintptr_t)
{
    return port_set_comm_config(p, ptr<const uint8_t>(a1), static_cast<uint32_t>(a2));
}
int slot_get_error(PortRecord* p, uintptr_t a1, uintptr_t, uintptr_t, uintptr_t)
{
    return port_get_error(p, ptr<int32_t>(a1));
}
// Slot 23 returns the record as its result word; callers use port_call_open.
int slot_open(PortRecord* p, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t)
{
    return port_open(p, ptr<const uint8_t>(a1), static_cast<uint32_t>(a2), ptr<int32_t>(a3)) != nullptr;
}

}  // namespace

void port_table_fill(PortFunctionTable* t)
{
    std::memset(t, 0, sizeof *t);
    t->slot[PORT_SET_COMM_STATE] = slot_set_comm_state;
    t->slot[PORT_GET_COMM_STATE] = slot_get_comm_state;
    t->slot[PORT_SETUP_QUEUES] = slot_setup_queues;
    t->slot[PORT_TRANSMIT_CHAR] = slot_transmit_char;
    t->slot[PORT_CLOSE] = slot_close;
    t->slot[PORT_GET_QUEUE_STATUS] = slot_get_queue_status;
    t->slot[PORT_CLEAR_ERROR] = slot_clear_error;
    t->slot[PORT_SET_MSR_SHADOW] = slot_set_msr_shadow;
    t->slot[PORT_GET_PROPERTIES] = slot_get_properties;
    t->slot[PORT_ESCAPE] = slot_escape;
    t->slot[PORT_PURGE] = slot_purge;  // empties the application queues
    t->slot[PORT_SET_EVENT_MASK] = slot_set_event_mask;
    t->slot[PORT_GET_EVENT_MASK] = slot_get_event_mask;
    t->slot[PORT_WRITE] = slot_write;
    t->slot[PORT_READ] = slot_read;
    t->slot[PORT_ENABLE_NOTIFICATION] = slot_enable_notification;
    t->slot[PORT_SET_READ_CALLBACK] = slot_set_read_callback;
    t->slot[PORT_SET_WRITE_CALLBACK] = slot_set_write_callback;
    t->slot[PORT_GET_MODEM_STATUS] = slot_get_modem_status;
    t->slot[PORT_GET_COMM_CONFIG] = slot_get_comm_config;
    t->slot[PORT_SET_COMM_CONFIG] = slot_set_comm_config;
    t->slot[PORT_GET_ERROR] = slot_get_error;
    t->slot[PORT_OPEN] = slot_open;
    // Slots 22 and 24 stay empty.
}

int port_call(PortRecord* port, int slot, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4)
{
    if (port == nullptr || port->table == nullptr || slot < 0 || slot >= PORT_SLOT_COUNT)
        return 0;
    PortOperation op = port->table->slot[slot];
    if (op == nullptr)
        return 0;
    return op(port, a1, a2, a3, a4);
}

void port_layer_setup(PortRecord* p, ModemDeviceExtension* ext, DteContext* dte, volatile uint8_t* window,
                      uint32_t irq_level)
{
    p->record_size = 184;
    p->version = 1;
    p->slot_count = PORT_SLOT_COUNT;
    port_table_fill(&p->table_storage);
    p->table = &p->table_storage;
    std::memcpy(p->signature, "PORT", 4);
    p->open_marker = 0;
    p->irq_level = irq_level;
    p->window = window;
    p->xon_char = 17;
    p->xoff_char = 19;
    p->const128 = 128;
    p->const16 = 16;
    p->ext = ext;
    p->dte = dte;
    p->last_error = PORT_ERR_NONE;
    p->immediate_char = -1;
    p->event_word = &p->event_internal;
    port_comm_state_defaults(&p->state);
    KeInitializeTimer(&p->read_check_timer);
    KeInitializeDpc(&p->read_check_dpc, port_read_check_dpc, p);
    dte_init(dte, p);
}
