// Stored profiles and the non-volatile layout they use.
#include "layer2/corecode/cmd/profile.h"

#include <cstddef>
#include <cstring>

#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_parser.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/at_tables.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/factory_profile.h"
#include "layer2/corecode/cmd/nvram.h"

namespace {

// Where setting n lives: an S-register, a byte of AtSettings, the low byte of a +DS value, or the current
// S-register number.
enum SettingKind : uint8_t { K_SREG, K_SET, K_DS, K_CUR };

struct SettingPlace {
    uint8_t kind;
    uint8_t index;       // register number or +DS position
    uint16_t offset;     // byte offset inside AtSettings
};

constexpr SettingPlace R(uint8_t n) { return {K_SREG, n, 0}; }
constexpr SettingPlace D(uint8_t k) { return {K_DS, k, 0}; }
#define S(field) SettingPlace{K_SET, 0, static_cast<uint16_t>(offsetof(AtSettings, field))}

// clang-format off
const SettingPlace kPlaces[FACTORY_SETTINGS_SIZE] = {
    R(0), R(2), R(6), R(7), R(8), R(9), R(10), R(11), R(12),
    R(14), R(16), R(18), R(21), R(22), R(23), R(25), R(26), R(27),
    R(30),
    S(w), S(x), S(bs_a),
    S(pct_a), S(bs_c), S(pct_c), S(pct_e), S(bs_g), S(dl_option[0]), S(bs_j),
    S(break_type), S(bs_l), S(bs_n),
    S(dl_option[1]), S(bs_x), S(dl_option[2]), S(ma_mark), S(dash_j),
    D(0), D(3),
    S(dte_format[0]), S(dte_format[1]),
    S(rate_bytes[0]), S(rate_bytes[1]), S(rate_bytes[2]),
    S(parity_type), S(format_option),
    S(dl_option[3]), S(pct_g), S(dl_option[4]), S(amp_u),
    S(break_length), S(dash_c), S(dl_option[5]), S(dl_option[6]),
    S(paren_m), S(dl_option[7]), S(dash_q), S(dl_option[8]), S(amp_k),
    S(last_amp_f), S(dl_option[9]), S(dl_option[10]), S(dl_option[11]), S(dl_option[12]),
    R(32), R(33),
    S(ds_copy), D(1), S(es[0]), S(es[1]), S(es[2]),
    R(1), R(3), R(4), R(5), S(pulse_make), S(pulse_break), S(dial_option), SettingPlace{K_CUR, 0, 0},
    R(19), R(20),
};
// clang-format on
#undef S

constexpr uint8_t kProfileDteRate = 41;

void rebuild_rate(AcuContext* acu)
{
    const uint8_t* b = acu->set.rate_bytes;
    acu->set.dte_rate = (static_cast<uint32_t>(b[2]) * 256u + b[1]) * 256u + b[0];
}

void rate_into_bytes(AcuContext* acu)
{
    uint32_t r = acu->set.dte_rate;
    acu->set.rate_bytes[0] = static_cast<uint8_t>(r);
    acu->set.rate_bytes[1] = static_cast<uint8_t>(r >> 8);
    acu->set.rate_bytes[2] = static_cast<uint8_t>(r >> 16);
}

// The DTE format a reload keeps.
struct KeptFormat {
    uint8_t parity_type;
    uint8_t format[2];
    uint32_t rate;
    uint8_t s23_parity;
};

KeptFormat remember_format(const AcuContext* acu)
{
    return {acu->set.parity_type, {acu->set.dte_format[0], acu->set.dte_format[1]}, acu->set.dte_rate,
            static_cast<uint8_t>(acu->sreg[S_DTE_FORMAT] & S23_PARITY)};
}

void restore_format(AcuContext* acu, const KeptFormat& k)
{
    acu->set.parity_type = k.parity_type;
    acu->set.dte_format[0] = k.format[0];
    acu->set.dte_format[1] = k.format[1];
    acu->set.dte_rate = k.rate;
    rate_into_bytes(acu);
    acu->sreg[S_DTE_FORMAT] = static_cast<uint8_t>((acu->sreg[S_DTE_FORMAT] & ~S23_PARITY) | k.s23_parity);
}

void rebuild_line_options(AcuContext* acu)
{
    AtSettings* s = &acu->set;
    uint8_t o = static_cast<uint8_t>(s->line_options & ~(0x02 | 0x08 | 0x10 | 0x20));
    if (s->pct_e)
        o |= 0x10;
    if (s->pct_g)
        o |= 0x20;
    if (s->dash_c)
        o |= 0x08;
    if (s->amp_u)
        o |= 0x02;
    s->line_options = o;
}

void write_checksum(CoreSettings* s)
{
    const uint8_t sum = nv_checksum(s);
    nv_write(s, NV_CHECKSUM, 1, &sum);
}

}  // namespace

uint8_t profile_setting(const AcuContext* acu, unsigned n)
{
    if (n >= FACTORY_SETTINGS_SIZE)
        return 0;
    const SettingPlace& p = kPlaces[n];
    switch (p.kind) {
    case K_SREG: return acu->sreg[p.index];
    case K_DS: return static_cast<uint8_t>(acu->set.ds[p.index]);
    case K_CUR: return acu->current_sreg;
    default: return reinterpret_cast<const uint8_t*>(&acu->set)[p.offset];
    }
}

void profile_set_setting(AcuContext* acu, unsigned n, uint8_t value)
{
    if (n >= FACTORY_SETTINGS_SIZE)
        return;
    const SettingPlace& p = kPlaces[n];
    switch (p.kind) {
    case K_SREG: acu->sreg[p.index] = value; break;
    case K_DS: acu->set.ds[p.index] = value; break;
    case K_CUR: acu->current_sreg = value; break;
    default: reinterpret_cast<uint8_t*>(&acu->set)[p.offset] = value; break;
    }
}

unsigned profile_offset(unsigned n)
{
    if (n == 1)
        return NV_PROFILE1;
    if (n == 2)
        return NV_SIZE;
    return NV_PROFILE0;
}

void profile_factory_values(AcuContext* acu)
{
    for (unsigned n = 0; n < FACTORY_SETTINGS_SIZE; ++n)
        profile_set_setting(acu, n, kFactorySettings[n]);
    rebuild_rate(acu);
    rebuild_line_options(acu);
    acu->set.high_rate = acu->set.dte_rate >= 2400 ? 1 : 0;
    acu->dial_pause = acu->sreg[S_COMMA_PAUSE];
    acu->amp_c_working = at_opt_amp_c(acu);
    acu->auto_answer = acu->sreg[S_AUTO_ANSWER_RINGS] != 0 ? 1 : 0;
    acu->voice_mode = 0;
    at_v8_v80_reset(acu);
    at_ext_factory(acu);
}

void at_load_factory(AcuContext* acu, bool keep_dte_format)
{
    const KeptFormat kept = remember_format(acu);
    for (unsigned n = 0; n < FACTORY_SETTINGS_SIZE; ++n)
        profile_set_setting(acu, n, kFactorySettings[n]);
    rebuild_rate(acu);
    if (!keep_dte_format) {
        const uint8_t zero = 0;
        nv_write(acu->settings, NV_POWER_UP_PROFILE, 1, &zero);
        write_checksum(acu->settings);
    } else {
        restore_format(acu, kept);
    }
    acu->set.high_rate = acu->set.dte_rate >= 2400 ? 1 : 0;
    acu->dial_pause = acu->sreg[S_COMMA_PAUSE];
    acu->amp_c_working = at_opt_amp_c(acu);
    at_apply_auto_answer(acu);
    // The factory %E, %G, -C and &U give the line-option byte its factory bits as well.
    rebuild_line_options(acu);
    // The DTE format is applied by the output path before every response; the data command set is the one
    // without the voice commands.
    acu->voice_mode = 0;
    at_v8_v80_reset(acu);
    at_table_list_op(acu, TABLES_REMOVE, DebugCommands);
    acu->debug_tables = 0;
    at_ext_factory(acu);
}

void at_load_profile(AcuContext* acu, unsigned n, bool keep_dte_format)
{
    StoredProfile p;
    if (nv_read(acu->settings, profile_offset(n), PROFILE_SIZE, p.bytes) != 0) {
        at_set_error(acu);
        return;
    }
    const KeptFormat kept = remember_format(acu);
    for (unsigned k = 0; k < PROFILE_SIZE; ++k)
        profile_set_setting(acu, k, p.bytes[k]);
    rebuild_rate(acu);
    if (keep_dte_format)
        restore_format(acu, kept);
    AtSettings* s = &acu->set;
    if (s->format_option < 2)
        s->format_option = 2;
    switch (at_opt_parity(acu)) {
    case 0: s->parity_type = 2; break;
    case 2: s->parity_type = 1; break;
    default: s->parity_type = 0; break;
    }
    s->high_rate = s->dte_rate >= 2400 ? 1 : 0;
    acu->dial_pause = acu->sreg[S_COMMA_PAUSE];
    acu->amp_c_working = at_opt_amp_c(acu);
    acu->speaker_volume = at_opt_speaker_volume(acu);
    acu->loopback_grant = at_opt_loopback_grant(acu);
    if (!keep_dte_format) {
        uint8_t levels[6];
        if (nv_read(acu->settings, NV_TX_PARAMS, 3, levels) == 0 &&
            nv_read(acu->settings, NV_TX_LEVELS, 3, levels + 3) == 0) {
            std::memcpy(&acu->sreg[S_LEVEL_81], levels, 3);
            std::memcpy(&acu->sreg[S_LEVEL_91], levels + 3, 3);
        }
        nv_read(acu->settings, NV_TIMING_OFFSET, 2, acu->timing_offset);
    }
    rebuild_line_options(acu);
    s->pulse_make = at_opt_amp_p(acu) ? 33 : 39;
    s->pulse_break = at_opt_amp_p(acu) ? 67 : 61;
    at_apply_auto_answer(acu);
}

void at_store_profile(AcuContext* acu, unsigned n)
{
    rate_into_bytes(acu);
    StoredProfile p;
    for (unsigned k = 0; k < PROFILE_SIZE; ++k)
        p.bytes[k] = profile_setting(acu, k);
    if (n > 1 || nv_write(acu->settings, profile_offset(n), PROFILE_SIZE, p.bytes) != 0) {
        at_set_error(acu);
        return;
    }
    nv_write(acu->settings, NV_LINE_B, 1, &acu->ext.pmh);
    nv_write(acu->settings, NV_LINE_C, 1, &acu->ext.pcw);
    nv_write(acu->settings, NV_LINE_A, 1, &acu->ext.pmht);
    write_checksum(acu->settings);
}

void at_nvram_reset(AcuContext* acu)
{
    CoreSettings* s = acu->settings;
    at_load_factory(acu, false);
    const uint8_t command_error = acu->command_error;
    at_store_profile(acu, 0);
    at_store_profile(acu, 1);
    acu->command_error = command_error;
    const uint8_t zero = 0;
    nv_write(s, NV_POWER_UP_PROFILE, 1, &zero);
    for (unsigned k = 0; k < 4; ++k)
        nv_write(s, nv_number_offset(k), 1, &zero);
    const uint8_t cleared[2] = {0, 0};
    nv_write(s, NV_TIMING_OFFSET, 2, cleared);
    std::memset(acu->timing_offset, 0, sizeof acu->timing_offset);
    const uint8_t levels[6] = {120, 90, 9, 10, 10, 10};
    nv_write(s, NV_TX_PARAMS, 3, levels);
    nv_write(s, NV_TX_LEVELS, 3, levels + 3);
    std::memcpy(&acu->sreg[S_LEVEL_81], levels, 3);
    std::memcpy(&acu->sreg[S_LEVEL_91], levels + 3, 3);
    nv_write(s, NV_LINE_B, 1, &zero);
    nv_write(s, NV_LINE_C, 1, &zero);
    nv_write(s, NV_LINE_A, 1, &zero);
    nv_write(s, NV_SIGNATURE, 4, NV_SIGNATURE_BYTES);
    write_checksum(s);
}

void at_power_up_profile(AcuContext* acu)
{
    acu->diag_working = 0;
    acu->v92_working = 0;
    uint8_t signature[4];
    if (nv_read(acu->settings, NV_SIGNATURE, 4, signature) == 0 &&
        std::memcmp(signature, NV_SIGNATURE_BYTES, 4) != 0)
        at_nvram_reset(acu);
    uint8_t stored = 0;
    if (nv_read(acu->settings, NV_CHECKSUM, 1, &stored) != 0) {
        at_load_factory(acu, false);
        PostCallEvent(acu, EV_RESULT, RC_ERROR);
    } else if (stored == nv_checksum(acu->settings)) {
        uint8_t n = 0;
        nv_read(acu->settings, NV_POWER_UP_PROFILE, 1, &n);
        // A profile number other than 1 loads profile 0 (profile_offset), so a damaged byte cannot select
        // the refused place past the image.
        at_load_profile(acu, n == 1 ? 1u : 0u, false);
    } else {
        at_nvram_reset(acu);
        at_load_profile(acu, 0, false);
    }
}

uint8_t at_line_level(const AcuContext* acu, unsigned kind, bool alternate)
{
    // Transmit gain words for 0 to -16 dB, as the data pump's level command takes them.
    static const uint16_t kLevelWords[17] = {25399, 22637, 20175, 17981, 16026, 14283, 12730, 11346, 10112,
                                             9012,  8032,  7158,  6380,  5686,  5067,  4516,  4027};
    if (acu->settings == nullptr)
        return 0;
    const uint8_t* r = acu->settings->block.bytes;
    unsigned sum;
    switch (kind) {
    case 0: return static_cast<uint8_t>(r[2] + (alternate ? acu->sreg[S_LEVEL_82] : acu->sreg[S_LEVEL_81]));
    case 1: sum = r[2] + acu->sreg[S_LEVEL_83]; break;
    case 3: sum = r[0] + acu->sreg[S_LEVEL_92]; break;
    case 4: sum = r[4] + acu->sreg[S_LEVEL_93]; break;
    case 5: {
        unsigned v = r[4] + (alternate ? r[15] : r[16]);
        if (v > 25)
            v = 25;
        return static_cast<uint8_t>(v * 10);
    }
    default: sum = r[0] + acu->sreg[S_LEVEL_91]; break;
    }
    if (sum > 16)
        sum = 16;
    const uint16_t w = kLevelWords[sum];
    return static_cast<uint8_t>(alternate ? w & 0xFF : w >> 8);
}
