// Connection control's V.8 start octets (this side's menu and the parse of the far end's) and the
// connection log.
#include <cstdio>
#include <cstring>

#include "layer2/corecode/cmd/conn_control.h"

// ---- start octets ----

int conn_build_start_octets(const ConnV8Allowed& a, uint8_t call_function, uint8_t* out)
{
    int n = 0;
    out[n++] = 255;
    out[n++] = 0xE0;
    out[n++] = static_cast<uint8_t>(call_function | 1u);
    uint8_t modes = a.higher_second ? 37 : 5;
    if (a.higher_first)
        modes = static_cast<uint8_t>(modes + 0x40);
    out[n++] = modes;
    uint8_t ext1 = (a.v22bis || a.v22) ? 18 : 16;
    if (a.v32bis || a.v32)
        ext1 = static_cast<uint8_t>(ext1 + 1);
    out[n++] = ext1;
    uint8_t ext2 = a.v21 ? 144 : 16;
    if (a.v23)
        ext2 = static_cast<uint8_t>(ext2 + 4);
    out[n++] = ext2;
    out[n++] = a.higher_second ? 39 : (a.lapm ? 42 : 10);
    if (a.extra)
        out[n++] = 42;
    out[n++] = 13;
    // The information octets (after the sync octet, up to the 13 that ends them) plus 2: the marker and the sync
    // octet. So the block sent ends with the 13; nothing past the octets goes out.
    return n;
}

uint8_t conn_parse_v8_menu(const uint8_t* rx, int count, uint8_t* own, int own_length, bool v32bis_allowed,
                           bool v22bis_allowed, uint8_t a8e_call_function)
{
    uint8_t result = MOD_NONE;
    if (count < 2)
        return result;
    bool pcm_common = false;
    // own[0] is the marker, own[1] the synchronisation octet; the call function, the modulation modes
    // and their two extensions follow. Only octets that exist on this side are narrowed.
    auto own_at = [&](int k) -> uint8_t* { return k < own_length ? &own[k] : nullptr; };
    for (int i = 1; i < count; ++i) {
        const uint8_t octet = rx[i];
        const uint8_t category = octet & 0x1F;
        if (category == 1) {
            uint8_t* cf = own_at(2);
            if (cf != nullptr && (octet & 0xE0) != (*cf & 0xE0))
                *cf = a8e_call_function;
        } else if (category == 5) {
            uint8_t common = octet;
            if (uint8_t* m = own_at(3)) {
                *m = static_cast<uint8_t>(*m & octet);
                common = *m;
            }
            if (common & 0x20)
                pcm_common = true;
            if ((common & 0x40) && result == MOD_NONE)
                result = MOD_V34;
            if (i + 1 < count && (rx[i + 1] & 0x10)) {
                ++i;
                uint8_t ext = rx[i];
                if (uint8_t* e = own_at(4)) {
                    *e = static_cast<uint8_t>(*e & rx[i]);
                    ext = *e;
                }
                if (result == MOD_NONE) {
                    if (ext & 0x80)
                        result = MOD_V27_TER;
                    else if (ext & 0x04)
                        result = MOD_V17;
                    else if (ext & 0x01)
                        result = v32bis_allowed ? MOD_V32BIS : MOD_V32;
                    else if (ext & 0x02)
                        result = v22bis_allowed ? MOD_V22BIS : MOD_V22;
                }
                if (i + 1 < count && (rx[i + 1] & 0x10)) {
                    ++i;
                    uint8_t ext2 = rx[i];
                    if (uint8_t* e = own_at(5)) {
                        *e = static_cast<uint8_t>(*e & rx[i]);
                        ext2 = *e;
                    }
                    if (result == MOD_NONE) {
                        if (ext2 & 0x04)
                            result = MOD_V23_ADX;
                        else if (ext2 & 0x80)
                            result = MOD_V21;
                    }
                }
            }
        } else if (category == 7) {
            if (pcm_common && (octet & 0x40))
                result = MOD_V90;
        }
    }
    return result;
}

// ---- the connection log ----

void connlog_add(ConnectionLog* log, uint32_t time_ms, uint16_t tx_rate, uint16_t rx_rate, const char* text)
{
    const uint32_t w = log->write_index % kConnLogEntries;
    ConnLogEntry& e = log->entry[w];
    e.time_ms = time_ms;
    e.tx_rate = tx_rate;
    e.rx_rate = rx_rate;
    std::strncpy(e.text, text != nullptr ? text : "", kConnLogTextMax);
    e.text[kConnLogTextMax] = 0;
    log->write_index = (w + 1) % kConnLogEntries;
    if (log->write_index == log->read_index % kConnLogEntries)
        log->read_index = (log->read_index + 1) % kConnLogEntries;
}

void connlog_reset(ConnectionLog* log)
{
    log->write_index = 0;
    log->read_index = 0;
}

void connlog_print(const ConnectionLog* log, ConnPrint print, void* ctx)
{
    uint32_t r = log->read_index % kConnLogEntries;
    const uint32_t w = log->write_index % kConnLogEntries;
    if (r == w)
        return;
    uint32_t previous = log->entry[r].time_ms;
    char line[96];
    for (; r != w; r = (r + 1) % kConnLogEntries) {
        const ConnLogEntry& e = log->entry[r];
        const uint32_t diff = e.time_ms - previous;
        previous = e.time_ms;
        char field[16];
        if (diff != 0)
            std::snprintf(field, sizeof field, "%10u", static_cast<unsigned>(diff));
        else if (e.time_ms == 0)
            std::snprintf(field, sizeof field, "%10s", "0");
        else
            std::snprintf(field, sizeof field, "%10s", "");
        print(ctx, "[", 2);
        std::snprintf(line, sizeof line, "%s] %s", field, e.text);
        print(ctx, line, 3);
        if (e.tx_rate != 0 && e.rx_rate != 0) {
            std::snprintf(line, sizeof line, " TX=%u RX=%u", static_cast<unsigned>(e.tx_rate),
                          static_cast<unsigned>(e.rx_rate));
            print(ctx, line, 3);
        }
    }
}
