// The country block: 1649 bytes of country-dependent line, tone, dialling and ring parameters.
//
// One block is current per device (a copy of a built-in block or of a "KVZ"+index registry override).
// The block is a byte image that leaves the process (registry values, the table transfer dialogue), so its
// size and every offset below are exact and all multi-byte words are little-endian. Every reader goes
// through the accessor functions of this header: none computes an offset of its own.
//
// Layout (offsets in bytes from the start of the block):
//
//   0-1     u16 format word, always 3 (CB_FORMAT)
//   2-8     general flag table (7 bytes, table 1 of the table dialogue)
//             2  data transmit level base, added to the level S-registers by the level look-up
//             3  pulse dialling allowed (1 = allowed)
//             4  power-up flag, taken with the S-register defaults; also the level base of kinds 4 and 5
//             5  tone dialling allowed (1 = allowed)
//             6  distinctive-ring flag (0 = report every valid ring as DLE "R" in voice mode)
//             7  reserved (0)
//             8  reserved (0)
//   9-14    general parameter table (6 bytes, table 2)
//             9-10   u16 dial-tone wait time, ms (the originate sequence's wait for dial tone)
//             11-12  u16 silence time after ringback for the "@" dial modifier, ms
//             13-14  u16 hold time of the ring cadence detector, ms
//   15-16   voice DTMF levels (table 3): 15 alternate, 16 normal (the level look-up's kind 5)
//   17-82   FILTER table (66 bytes, table 5): u16 count (0-2) at 17, then two 32-byte detector filter
//           parameter sets at 19 and 51. A set is sixteen u16 words p0-p15: p0-p1 identify the set (a filter
//           already programmed with a set that starts with the same two words is shared), p2-p11 the ten
//           section coefficients (two second-order stages of five), p12 the energy gain, p13 the energy leak,
//           p14 the on threshold and p15 the off threshold of the data pump's detector section.
//   83-772  TONE table (690 bytes, table 6)
//             83-84    u16 number of tone detector definitions (0-8)
//             85       DTMF on time, ms
//             86       DTMF off time, ms
//             87       DTMF high-group level, 0.1 dB below the maximum
//             88       DTMF low-group level, 0.1 dB below the maximum
//             89-92    reserved
//             93-212   five call-progress signal descriptions of 24 bytes (dial tone, busy, congestion,
//                      ringback, ringing signal; see CountrySignal): u16 f1 Hz, u16 f2 Hz (0 = single
//                      frequency), u8 flags (bit 0: f1 is amplitude-modulated by f2 instead of added), u8 level
//                      in dB below 0 dBm0, u8 number of on/off pairs (0 = continuous), u8 reserved, four pairs
//                      {u16 on ms, u16 off ms}
//             213-660  eight tone detector definitions of 56 bytes (see CountryToneDef): u8 tone id (1 dial
//                      tone, 3 busy, 15 congestion, 5 ringback), u8 filter set (1-based; 0 is taken as 1),
//                      u16 level word A, u16 level word B (detection levels in dB written beside the filter),
//                      u16 first time ms, u16 second time ms, u8 first-list count, u8 second-list count,
//                      four + four cadence elements of 5 bytes {u8 on/off flag, u16 minimum ms, u16 maximum ms},
//                      4 bytes reserved
//             661-772  reserved
//   773-945 DAA table (173 bytes, table 7)
//             773      reserved
//             774-775  u16 number of line-interface profiles (0-2)
//             776-946  profiles of 57 bytes from 776 (see CountryLineProfile): u8 id, 3 reserved, name of up
//                      to 24 characters with its zero at +4, u16 hook mask +28, u16 hook value +30, u16 pulse
//                      make ms +32, u16 pulse break ms +34, u16 inter-digit pause ms +36, u16 off-hook wait ms
//                      +38, u16 on-hook wait ms +40, u16 end-of-dialling wait ms +42, three u16 hook-flash
//                      times ms (hook-flash methods 0, 1, 2) +44, two u16 DSP line words +50, 3 reserved.
//                      Two profiles fit before the black-listing table.
//   946-1018 black-listing parameters (73 bytes, table 8)
//             946      maximum number of attempts (0 = no call restrictions)
//             947      maximum consecutive-failure index
//             948      flags: bit 0 restricted numbers are released after the restriction time, bit 1
//                      restriction disabled
//             949      reserved
//             950-951  u16 restriction time, s
//             952-983  sixteen u16 delay times, s, indexed by the consecutive-failure index
//             984-1018 reserved
//   1019-1110 S-register limits (92 bytes, table 9): u16 count (0-15), then 15 entries of 6 bytes {S-register
//           index (255 never matches), default, minimum, maximum, excluded-range start (255 = none),
//           excluded-range end}
//   1111-1502 RING table (392 bytes, table 10): u16 count (0-3), then three cadence entries of 130 bytes
//           (see CountryCadence): u8 count of the first list, u8 count of the second list, seven 9-byte
//           segments of the first list (+2), seven of the second (+65), 2 reserved. A segment is {u16 rate low,
//           u16 rate high, u16 duration low ms, u16 duration high ms, u8 flags (bit 0: a complete ring ends
//           here)}. The first list serves the first evaluation after a reset, the second the later ones.
//   1503-1646 call-waiting tone patterns: nine entries of 16 bytes; the first two bytes of entry 0 hold the
//           u16 entry count (0-9); an entry is {2 bytes (the count in entry 0, unused in the others), u8 kind,
//           u8 interval count n (0-2), u8 flags (bit 0), u8 reserved, n pairs {u16 minimum ms, u16 maximum
//           ms}}
//   1647-1648 reserved
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t COUNTRY_BLOCK_SIZE = 1649;
constexpr uint16_t CB_FORMAT = 3;

// Fixed places of the block's tables.
constexpr std::size_t CB_FLAGS = 2;             // general flag table, 7 bytes
constexpr std::size_t CB_LEVEL_BASE = 2;
constexpr std::size_t CB_PULSE_ALLOWED = 3;
constexpr std::size_t CB_POWER_UP_FLAG = 4;
constexpr std::size_t CB_TONE_ALLOWED = 5;
constexpr std::size_t CB_DISTINCTIVE_RING = 6;
constexpr std::size_t CB_PARAMS = 9;            // general parameter table, 6 bytes
constexpr std::size_t CB_DIAL_TONE_WAIT = 9;
constexpr std::size_t CB_SILENCE_TIME = 11;
constexpr std::size_t CB_CADENCE_HOLD = 13;
constexpr std::size_t CB_VOICE_DTMF_LEVEL = 15;  // 2 bytes
constexpr std::size_t CB_FILTER = 17;           // 66 bytes
constexpr std::size_t CB_FILTER_SETS = 19;
constexpr std::size_t CB_FILTER_SET_SIZE = 32;
constexpr std::size_t CB_FILTER_MAX = 2;
constexpr std::size_t CB_TONE = 83;             // 690 bytes
constexpr std::size_t CB_DTMF_ON = 85;
constexpr std::size_t CB_DTMF_OFF = 86;
constexpr std::size_t CB_DTMF_LEVEL_HIGH = 87;
constexpr std::size_t CB_DTMF_LEVEL_LOW = 88;
constexpr std::size_t CB_SIGNALS = 93;
constexpr std::size_t CB_SIGNAL_SIZE = 24;
constexpr std::size_t CB_TONE_DEFS = 213;
constexpr std::size_t CB_TONE_DEF_SIZE = 56;
constexpr std::size_t CB_TONE_DEF_MAX = 8;
constexpr std::size_t CB_DAA = 773;             // 173 bytes
constexpr std::size_t CB_PROFILE_COUNT = 774;
constexpr std::size_t CB_PROFILES = 776;
constexpr std::size_t CB_PROFILE_SIZE = 57;
constexpr std::size_t CB_PROFILE_MAX = 2;
constexpr std::size_t CB_BLACKLIST = 946;       // 73 bytes
constexpr std::size_t CB_BL_DELAYS = 952;
constexpr std::size_t CB_BL_DELAY_MAX = 16;
constexpr std::size_t CB_S_LIMITS = 1019;       // 92 bytes
constexpr std::size_t CB_S_LIMIT_MAX = 15;
constexpr std::size_t CB_RING = 1111;           // 392 bytes
constexpr std::size_t CB_CADENCE_SIZE = 130;
constexpr std::size_t CB_CADENCE_MAX = 3;
constexpr std::size_t CB_CADENCE_SEGMENTS = 7;
constexpr std::size_t CB_CW = 1503;             // 144 bytes
constexpr std::size_t CB_CW_ENTRY_SIZE = 16;
constexpr std::size_t CB_CW_MAX = 9;

// The ten tables of the table transfer dialogue: number 1-10 → place and size (table 4 lives in the DSP link
// context, not in the block, and has place 0 here).
struct CountryTablePlace {
    uint16_t offset;
    uint16_t size;
};
CountryTablePlace cb_table_place(unsigned number);

struct CountryBlock {
    uint8_t bytes[COUNTRY_BLOCK_SIZE];
};
static_assert(sizeof(CountryBlock) == COUNTRY_BLOCK_SIZE);

// Call-progress signals described by the TONE table.
enum CountrySignalKind : uint8_t {
    CS_DIAL_TONE = 0,
    CS_BUSY = 1,
    CS_CONGESTION = 2,
    CS_RINGBACK = 3,
    CS_RINGING = 4,  // the ringing signal sent to a called line (f1 = ringing frequency)
    CS_COUNT = 5,
};

struct CountrySignal {
    uint16_t f1;        // Hz
    uint16_t f2;        // Hz, 0 = single frequency
    uint8_t modulated;  // 1: f1 amplitude-modulated by f2
    uint8_t level;      // dB below 0 dBm0
    uint8_t pairs;      // number of on/off pairs, 0 = continuous
    uint16_t on_ms[4];
    uint16_t off_ms[4];
};

struct CountryCadenceElement {
    uint8_t on;  // 1 tone on, 0 tone off
    uint16_t min_ms;
    uint16_t max_ms;
};

struct CountryToneDef {
    uint8_t tone_id;
    uint8_t filter;  // 1-based filter set
    uint16_t level_a;
    uint16_t level_b;
    uint16_t first_time_ms;
    uint16_t second_time_ms;
    uint8_t first_count;   // 0-4
    uint8_t second_count;  // 0-4
    CountryCadenceElement first[4];
    CountryCadenceElement second[4];
};

struct CountryLineProfile {
    uint8_t id;
    char name[25];
    uint16_t hook_mask;
    uint16_t hook_value;
    uint16_t pulse_make_ms;
    uint16_t pulse_break_ms;
    uint16_t interdigit_ms;
    uint16_t off_hook_wait_ms;
    uint16_t on_hook_wait_ms;
    uint16_t end_dial_wait_ms;
    uint16_t flash_ms[3];
    uint16_t dsp_words[2];
};

struct CountrySLimit {
    uint8_t reg;
    uint8_t def;
    uint8_t min;
    uint8_t max;
    uint8_t excl_start;
    uint8_t excl_end;
};

struct CountrySegment {
    uint16_t rate_low;
    uint16_t rate_high;
    uint16_t dur_low_ms;
    uint16_t dur_high_ms;
    uint8_t flags;
};

struct CountryCadence {
    uint8_t first_count;   // 0-7
    uint8_t second_count;  // 0-7
    CountrySegment first[CB_CADENCE_SEGMENTS];
    CountrySegment second[CB_CADENCE_SEGMENTS];
};

struct CountryCwPattern {
    uint8_t kind;
    uint8_t count;  // 0-2
    uint8_t flags;
    uint16_t min_ms[2];
    uint16_t max_ms[2];
};

struct CountryRestrictions {
    uint8_t max_attempts;
    uint8_t max_failure_index;
    uint8_t flags;
    uint16_t restriction_s;
    uint16_t delay_s[CB_BL_DELAY_MAX];
};

// ---- The accessor: every read of a country block goes through these. ----
// Raw reads of a byte or a little-endian word; an offset outside the block reads 0.
uint8_t cb_u8(const CountryBlock& b, std::size_t offset);
uint16_t cb_u16(const CountryBlock& b, std::size_t offset);
void cb_put_u8(CountryBlock& b, std::size_t offset, uint8_t v);
void cb_put_u16(CountryBlock& b, std::size_t offset, uint16_t v);

bool cb_format_ok(const CountryBlock& b);
bool cb_pulse_allowed(const CountryBlock& b);
bool cb_tone_allowed(const CountryBlock& b);
uint16_t cb_dial_tone_wait_ms(const CountryBlock& b);
uint16_t cb_silence_ms(const CountryBlock& b);
uint16_t cb_cadence_hold_ms(const CountryBlock& b);

// Counts are limited to what fits in their table, whatever a loaded block says.
unsigned cb_filter_count(const CountryBlock& b);
bool cb_filter_set(const CountryBlock& b, unsigned index1, uint16_t words[16]);  // 1-based; 0 taken as 1

struct CountryDtmf {
    uint8_t on_ms;
    uint8_t off_ms;
    uint8_t level_high;
    uint8_t level_low;
};
CountryDtmf cb_dtmf(const CountryBlock& b);
bool cb_signal(const CountryBlock& b, CountrySignalKind kind, CountrySignal* out);
unsigned cb_tone_def_count(const CountryBlock& b);
bool cb_tone_def(const CountryBlock& b, unsigned index, CountryToneDef* out);

unsigned cb_profile_count(const CountryBlock& b);
bool cb_line_profile(const CountryBlock& b, unsigned index, CountryLineProfile* out);
std::size_t cb_profile_offset(unsigned index);  // where profile index starts (its name is at +4)

CountryRestrictions cb_restrictions(const CountryBlock& b);
bool cb_has_restrictions(const CountryBlock& b);

unsigned cb_s_limit_count(const CountryBlock& b);
bool cb_s_limit(const CountryBlock& b, unsigned index, CountrySLimit* out);

unsigned cb_cadence_count(const CountryBlock& b);
bool cb_cadence(const CountryBlock& b, unsigned index, CountryCadence* out);

unsigned cb_cw_count(const CountryBlock& b);
bool cb_cw_pattern(const CountryBlock& b, unsigned index, CountryCwPattern* out);
