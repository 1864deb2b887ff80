#include "layer2/corecode/dce/loop_test.h"

#include "layer2/corecode/dce/line_block.h"

namespace {

constexpr uint16_t kBatch = 64;  // bytes moved under one take of a ring's lock

}  // namespace

uint32_t loop_digital_poll(LineBlock* lb)
{
    uint32_t moved = 0;
    if (lb == nullptr)
        return 0;
    for (;;) {
        uint16_t room = lb_tx_free(lb);
        if (room > kBatch)
            room = kBatch;
        if (room == 0 || lb_rx_count(lb) == 0)
            return moved;
        uint8_t bytes[kBatch];
        const uint16_t n = lb_rx_take(lb, bytes, room);
        if (n == 0)
            return moved;
        lb_tx_write(lb, bytes, n);  // room was checked: every byte fits
        moved += n;
    }
}

void selftest_reset(SelfTestState* st) { *st = SelfTestState{}; }

uint16_t selftest_send(SelfTestState* st, LineBlock* lb)
{
    if (lb == nullptr)
        return 0;
    const uint16_t waiting = lb_tx_count(lb);
    uint16_t room = waiting < kSelfTestWindow ? static_cast<uint16_t>(kSelfTestWindow - waiting) : 0;
    if (room < kSelfTestMinRoom)
        return 0;
    if (room > kSelfTestBurst)
        room = kSelfTestBurst;
    uint8_t pattern[kSelfTestBurst];
    for (uint16_t i = 0; i < room; ++i)
        pattern[i] = kSelfTestPattern;
    const uint16_t n = lb_tx_write(lb, pattern, room);
    st->sent += n;
    return n;
}

void selftest_count(SelfTestState* st, const uint8_t* bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        if ((bytes[i] & 0x7F) != kSelfTestPattern && st->errors != 255)
            ++st->errors;
    }
    if (count != 0)
        st->received = 1;
    st->checked += count;
}

uint32_t selftest_check(SelfTestState* st, LineBlock* lb)
{
    uint32_t total = 0;
    if (lb == nullptr)
        return 0;
    for (;;) {
        uint8_t bytes[kBatch];
        const uint16_t n = lb_rx_take(lb, bytes, kBatch);
        if (n == 0)
            return total;
        selftest_count(st, bytes, n);
        total += n;
    }
}
