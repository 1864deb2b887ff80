// Caller-ID messages: collection, checksum, the on-hook reports and the call-waiting parse and report.
#include "layer2/corecode/cmd/caller_id.h"

#include <cstring>

#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/country_block.h"

namespace {

// Parameter types of the multiple data message format.
constexpr uint8_t kParamDateTime = 1;
constexpr uint8_t kParamNumber = 2;
constexpr uint8_t kParamNoNumber = 4;  // reason for an absent number
constexpr uint8_t kParamName = 7;
constexpr uint8_t kParamNoName = 8;    // reason for an absent name
constexpr uint8_t kDateTimeLength = 8;

// Field limits of the on-hook report: a longer parameter is passed over.
constexpr size_t kIdleNumberMax = 20;
constexpr size_t kIdleNameMax = 50;
// The single data message format: date at 2, time at 6, number from 10.
constexpr size_t kSingleDate = 2;
constexpr size_t kSingleTime = 6;
constexpr size_t kSingleNumber = 10;

constexpr char kDle = 0x10;

// Bytes of the message that lie inside what was received: the declared message (from byte 2) or less.
size_t message_end(const CidMessage& m)
{
    const size_t declared = 2u + (m.count >= 2 ? m.bytes[1] : 0u);
    return declared < m.count ? declared : m.count;
}

// `n` bytes from `from` as a zero-terminated text of at most `size` - 1 characters.
void copy_text(char* dst, size_t size, const uint8_t* from, size_t n)
{
    if (n >= size)
        n = size - 1;
    std::memcpy(dst, from, n);
    dst[n] = 0;
}

bool absence_letter(uint8_t c)
{
    return c == 'O' || c == 'P';
}

struct Line {
    const CidPrinter& out;
    void label_value(const char* label, const uint8_t* data, size_t n) const
    {
        char text[kCidMessageMax + 1];
        copy_text(text, sizeof text, data, n);
        out.print(out.ctx, label, PRINT_TEXT);
        out.print(out.ctx, text, PRINT_TEXT_END);
    }
};

// One parameter {type, length, data} of a message received on hook.
void report_parameter(const Line& line, uint8_t type, const uint8_t* data, size_t n)
{
    switch (type) {
    case kParamDateTime:
        if (n == kDateTimeLength) {
            line.label_value("DATE = ", data, 4);
            line.label_value("TIME = ", data + 4, 4);
        }
        return;
    case kParamNumber:
        if (n <= kIdleNumberMax)
            line.label_value("NMBR = ", data, n);
        return;
    case kParamNoNumber:
        if (n == 1 && absence_letter(data[0]))
            line.label_value("NMBR = ", data, 1);
        return;
    case kParamName:
        if (n <= kIdleNameMax)
            line.label_value("NAME = ", data, n);
        return;
    case kParamNoName:
        if (n == 1 && absence_letter(data[0]))
            line.label_value("NAME = ", data, 1);
        return;
    default:
        line.label_value("MESG = ", data, n);
        return;
    }
}

void report_multiple(const CidMessage& m, const Line& line)
{
    const size_t end = message_end(m);
    size_t at = 2;
    // A parameter whose length runs past the message ends the walk.
    while (at + 2 <= end && at + 2u + m.bytes[at + 1] <= end) {
        const size_t n = m.bytes[at + 1];
        report_parameter(line, m.bytes[at], m.bytes + at + 2, n);
        at += 2 + n;
    }
}

void report_single(const CidMessage& m, const Line& line)
{
    const size_t end = message_end(m);
    if (end < kSingleNumber)
        return;  // no room for the date and time
    line.label_value("DATE = ", m.bytes + kSingleDate, 4);
    line.label_value("TIME = ", m.bytes + kSingleTime, 4);
    if (end > kSingleNumber && absence_letter(m.bytes[kSingleNumber])) {
        line.label_value("NMBR = ", m.bytes + kSingleNumber, 1);
        return;
    }
    // The length byte counts the date and time before the number (a smaller length leaves no number).
    const size_t n = end - kSingleNumber;
    line.label_value("NMBR = ", m.bytes + kSingleNumber, n < kIdleNumberMax ? n : kIdleNumberMax);
}

void report_hex(const CidMessage& m, const CidPrinter& out)
{
    out.print(out.ctx, "MESG = ", PRINT_END_TEXT);
    // Type, length, message and checksum, as far as they were received.
    size_t n = m.count >= 2 ? 3u + m.bytes[1] : m.count;
    if (n > m.count)
        n = m.count;
    char text[2 * kCidMessageMax + 1];
    for (size_t i = 0; i < n; ++i)
        at_hex2_text(text + 2 * i, m.bytes[i]);
    text[2 * n] = 0;
    out.print(out.ctx, text, PRINT_TEXT_END);
}

// Copies a call-waiting parameter into its field; false when it is over the field's limit.
bool take_field(char* field, size_t size, const uint8_t* data, size_t n)
{
    if (n > size - 1)
        return false;
    copy_text(field, size, data, n);
    return true;
}

}  // namespace

void cid_message_clear(CidMessage* m)
{
    std::memset(m, 0, sizeof *m);
}

bool cid_message_put(CidMessage* m, uint8_t byte)
{
    if (m->complete)
        return true;
    m->bytes[m->count++] = byte;
    const size_t want = m->count >= 2 ? 3u + m->bytes[1] : kCidMessageMax;
    if (m->count >= want || m->count >= kCidMessageMax)
        m->complete = 1;
    return m->complete != 0;
}

bool cid_checksum_ok(const CidMessage& m)
{
    if (m.count < 3)
        return false;
    const size_t n = 3u + m.bytes[1];
    if (n > kCidMessageMax || n > m.count)
        return false;
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += m.bytes[i];
    return (sum & 0xFF) == 0;
}

void cid_report_idle(const CidMessage& m, uint8_t mode, bool voice, const CidPrinter& out)
{
    if (mode != CID_FORMATTED && mode != CID_UNFORMATTED)
        return;
    if (mode == CID_FORMATTED && !cid_checksum_ok(m))
        return;
    if (m.count == 0)
        return;
    const uint8_t type = m.bytes[0];
    if (type != kCidTypeMultiple && type != kCidTypeSingle)
        return;
    const char dle_x[] = {kDle, 'X', 0};
    const char dle_end[] = {kDle, '.', 0};
    if (voice)
        out.print(out.ctx, dle_x, PRINT_END_TEXT);
    const Line line{out};
    if (mode == CID_UNFORMATTED)
        report_hex(m, out);
    else if (type == kCidTypeMultiple)
        report_multiple(m, line);
    else
        report_single(m, line);
    if (voice)
        out.print(out.ctx, dle_end, PRINT_TEXT_END);
}

uint8_t cid_parse_call_waiting(const CidMessage& m, uint8_t mode, CidCallWaiting* cw)
{
    constexpr uint8_t kRefused = 4;
    if (mode != CID_FORMATTED || !cid_checksum_ok(m))
        return kRefused;
    const size_t end = message_end(m);
    if (m.bytes[0] == kCidTypeSingle) {
        if (end < kSingleNumber)
            return kRefused;
        copy_text(cw->date, sizeof cw->date, m.bytes + kSingleDate, 4);
        copy_text(cw->time, sizeof cw->time, m.bytes + kSingleTime, 4);
        if (end > kSingleNumber && absence_letter(m.bytes[kSingleNumber]))
            copy_text(cw->number, sizeof cw->number, m.bytes + kSingleNumber, 1);
        else
            copy_text(cw->number, sizeof cw->number, m.bytes + kSingleNumber, end - kSingleNumber);
        cw->fresh = 1;
        return 0;
    }
    if (m.bytes[0] != kCidTypeMultiple)
        return kRefused;
    size_t at = 2;
    while (at + 2 <= end && at + 2u + m.bytes[at + 1] <= end) {
        const uint8_t type = m.bytes[at];
        const size_t n = m.bytes[at + 1];
        const uint8_t* data = m.bytes + at + 2;
        bool kept = true;
        if (type == kParamDateTime) {
            kept = n == kDateTimeLength;
            if (kept) {
                copy_text(cw->date, sizeof cw->date, data, 4);
                copy_text(cw->time, sizeof cw->time, data + 4, 4);
            }
        } else if (type == kParamNumber || type == kParamNoNumber) {
            kept = take_field(cw->number, sizeof cw->number, data, n);
        } else if (type == kParamName) {
            kept = take_field(cw->name, sizeof cw->name, data, n);
        } else {
            // Any other parameter is the message text, and the last one read.
            if (take_field(cw->message, sizeof cw->message, data, n))
                cw->fresh = 1;
            return 0;
        }
        if (!kept)
            break;
        cw->fresh = 1;
        at += 2 + n;
    }
    return 0;
}

void cid_report(CidCallWaiting* cw, uint8_t mode, const CidPrinter& out)
{
    if (cw->fresh && mode == CID_FORMATTED) {
        const struct {
            const char* label;
            const char* value;
            bool always;
        } lines[] = {
            {"DATE=", cw->date, true},          {"\r\nTIME=", cw->time, true}, {"\r\nNMBR=", cw->number, true},
            {"\r\nNAME=", cw->name, false},     {"\r\nMESG=", cw->message, false},
        };
        for (const auto& l : lines) {
            if (!l.always && l.value[0] == 0)
                continue;
            out.print(out.ctx, l.label, PRINT_TEXT);
            out.print(out.ctx, l.value, PRINT_TEXT);
        }
    }
    std::memset(cw, 0, sizeof *cw);
}

uint8_t cw_tone_match(const CountryBlock& block, uint8_t kind, const uint8_t* intervals, uint8_t count)
{
    const unsigned entries = cb_cw_count(block);
    for (unsigned e = 0; e < entries; ++e) {
        CountryCwPattern p{};
        if (!cb_cw_pattern(block, e, &p) || p.kind != kind || p.count != count)
            continue;
        bool inside = true;
        for (unsigned k = 0; k < count && inside; ++k) {
            const unsigned ms = intervals[k] * 10u;
            inside = ms >= p.min_ms[k] && ms <= p.max_ms[k];
        }
        if (inside)
            return (p.flags & 1) != 0 ? 1 : 2;
    }
    return 0;
}
