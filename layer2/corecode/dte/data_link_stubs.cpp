#include "layer2/corecode/dte/data_link_stubs.h"

#include "layer2/corecode/dte/dte_context.h"

int ec_hook_false() { return 0; }

// The +DS44=? ranges: (0-3),(0,1),(0),(256-65535),(256-65535),(32-255),(32-255),(512-65535),(512-65535).
int v44_check_tx_codewords(uint32_t value) { return value >= 256 && value <= 65535; }
int v44_check_rx_codewords(uint32_t value) { return value >= 256 && value <= 65535; }
int v44_check_tx_history(uint32_t value) { return value >= 512 && value <= 65535; }
int v44_check_rx_history(uint32_t value) { return value >= 512 && value <= 65535; }

void core_error_report(const char* source, int line)
{
    (void)source;
    (void)line;
}

void trace_data(const uint8_t* buffer, uint32_t length, int direction)
{
    (void)buffer;
    (void)length;
    (void)direction;
}

void trace_hook(uint32_t value) { (void)value; }
void* stub_return_null() { return nullptr; }
