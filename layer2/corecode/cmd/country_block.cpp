// Reads of the country block. Every table count is limited to the room its table has, so a block loaded from
// the registry with a wild count can never make a reader step outside the 1649 bytes.
#include "layer2/corecode/cmd/country_block.h"

#include <algorithm>
#include <cstring>

uint8_t cb_u8(const CountryBlock& b, std::size_t offset)
{
    return offset < COUNTRY_BLOCK_SIZE ? b.bytes[offset] : 0;
}

uint16_t cb_u16(const CountryBlock& b, std::size_t offset)
{
    return static_cast<uint16_t>(cb_u8(b, offset) | (cb_u8(b, offset + 1) << 8));
}

void cb_put_u8(CountryBlock& b, std::size_t offset, uint8_t v)
{
    if (offset < COUNTRY_BLOCK_SIZE)
        b.bytes[offset] = v;
}

void cb_put_u16(CountryBlock& b, std::size_t offset, uint16_t v)
{
    cb_put_u8(b, offset, static_cast<uint8_t>(v & 0xFF));
    cb_put_u8(b, offset + 1, static_cast<uint8_t>(v >> 8));
}

CountryTablePlace cb_table_place(unsigned number)
{
    static constexpr CountryTablePlace places[11] = {
        {0, 0},       {CB_FLAGS, 7},   {CB_PARAMS, 6}, {CB_VOICE_DTMF_LEVEL, 2}, {0, 87},
        {CB_FILTER, 66}, {CB_TONE, 690}, {CB_DAA, 173},  {CB_BLACKLIST, 73},      {CB_S_LIMITS, 92},
        {CB_RING, 392},
    };
    return number <= 10 ? places[number] : CountryTablePlace{0, 0};
}

bool cb_format_ok(const CountryBlock& b) { return cb_u16(b, 0) == CB_FORMAT; }
bool cb_pulse_allowed(const CountryBlock& b) { return cb_u8(b, CB_PULSE_ALLOWED) == 1; }
bool cb_tone_allowed(const CountryBlock& b) { return cb_u8(b, CB_TONE_ALLOWED) == 1; }
uint16_t cb_dial_tone_wait_ms(const CountryBlock& b) { return cb_u16(b, CB_DIAL_TONE_WAIT); }
uint16_t cb_silence_ms(const CountryBlock& b) { return cb_u16(b, CB_SILENCE_TIME); }
uint16_t cb_cadence_hold_ms(const CountryBlock& b) { return cb_u16(b, CB_CADENCE_HOLD); }

unsigned cb_filter_count(const CountryBlock& b)
{
    return std::min<unsigned>(cb_u16(b, CB_FILTER), CB_FILTER_MAX);
}

bool cb_filter_set(const CountryBlock& b, unsigned index1, uint16_t words[16])
{
    unsigned i = index1 == 0 ? 0 : index1 - 1;
    if (i >= cb_filter_count(b))
        return false;
    std::size_t at = CB_FILTER_SETS + i * CB_FILTER_SET_SIZE;
    for (unsigned k = 0; k < 16; ++k)
        words[k] = cb_u16(b, at + 2 * k);
    return true;
}

CountryDtmf cb_dtmf(const CountryBlock& b)
{
    return CountryDtmf{cb_u8(b, CB_DTMF_ON), cb_u8(b, CB_DTMF_OFF), cb_u8(b, CB_DTMF_LEVEL_HIGH),
                       cb_u8(b, CB_DTMF_LEVEL_LOW)};
}

bool cb_signal(const CountryBlock& b, CountrySignalKind kind, CountrySignal* out)
{
    if (kind >= CS_COUNT || out == nullptr)
        return false;
    std::size_t at = CB_SIGNALS + kind * CB_SIGNAL_SIZE;
    out->f1 = cb_u16(b, at);
    out->f2 = cb_u16(b, at + 2);
    out->modulated = cb_u8(b, at + 4) & 1;
    out->level = cb_u8(b, at + 5);
    out->pairs = std::min<uint8_t>(cb_u8(b, at + 6), 4);
    for (unsigned k = 0; k < 4; ++k) {
        out->on_ms[k] = cb_u16(b, at + 8 + 4 * k);
        out->off_ms[k] = cb_u16(b, at + 10 + 4 * k);
    }
    return out->f1 != 0;
}

unsigned cb_tone_def_count(const CountryBlock& b)
{
    return std::min<unsigned>(cb_u16(b, CB_TONE), CB_TONE_DEF_MAX);
}

static CountryCadenceElement read_element(const CountryBlock& b, std::size_t at)
{
    return CountryCadenceElement{cb_u8(b, at), cb_u16(b, at + 1), cb_u16(b, at + 3)};
}

bool cb_tone_def(const CountryBlock& b, unsigned index, CountryToneDef* out)
{
    if (index >= cb_tone_def_count(b) || out == nullptr)
        return false;
    std::size_t at = CB_TONE_DEFS + index * CB_TONE_DEF_SIZE;
    out->tone_id = cb_u8(b, at);
    out->filter = cb_u8(b, at + 1);
    out->level_a = cb_u16(b, at + 2);
    out->level_b = cb_u16(b, at + 4);
    out->first_time_ms = cb_u16(b, at + 6);
    out->second_time_ms = cb_u16(b, at + 8);
    out->first_count = std::min<uint8_t>(cb_u8(b, at + 10), 4);
    out->second_count = std::min<uint8_t>(cb_u8(b, at + 11), 4);
    for (unsigned k = 0; k < 4; ++k) {
        out->first[k] = read_element(b, at + 12 + 5 * k);
        out->second[k] = read_element(b, at + 32 + 5 * k);
    }
    return true;
}

unsigned cb_profile_count(const CountryBlock& b)
{
    return std::min<unsigned>(cb_u16(b, CB_PROFILE_COUNT), CB_PROFILE_MAX);
}

std::size_t cb_profile_offset(unsigned index)
{
    return CB_PROFILES + index * CB_PROFILE_SIZE;
}

bool cb_line_profile(const CountryBlock& b, unsigned index, CountryLineProfile* out)
{
    if (index >= cb_profile_count(b) || out == nullptr)
        return false;
    std::size_t at = cb_profile_offset(index);
    out->id = cb_u8(b, at);
    for (unsigned k = 0; k < 24; ++k)
        out->name[k] = static_cast<char>(cb_u8(b, at + 4 + k));
    out->name[24] = 0;
    out->hook_mask = cb_u16(b, at + 28);
    out->hook_value = cb_u16(b, at + 30);
    out->pulse_make_ms = cb_u16(b, at + 32);
    out->pulse_break_ms = cb_u16(b, at + 34);
    out->interdigit_ms = cb_u16(b, at + 36);
    out->off_hook_wait_ms = cb_u16(b, at + 38);
    out->on_hook_wait_ms = cb_u16(b, at + 40);
    out->end_dial_wait_ms = cb_u16(b, at + 42);
    for (unsigned k = 0; k < 3; ++k)
        out->flash_ms[k] = cb_u16(b, at + 44 + 2 * k);
    out->dsp_words[0] = cb_u16(b, at + 50);
    out->dsp_words[1] = cb_u16(b, at + 52);
    return true;
}

CountryRestrictions cb_restrictions(const CountryBlock& b)
{
    CountryRestrictions r{};
    r.max_attempts = cb_u8(b, CB_BLACKLIST);
    r.max_failure_index = cb_u8(b, CB_BLACKLIST + 1);
    r.flags = cb_u8(b, CB_BLACKLIST + 2);
    r.restriction_s = cb_u16(b, CB_BLACKLIST + 4);
    for (unsigned k = 0; k < CB_BL_DELAY_MAX; ++k)
        r.delay_s[k] = cb_u16(b, CB_BL_DELAYS + 2 * k);
    return r;
}

bool cb_has_restrictions(const CountryBlock& b)
{
    CountryRestrictions r = cb_restrictions(b);
    return r.max_attempts != 0 && (r.flags & 2) == 0;
}

unsigned cb_s_limit_count(const CountryBlock& b)
{
    return std::min<unsigned>(cb_u16(b, CB_S_LIMITS), CB_S_LIMIT_MAX);
}

bool cb_s_limit(const CountryBlock& b, unsigned index, CountrySLimit* out)
{
    if (index >= cb_s_limit_count(b) || out == nullptr)
        return false;
    std::size_t at = CB_S_LIMITS + 2 + index * 6;
    *out = CountrySLimit{cb_u8(b, at), cb_u8(b, at + 1), cb_u8(b, at + 2),
                         cb_u8(b, at + 3), cb_u8(b, at + 4), cb_u8(b, at + 5)};
    return true;
}

unsigned cb_cadence_count(const CountryBlock& b)
{
    return std::min<unsigned>(cb_u16(b, CB_RING), CB_CADENCE_MAX);
}

static CountrySegment read_segment(const CountryBlock& b, std::size_t at)
{
    return CountrySegment{cb_u16(b, at), cb_u16(b, at + 2), cb_u16(b, at + 4), cb_u16(b, at + 6),
                          cb_u8(b, at + 8)};
}

bool cb_cadence(const CountryBlock& b, unsigned index, CountryCadence* out)
{
    if (index >= cb_cadence_count(b) || out == nullptr)
        return false;
    std::size_t at = CB_RING + 2 + index * CB_CADENCE_SIZE;
    out->first_count = std::min<uint8_t>(cb_u8(b, at), CB_CADENCE_SEGMENTS);
    out->second_count = std::min<uint8_t>(cb_u8(b, at + 1), CB_CADENCE_SEGMENTS);
    for (unsigned k = 0; k < CB_CADENCE_SEGMENTS; ++k) {
        out->first[k] = read_segment(b, at + 2 + 9 * k);
        out->second[k] = read_segment(b, at + 65 + 9 * k);
    }
    return true;
}

unsigned cb_cw_count(const CountryBlock& b)
{
    return std::min<unsigned>(cb_u16(b, CB_CW), CB_CW_MAX);
}

bool cb_cw_pattern(const CountryBlock& b, unsigned index, CountryCwPattern* out)
{
    if (index >= cb_cw_count(b) || out == nullptr)
        return false;
    std::size_t at = CB_CW + index * CB_CW_ENTRY_SIZE;
    out->kind = cb_u8(b, at + 2);
    out->count = std::min<uint8_t>(cb_u8(b, at + 3), 2);
    out->flags = cb_u8(b, at + 4);
    for (unsigned k = 0; k < 2; ++k) {
        out->min_ms[k] = cb_u16(b, at + 6 + 4 * k);
        out->max_ms[k] = cb_u16(b, at + 8 + 4 * k);
    }
    return true;
}
