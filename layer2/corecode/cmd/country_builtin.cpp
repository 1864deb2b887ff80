// Builds the built-in country list and blocks from the readable country descriptions, once, by one rule:
//  - the detector filter covers the band of the country's call-progress tones: two resonator stages at the
//    lowest and highest tone frequency (spread to at least 40 Hz apart), each with a bandwidth of the band
//    plus 80 Hz (pole radius 1 - pi * bandwidth / 9600) and normalised to unit gain at its own centre; coefficients in the data pump's section format (Q14: a stored c stands
//    for c / 16384), numerator (1 - z^-2) so the filter blocks DC;
//  - the data pump normalises the detector input, so the filter tells a tone from noise only by the share of
//    the input it passes: on the pump's energy scale a progress tone in the band settles near 1450-2500,
//    white or speech-band noise of any level near 600-750 with peaks below 950. The on threshold (1100) lies
//    above the noise peaks and the off threshold (850) above the noise mean, so noise never holds the flag
//    on, and both stay low enough that a tone's flag rises within a block and the shortest cadences keep
//    their lengths;
//  - tone detector definitions take the published on/off times with a tolerance of 20 % (at least 50 ms);
//    a continuous tone is one open element (maximum 65535) that matches once the tone has lasted 1 s;
//  - the ring cadence takes the published ringing cadence: the first list accepts a burst of any length
//    from 200 ms (the first ring may be caught half-way), the later list the off time and the full burst.
#include "layer2/corecode/cmd/country_builtin.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "layer2/corecode/cmd/country_specs.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSampleRate = 9600.0;

uint16_t q14(double v)
{
    long r = std::lround(v * 16384.0);
    r = std::clamp(r, -32768L, 32767L);
    return static_cast<uint16_t>(static_cast<int16_t>(r));
}

// One resonator stage at f: coefficients {c0 (x2), c1 (x1), c2 (x), c3 (y2), c4 (y1)}.
void resonator(double f, double bandwidth, uint16_t out[5])
{
    const double r = 1.0 - kPi * bandwidth / kSampleRate;
    const double w = 2.0 * kPi * f / kSampleRate;
    const double a1 = 2.0 * r * std::cos(w);
    const double a2 = -r * r;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> h = (1.0 - z1 * z1) / (1.0 - a1 * z1 - a2 * z1 * z1);
    const double g = 1.0 / std::abs(h);
    out[0] = q14(-g);
    out[1] = 0;
    out[2] = q14(g);
    out[3] = q14(a2);
    out[4] = q14(a1);
}

void put_signal(CountryBlock& b, std::size_t at, const CountrySignalSpec& s)
{
    cb_put_u16(b, at, s.f1);
    cb_put_u16(b, at + 2, s.f2);
    cb_put_u8(b, at + 4, s.modulated);
    cb_put_u8(b, at + 5, s.level);
    cb_put_u8(b, at + 6, s.pairs);
    for (unsigned k = 0; k < 8; ++k)
        cb_put_u16(b, at + 8 + 2 * k, s.on_off[k]);
}

// Published time +/- 20 %, at least +/- 50 ms.
uint16_t lo_bound(uint16_t ms)
{
    unsigned t = std::max<unsigned>(ms / 5u, 50u);
    return static_cast<uint16_t>(ms > t ? ms - t : 0);
}
uint16_t hi_bound(uint16_t ms)
{
    unsigned t = std::max<unsigned>(ms / 5u, 50u);
    return static_cast<uint16_t>(std::min<unsigned>(ms + t, 65534u));
}

void put_element(CountryBlock& b, std::size_t at, uint8_t on, uint16_t lo, uint16_t hi)
{
    cb_put_u8(b, at, on);
    cb_put_u16(b, at + 1, lo);
    cb_put_u16(b, at + 3, hi);
}

// A detector definition for one signal; `repeat` fills the second list with the cycle again (busy and
// congestion need two cycles), otherwise the second list is empty.
void put_tone_def(CountryBlock& b, unsigned index, uint8_t tone_id, const CountrySignalSpec& s, bool repeat)
{
    std::size_t at = CB_TONE_DEFS + index * CB_TONE_DEF_SIZE;
    cb_put_u8(b, at, tone_id);
    cb_put_u8(b, at + 1, 1);
    cb_put_u16(b, at + 2, 40);
    cb_put_u16(b, at + 4, 45);
    cb_put_u16(b, at + 6, 0);
    cb_put_u16(b, at + 8, 0);
    if (s.pairs == 0) {
        cb_put_u8(b, at + 10, 1);
        cb_put_u8(b, at + 11, 0);
        put_element(b, at + 12, 1, 1000, 65535);
        return;
    }
    unsigned n = std::min<unsigned>(s.pairs * 2u, 4);
    cb_put_u8(b, at + 10, static_cast<uint8_t>(n));
    cb_put_u8(b, at + 11, static_cast<uint8_t>(repeat ? n : 0));
    for (unsigned k = 0; k < n; ++k) {
        uint8_t on = (k % 2) == 0 ? 1 : 0;
        uint16_t ms = s.on_off[k];
        put_element(b, at + 12 + 5 * k, on, lo_bound(ms), hi_bound(ms));
        if (repeat)
            put_element(b, at + 32 + 5 * k, on, lo_bound(ms), hi_bound(ms));
    }
}

void put_segment(CountryBlock& b, std::size_t at, bool on, uint16_t lo, uint16_t hi, uint8_t flags)
{
    cb_put_u16(b, at, on ? 1 : 0);
    cb_put_u16(b, at + 2, on ? 65535 : 0);
    cb_put_u16(b, at + 4, lo);
    cb_put_u16(b, at + 6, hi);
    cb_put_u8(b, at + 8, flags);
}

void put_ring(CountryBlock& b, const CountrySignalSpec& ring)
{
    cb_put_u16(b, CB_RING, 1);
    std::size_t at = CB_RING + 2;
    // First evaluation after a reset: the bursts of one ring; the last burst completes the ring and may be
    // caught part-way, so its lower bound is 200 ms.
    unsigned pairs = std::max<unsigned>(ring.pairs, 1);
    unsigned n1 = 0;
    for (unsigned p = 0; p < pairs && n1 < CB_CADENCE_SEGMENTS; ++p) {
        bool last = p + 1 == pairs;
        uint16_t on = ring.on_off[2 * p];
        put_segment(b, at + 2 + 9 * n1++, true, last ? 200 : lo_bound(on), hi_bound(on), last ? 1 : 0);
        if (!last && n1 < CB_CADENCE_SEGMENTS) {
            uint16_t off = ring.on_off[2 * p + 1];
            put_segment(b, at + 2 + 9 * n1++, false, lo_bound(off), hi_bound(off), 0);
        }
    }
    // Later evaluations: the long pause, then the bursts of the next ring.
    unsigned n2 = 0;
    uint16_t pause = ring.on_off[2 * (pairs - 1) + 1];
    put_segment(b, at + 65 + 9 * n2++, false, lo_bound(pause), hi_bound(pause), 0);
    for (unsigned p = 0; p < pairs && n2 < CB_CADENCE_SEGMENTS; ++p) {
        bool last = p + 1 == pairs;
        uint16_t on = ring.on_off[2 * p];
        put_segment(b, at + 65 + 9 * n2++, true, lo_bound(on), hi_bound(on), last ? 1 : 0);
        if (!last && n2 < CB_CADENCE_SEGMENTS) {
            uint16_t off = ring.on_off[2 * p + 1];
            put_segment(b, at + 65 + 9 * n2++, false, lo_bound(off), hi_bound(off), 0);
        }
    }
    cb_put_u8(b, at, static_cast<uint8_t>(n1));
    cb_put_u8(b, at + 1, static_cast<uint8_t>(n2));
}

void build_block(const CountrySpec& c, CountryBlock& b)
{
    std::memset(b.bytes, 0, sizeof b.bytes);
    cb_put_u16(b, 0, CB_FORMAT);
    cb_put_u8(b, CB_PULSE_ALLOWED, c.pulse_allowed);
    cb_put_u8(b, CB_TONE_ALLOWED, c.tone_allowed);
    cb_put_u16(b, CB_DIAL_TONE_WAIT, c.dial_tone_wait_ms);
    cb_put_u16(b, CB_SILENCE_TIME, c.silence_ms);
    // The ring detector holds its state across the longest pause of the ringing cadence, plus a second.
    uint16_t longest_off = 0;
    for (unsigned k = 1; k < 8; k += 2)
        longest_off = std::max(longest_off, c.ringing.on_off[k]);
    cb_put_u16(b, CB_CADENCE_HOLD, static_cast<uint16_t>(longest_off + longest_off / 5 + 1000));
    cb_put_u8(b, CB_VOICE_DTMF_LEVEL, static_cast<uint8_t>(c.dtmf_level_high / 10));
    cb_put_u8(b, CB_VOICE_DTMF_LEVEL + 1, static_cast<uint8_t>(c.dtmf_level_low / 10));

    // Detector filter set 1: the call-progress band.
    const CountrySignalSpec* tones[4] = {&c.dial, &c.busy, &c.congestion, &c.ringback};
    unsigned lo = 65535, hi = 0;
    for (const CountrySignalSpec* s : tones) {
        lo = std::min<unsigned>(lo, s->f1);
        hi = std::max<unsigned>(hi, s->f1);
        if (s->f2 != 0 && !s->modulated) {
            lo = std::min<unsigned>(lo, s->f2);
            hi = std::max<unsigned>(hi, s->f2);
        }
    }
    if (hi - lo < 40) {
        unsigned mid = (lo + hi) / 2;
        lo = mid - 20;
        hi = mid + 20;
    }
    cb_put_u16(b, CB_FILTER, 1);
    uint16_t words[16] = {};
    words[0] = static_cast<uint16_t>(lo);
    words[1] = static_cast<uint16_t>(hi);
    resonator(lo, (hi - lo) + 80.0, words + 2);
    resonator(hi, (hi - lo) + 80.0, words + 7);
    words[12] = 255;     // energy gain
    words[13] = 0x7F00;  // energy leak
    words[14] = 0x44C0;  // on threshold (1100 after the pump's shift by 4)
    words[15] = 0x3520;  // off threshold (850)
    for (unsigned k = 0; k < 16; ++k)
        cb_put_u16(b, CB_FILTER_SETS + 2 * k, words[k]);

    // TONE table.
    cb_put_u16(b, CB_TONE, 4);
    cb_put_u8(b, CB_DTMF_ON, c.dtmf_on_ms);
    cb_put_u8(b, CB_DTMF_OFF, c.dtmf_off_ms);
    cb_put_u8(b, CB_DTMF_LEVEL_HIGH, c.dtmf_level_high);
    cb_put_u8(b, CB_DTMF_LEVEL_LOW, c.dtmf_level_low);
    const CountrySignalSpec* signals[CS_COUNT] = {&c.dial, &c.busy, &c.congestion, &c.ringback, &c.ringing};
    for (unsigned k = 0; k < CS_COUNT; ++k)
        put_signal(b, CB_SIGNALS + k * CB_SIGNAL_SIZE, *signals[k]);
    put_tone_def(b, 0, 1, c.dial, false);
    put_tone_def(b, 1, 3, c.busy, true);
    put_tone_def(b, 2, 15, c.congestion, true);
    put_tone_def(b, 3, 5, c.ringback, false);

    // DAA table: one line-interface profile. The hook relay is register 242 bit 2, active low: the inverted
    // pin reads 1 when the line is off hook.
    cb_put_u16(b, CB_PROFILE_COUNT, 1);
    std::size_t p = cb_profile_offset(0);
    cb_put_u8(b, p, 0);
    for (unsigned k = 0; k < 24 && c.name[k] != 0; ++k)
        cb_put_u8(b, p + 4 + k, static_cast<uint8_t>(c.name[k]));
    cb_put_u16(b, p + 28, 0x0004);
    cb_put_u16(b, p + 30, 0x0004);
    cb_put_u16(b, p + 32, c.pulse_make_ms);
    cb_put_u16(b, p + 34, c.pulse_break_ms);
    cb_put_u16(b, p + 36, c.interdigit_ms);
    cb_put_u16(b, p + 38, 500);
    cb_put_u16(b, p + 40, 1500);
    cb_put_u16(b, p + 42, 100);
    cb_put_u16(b, p + 44, c.flash_ms);
    cb_put_u16(b, p + 46, 100);
    cb_put_u16(b, p + 48, 600);

    // Black-listing parameters.
    cb_put_u8(b, CB_BLACKLIST, c.bl_attempts);
    cb_put_u8(b, CB_BLACKLIST + 1, c.bl_max_index);
    cb_put_u8(b, CB_BLACKLIST + 2, c.bl_flags);
    cb_put_u16(b, CB_BLACKLIST + 4, c.bl_restriction_s);
    for (unsigned k = 0; k < 4; ++k)
        cb_put_u16(b, CB_BL_DELAYS + 2 * k, c.bl_delays[k]);
    for (unsigned k = 4; k < CB_BL_DELAY_MAX; ++k)
        cb_put_u16(b, CB_BL_DELAYS + 2 * k, c.bl_delays[3]);

    // S-register limits.
    cb_put_u16(b, CB_S_LIMITS, c.s_count);
    for (unsigned k = 0; k < CB_S_LIMIT_MAX; ++k)
        for (unsigned j = 0; j < 6; ++j)
            cb_put_u8(b, CB_S_LIMITS + 2 + 6 * k + j, k < c.s_count ? c.s_limits[k][j] : (j == 0 ? 255 : 0));

    put_ring(b, c.ringing);

    // Call-waiting patterns.
    cb_put_u16(b, CB_CW, c.cw_count);
    for (unsigned k = 0; k < c.cw_count; ++k) {
        std::size_t at = CB_CW + k * CB_CW_ENTRY_SIZE;
        const CountryCwSpec& w = c.cw[k];
        cb_put_u8(b, at + 2, w.kind);
        cb_put_u8(b, at + 3, w.count);
        cb_put_u8(b, at + 4, w.flags);
        for (unsigned j = 0; j < 4; ++j)
            cb_put_u16(b, at + 6 + 2 * j, w.bounds[j]);
    }
}

struct BuiltIn {
    CountryList list;
    CountryBlock blocks[COUNTRY_BUILTIN_BLOCKS];
    BuiltIn()
    {
        const CountrySpec* specs = country_specs();
        for (unsigned i = 0; i < COUNTRY_BUILTIN_BLOCKS; ++i)
            build_block(specs[i], blocks[i]);
        std::memset(list.bytes, 0, sizeof list.bytes);
        unsigned n = 0;
        auto add = [&](uint16_t code, uint8_t t35, uint8_t block, const char* iso) {
            uint8_t* e = list.bytes + 4 + n * COUNTRY_ENTRY_SIZE;
            e[0] = static_cast<uint8_t>(code & 0xFF);
            e[1] = static_cast<uint8_t>(code >> 8);
            e[2] = t35;
            e[3] = block;
            std::memcpy(e + 4, iso, 3);
            e[7] = 0;
            ++n;
        };
        for (unsigned i = 0; i < COUNTRY_BUILTIN_BLOCKS; ++i)
            add(specs[i].dial_code, specs[i].t35, static_cast<uint8_t>(i), specs[i].iso);
        add(1, 0x20, 0, "CAN");  // Canada shares the North American numbering plan and tones
        list.bytes[0] = 1;
        list.bytes[1] = 0;
        list.bytes[2] = static_cast<uint8_t>(n);
        list.bytes[3] = 0;
    }
};

const BuiltIn& builtin()
{
    static const BuiltIn data;
    return data;
}

}  // namespace

uint16_t country_list_version(const CountryList& l)
{
    return static_cast<uint16_t>(l.bytes[0] | (l.bytes[1] << 8));
}

unsigned country_list_count(const CountryList& l)
{
    return static_cast<unsigned>(l.bytes[2] | (l.bytes[3] << 8));
}

bool country_list_valid(const CountryList& l)
{
    unsigned n = country_list_count(l);
    return country_list_version(l) == 1 && n >= 1 && n <= COUNTRY_LIST_MAX;
}

bool country_list_entry(const CountryList& l, unsigned index, CountryListEntry* out)
{
    if (out == nullptr || index >= std::min<unsigned>(country_list_count(l), COUNTRY_LIST_MAX))
        return false;
    const uint8_t* e = l.bytes + 4 + index * COUNTRY_ENTRY_SIZE;
    out->dial_code = static_cast<uint16_t>(e[0] | (e[1] << 8));
    out->t35 = e[2];
    out->block = e[3];
    std::memcpy(out->iso, e + 4, 3);
    out->iso[3] = 0;
    return true;
}

const CountryList& country_builtin_list()
{
    return builtin().list;
}

const CountryBlock& country_builtin_block(unsigned index)
{
    return builtin().blocks[index < COUNTRY_BUILTIN_BLOCKS ? index : 0];
}
