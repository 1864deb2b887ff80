// The serial I/O controls: each is carried out through the port-operation table.
#include <cstring>

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_table.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/request_accounting.h"
#include "layer2/windows/wdm/serial_handflow.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "layer2/windows/wdm/serial_queue.h"

namespace {

struct IoctlContext {
    ModemDeviceExtension* ext;
    PIRP irp;
    PortRecord* port;
    uint8_t* buffer;
    ULONG in_length;
    ULONG out_length;
};

ULONG get32(const uint8_t* p)
{
    ULONG v;
    std::memcpy(&v, p, 4);
    return v;
}

void put32(uint8_t* p, ULONG v) { std::memcpy(p, &v, 4); }

NTSTATUS op_status(int ok) { return ok ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER; }

bool get_state(IoctlContext* c, PortCommState* s)
{
    return port_call(c->port, PORT_GET_COMM_STATE, reinterpret_cast<uintptr_t>(s)) != 0;
}

NTSTATUS set_state(IoctlContext* c, const PortCommState* s, uint32_t mask)
{
    return op_status(port_call(c->port, PORT_SET_COMM_STATE, reinterpret_cast<uintptr_t>(s), mask));
}

NTSTATUS escape(IoctlContext* c, uint32_t function)
{
    uintptr_t out = 0;
    return op_status(port_call(c->port, PORT_ESCAPE, function, 0, reinterpret_cast<uintptr_t>(&out)));
}

// Output of `size` bytes: checks the caller's buffer and sets the information.
bool out_ok(IoctlContext* c, ULONG size)
{
    if (c->out_length < size)
        return false;
    c->irp->IoStatus.Information = size;
    return true;
}

NTSTATUS purge(IoctlContext* c)
{
    ULONG mask = get32(c->buffer);
    if (mask == 0 || mask > 15)
        return STATUS_INVALID_PARAMETER;
    if (mask & SERIAL_PURGE_TXABORT)
        ModemPurgeQueue(c->ext, &c->ext->write_queue);
    if (mask & SERIAL_PURGE_RXABORT)
        ModemPurgeQueue(c->ext, &c->ext->read_queue);
    ULONG clear = mask & (SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR);
    if (clear != 0) {
        uint32_t which = clear == (SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR) ? 2
                         : (clear & SERIAL_PURGE_RXCLEAR)                          ? 1
                                                                                    : 0;
        return op_status(port_call(c->port, PORT_PURGE, which));
    }
    return STATUS_SUCCESS;
}

NTSTATUS comm_status(IoctlContext* c)
{
    PortQueueStatus qs{};
    uint32_t errors = 0;
    if (!port_call(c->port, PORT_CLEAR_ERROR, reinterpret_cast<uintptr_t>(&qs), reinterpret_cast<uintptr_t>(&errors)))
        return STATUS_INVALID_PARAMETER;
    uint8_t* b = c->buffer;
    std::memset(b, 0, SERIAL_STATUS_SIZE);
    put32(b + 0, errors);
    put32(b + 4, qs.flags & 0x1F);
    put32(b + 8, qs.rx_count);
    put32(b + 12, qs.tx_count);
    b[16] = (qs.flags & PORT_HOLD_EOF) ? 1 : 0;
    b[17] = (qs.flags & PORT_HOLD_IMMEDIATE) ? 1 : 0;
    return STATUS_SUCCESS;
}

NTSTATUS get_stats(IoctlContext* c)
{
    ModemDeviceExtension* ext = c->ext;
    DteContext* d = c->port->dte;
    KIRQL tx;
    KIRQL rx;
    KeAcquireSpinLock(&d->app_tx_lock, &tx);
    KeAcquireSpinLock(&d->app_rx_lock, &rx);
    for (int i = 0; i < 6; i++)
        ext->perf_stats[i] = d->app.stats[i];
    KeReleaseSpinLock(&d->app_rx_lock, rx);
    KeReleaseSpinLock(&d->app_tx_lock, tx);
    for (int i = 0; i < 6; i++)
        put32(c->buffer + 4 * i, ext->perf_stats[i]);
    return STATUS_SUCCESS;
}

NTSTATUS clear_stats(IoctlContext* c)
{
    DteContext* d = c->port->dte;
    KIRQL tx;
    KIRQL rx;
    KeAcquireSpinLock(&d->app_tx_lock, &tx);
    KeAcquireSpinLock(&d->app_rx_lock, &rx);
    for (uint32_t& s : d->app.stats)
        s = 0;
    KeReleaseSpinLock(&d->app_rx_lock, rx);
    KeReleaseSpinLock(&d->app_tx_lock, tx);
    for (ULONG& s : c->ext->perf_stats)
        s = 0;
    return STATUS_SUCCESS;
}

// Serves one control; STATUS_PENDING leaves the request with the wait-on-mask code.
NTSTATUS serve(IoctlContext* c, ULONG code)
{
    const ULONG in = c->in_length;
    uint8_t* b = c->buffer;
    PortCommState s{};
    switch (code) {
    case IOCTL_SERIAL_SET_BAUD_RATE:
        if (in < SERIAL_BAUD_RATE_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        s.baud = get32(b);
        return set_state(c, &s, PCS_SET_BAUD);
    case IOCTL_SERIAL_SET_QUEUE_SIZE:
        if (in < SERIAL_QUEUE_SIZE_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        return op_status(port_call(c->port, PORT_SETUP_QUEUES, 0, get32(b), 0, get32(b + 4)));
    case IOCTL_SERIAL_SET_LINE_CONTROL:
        if (in < SERIAL_LINE_CONTROL_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        s.stop_bits = b[0];
        s.parity = b[1];
        s.byte_size = b[2];
        // Word length, parity and stop bits all take effect.
        return set_state(c, &s, PCS_SET_BYTE_SIZE | PCS_SET_PARITY | PCS_SET_STOP_BITS);
    case IOCTL_SERIAL_SET_BREAK_ON:
        return escape(c, 12);
    case IOCTL_SERIAL_SET_BREAK_OFF:
        return escape(c, 13);
    case IOCTL_SERIAL_IMMEDIATE_CHAR:
        if (in < 1)
            return STATUS_BUFFER_TOO_SMALL;
        if (!port_call(c->port, PORT_TRANSMIT_CHAR, b[0]))
            return STATUS_INVALID_PARAMETER;
        c->irp->IoStatus.Information = c->out_length >= 4 ? 4 : 0;
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_SET_TIMEOUTS:
        if (in < SERIAL_TIMEOUTS_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        c->port->read_interval = get32(b);
        c->port->read_multiplier = get32(b + 4);
        c->port->read_constant = get32(b + 8);
        c->port->write_multiplier = get32(b + 12);
        c->port->write_constant = get32(b + 16);
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_GET_TIMEOUTS:
        if (!out_ok(c, SERIAL_TIMEOUTS_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        put32(b, c->port->read_interval);
        put32(b + 4, c->port->read_multiplier);
        put32(b + 8, c->port->read_constant);
        put32(b + 12, c->port->write_multiplier);
        put32(b + 16, c->port->write_constant);
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_SET_DTR:
        return escape(c, 5);
    case IOCTL_SERIAL_CLR_DTR:
        return escape(c, 6);
    case IOCTL_SERIAL_RESET_DEVICE:
    case IOCTL_SERIAL_XOFF_COUNTER:
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_SET_RTS:
        return escape(c, 3);
    case IOCTL_SERIAL_CLR_RTS:
        return escape(c, 4);
    case IOCTL_SERIAL_SET_XOFF:
        return escape(c, 1);
    case IOCTL_SERIAL_SET_XON:
        return escape(c, 2);
    case IOCTL_SERIAL_GET_WAIT_MASK: {
        if (!out_ok(c, SERIAL_ULONG_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        KIRQL old;
        KeAcquireSpinLock(&c->ext->event_mask_lock, &old);
        ULONG mask = c->ext->wait_mask;
        KeReleaseSpinLock(&c->ext->event_mask_lock, old);
        put32(b, mask);
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_SET_WAIT_MASK:
        if (in < SERIAL_ULONG_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        return ModemSetWaitMask(c->ext, c->irp, get32(b));
    case IOCTL_SERIAL_WAIT_ON_MASK:
        if (c->out_length < SERIAL_ULONG_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        return ModemWaitOnMask(c->ext, c->irp);
    case IOCTL_SERIAL_PURGE:
        if (in < SERIAL_ULONG_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        return purge(c);
    case IOCTL_SERIAL_GET_BAUD_RATE:
        if (!out_ok(c, SERIAL_BAUD_RATE_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        put32(b, s.baud);
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_GET_LINE_CONTROL:
        if (!out_ok(c, SERIAL_LINE_CONTROL_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        b[0] = s.stop_bits;
        b[1] = s.parity;
        b[2] = s.byte_size;
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_GET_CHARS:
        if (!out_ok(c, SERIAL_CHARS_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        b[0] = s.eof_char;
        b[1] = s.error_char;
        b[2] = 0;  // the break character is not kept
        b[3] = s.event_char1;
        b[4] = s.xon_char;
        b[5] = s.xoff_char;
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_SET_CHARS:
        if (in < SERIAL_CHARS_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        s.eof_char = b[0];
        s.error_char = b[1];
        s.event_char1 = b[3];
        s.xon_char = b[4];
        s.xoff_char = b[5];
        return set_state(c, &s, PCS_SET_XON_CHAR | PCS_SET_XOFF_CHAR | PCS_SET_ERROR_CHAR | PCS_SET_EOF_CHAR |
                                    PCS_SET_EVENT_CHAR1);
    case IOCTL_SERIAL_GET_HANDFLOW: {
        if (!out_ok(c, SERIAL_HANDFLOW_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        ULONG hf[4];
        ModemHandflowFromState(&s, c->ext->handflow, hf);
        std::memcpy(b, hf, sizeof hf);
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_SET_HANDFLOW: {
        if (in < SERIAL_HANDFLOW_SIZE)
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        ULONG hf[4];
        std::memcpy(hf, b, sizeof hf);
        std::memcpy(c->ext->handflow, hf, sizeof hf);
        ModemHandflowToState(hf, &s);
        return set_state(c, &s, PCS_SET_HANDSHAKE | PCS_SET_PARITY | PCS_SET_XOFF_LIMIT);
    }
    case IOCTL_SERIAL_GET_MODEMSTATUS: {
        if (!out_ok(c, SERIAL_ULONG_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        uint32_t status = 0;
        if (!port_call(c->port, PORT_GET_MODEM_STATUS, reinterpret_cast<uintptr_t>(&status)))
            return STATUS_INVALID_PARAMETER;
        put32(b, status);
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_GET_COMMSTATUS:
        if (!out_ok(c, SERIAL_STATUS_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        return comm_status(c);
    case IOCTL_SERIAL_GET_PROPERTIES:
        if (!out_ok(c, SERIAL_COMMPROP_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        return op_status(port_call(c->port, PORT_GET_PROPERTIES, reinterpret_cast<uintptr_t>(b)));
    case IOCTL_SERIAL_GET_DTRRTS: {
        if (!out_ok(c, SERIAL_ULONG_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        DteLineState* l = dte_get_line_state(c->port->dte);
        put32(b, (l->dtr.load() ? 1u : 0u) | (l->rts.load() ? 2u : 0u));
        return STATUS_SUCCESS;
    }
    case IOCTL_SERIAL_LSRMST_INSERT:
        if (in < 1)
            return STATUS_BUFFER_TOO_SMALL;
        if (!get_state(c, &s))
            return STATUS_INVALID_PARAMETER;
        s.escape_byte = b[0];
        return set_state(c, &s, PCS_SET_ESCAPE_BYTE);
    case IOCTL_SERIAL_CONFIG_SIZE:
        if (!out_ok(c, SERIAL_ULONG_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        put32(b, 0);
        return STATUS_SUCCESS;
    case IOCTL_SERIAL_GET_STATS:
        if (!out_ok(c, SERIALPERF_STATS_SIZE))
            return STATUS_BUFFER_TOO_SMALL;
        return get_stats(c);
    case IOCTL_SERIAL_CLEAR_STATS:
        return clear_stats(c);
    default:
        return STATUS_NOT_SUPPORTED;  // not ours: passed down by the caller
    }
}

bool is_serial_control(ULONG code)
{
    ULONG fn = (code >> 2) & 0xFFF;
    if ((code & ~(0xFFFu << 2)) != SERIAL_CTL(0))
        return false;
    return (fn >= 1 && fn <= 32) || fn == 35 || fn == 36;
}

}  // namespace

NTSTATUS SerialDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    NTSTATUS status = AcquireRequest(ext, irp);
    if (!NT_SUCCESS(status))
        return status;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (!is_serial_control(code)) {
        ReleaseRequest(ext);
        ReleaseRequest(ext);
        return ModemPassDown(ext, irp);
    }
    irp->IoStatus.Information = 0;
    IoctlContext c{ext, irp, ext->port, static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer),
                   stack->Parameters.DeviceIoControl.InputBufferLength,
                   stack->Parameters.DeviceIoControl.OutputBufferLength};
    if (c.port == nullptr) {
        status = STATUS_INVALID_PARAMETER;
    } else if (c.buffer == nullptr && (c.in_length != 0 || c.out_length != 0)) {
        status = STATUS_INVALID_PARAMETER;
    } else {
        // Controls without data may come without a system buffer; the length checks keep every
        // control that reads or writes data away from this stand-in.
        uint8_t no_buffer[8] = {};
        if (c.buffer == nullptr)
            c.buffer = no_buffer;
        status = serve(&c, code);
    }
    if (status == STATUS_PENDING) {
        ReleaseRequest(ext);
        return STATUS_PENDING;
    }
    if (!NT_SUCCESS(status))
        irp->IoStatus.Information = 0;
    CompleteRequest(ext, irp, status);
    ReleaseRequest(ext);
    return status;
}
