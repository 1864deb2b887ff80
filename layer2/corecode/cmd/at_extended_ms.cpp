// +MS (modulation, automode and rate limits) and +MA (the automode modulation list).
#include <cstring>

#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/at_ext_util.h"
#include "layer2/corecode/cmd/at_output.h"

namespace {

constexpr unsigned kV23C = 2;
constexpr unsigned kV32 = 6;
constexpr unsigned kV90 = 9;
constexpr unsigned kNameMax = 7;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool rate_in_set(uint32_t r)
{
    static const uint32_t kRates[] = {75,    300,   1200,  28000, 29333, 30666, 31200, 32000, 33333,
                                      34666, 36000, 37333, 38666, 40000, 41333, 42666, 44000, 45333,
                                      46666, 48000, 49333, 50666, 52000, 53333, 54666, 56000, 57333};
    if (r == 0 || (r % 2400 == 0 && r >= 2400 && r <= 33600))
        return true;
    for (uint32_t k : kRates)
        if (k == r)
            return true;
    return false;
}

// Rates against a row: minimum not above the row's maximum, maximum within the row (0 = none).
bool rates_fit(unsigned row, const uint32_t* rate)
{
    const MsModulationRow& m = MsModulation[row];
    for (unsigned k = 0; k < 4; ++k)
        if (!rate_in_set(rate[k]))
            return false;
    if (rate[0] > m.tx_max)
        return false;
    if (rate[1] != 0 && (rate[1] < m.tx_min || rate[1] > m.tx_max))
        return false;
    if ((row == kV32 && rate[1] == 7200) || (row == kV23C && rate[1] == 300))
        return false;
    if (rate[1] != 0 && rate[1] < rate[0])
        return false;
    if (row == kV23C || row == kV90) {
        if (rate[2] > m.rx_max)
            return false;
        if (rate[3] != 0 && (rate[3] < m.rx_min || rate[3] > m.rx_max))
            return false;
        if (row == kV23C && rate[3] == 300)
            return false;
    }
    return true;
}

// A row below the current one that can carry the current minimum rates.
bool row_reaches(const AcuContext* acu, unsigned row)
{
    const AtExtSettings* e = &acu->ext;
    return row < e->ms_row && MsModulation[row].tx_max >= e->ms_limit[0] && MsModulation[row].rx_max >= e->ms_limit[2];
}

// Matches a name typed with `n` characters against the rows; -1 none.
int find_row(const char* name, unsigned n, bool whole)
{
    for (unsigned k = 0; k < MS_ROWS; ++k) {
        const char* row = MsModulation[k].name;
        if (std::strlen(row) < n || (whole && std::strlen(row) != n))
            continue;
        bool same = true;
        for (unsigned i = 0; i < n && same; ++i)
            same = upper(name[i]) == row[i];
        if (same)
            return static_cast<int>(k);
    }
    return -1;
}

void print_row_list(AcuContext* acu, const char* prefix, bool (*chosen)(const AcuContext*, unsigned))
{
    char text[96] = "";
    bool first = true;
    for (unsigned k = MS_ROWS; k-- > 0;) {
        if (!chosen(acu, k))
            continue;
        if (!first)
            ext_append(text, sizeof text, ", ");
        ext_append(text, sizeof text, MsModulation[k].name);
        first = false;
    }
    ext_print_answer(acu, prefix, text);
}

}  // namespace

void ms_rebuild_selection(AcuContext* acu)
{
    AtExtSettings* e = &acu->ext;
    const MsModulationRow& m = MsModulation[e->ms_row];
    // A maximum of 0 means the row's own maximum; a minimum of 0 means no minimum.
    e->ms_limit[0] = e->ms_rate[0];
    e->ms_limit[1] = e->ms_rate[1] != 0 ? e->ms_rate[1] : m.tx_max;
    e->ms_limit[2] = e->ms_rate[2];
    e->ms_limit[3] = e->ms_rate[3] != 0 ? e->ms_rate[3] : m.rx_max;
    for (unsigned k = 0; k < MS_ROWS; ++k)
        e->ma_selected[k] = (k == e->ms_row || (e->ms_automode && row_reaches(acu, k))) ? 1 : 0;
}

void at_ms_range(AcuContext* acu, uint8_t*)
{
    ext_print_text(acu, "+MS: (BELL103,BELL212,V21,V22,V22B,V23C,V32,V32B,V34,V90),(0,1),(0,75-33600),(0,75-33600),"
                        "(0,75-56000),(0,75-56000)");
}

void at_ms_set(AcuContext* acu, uint8_t* args)
{
    AtExtSettings* e = &acu->ext;
    const char* p = reinterpret_cast<const char*>(args);
    const char* end = p + AT_ARG_BUFFER;
    unsigned row = e->ms_row;
    uint8_t automode = e->ms_automode;
    uint32_t rate[4];
    std::memcpy(rate, e->ms_rate, sizeof rate);
    for (unsigned field = 0; p < end && *p != 0; ++field) {
        const char* start = p;
        while (p < end && *p != 0 && *p != ',')
            ++p;
        const unsigned n = static_cast<unsigned>(p - start);
        if (field >= 6) {
            at_set_error(acu);
            return;
        }
        if (n != 0) {
            if (field == 0) {
                int r = n > kNameMax ? -1 : find_row(start, n, false);
                if (r < 0) {
                    at_set_error(acu);
                    return;
                }
                row = static_cast<unsigned>(r);
            } else if (field == 1) {
                if (n != 1 || (start[0] != '0' && start[0] != '1')) {
                    at_set_error(acu);
                    return;
                }
                automode = static_cast<uint8_t>(start[0] - '0');
            } else {
                // No accepted rate has more than five digits.
                uint32_t v = 0;
                for (unsigned i = 0; i < n; ++i) {
                    if (start[i] < '0' || start[i] > '9' || n > 6) {
                        at_set_error(acu);
                        return;
                    }
                    v = v * 10u + static_cast<uint32_t>(start[i] - '0');
                }
                rate[field - 2] = v;
            }
        }
        if (p < end && *p == ',')
            ++p;
    }
    if (!rates_fit(row, rate)) {
        at_set_error(acu);
        return;
    }
    if (row == kV90)
        e->v92_mark = 0;
    e->ms_row = static_cast<uint8_t>(row);
    e->ms_automode = automode;
    std::memcpy(e->ms_rate, rate, sizeof rate);
    ms_rebuild_selection(acu);
}

void at_ms_query(AcuContext* acu, uint8_t*)
{
    const AtExtSettings* e = &acu->ext;
    char text[64] = "";
    char digits[12];
    ext_append(text, sizeof text, e->ms_row == kV90 && e->v92_mark ? "V92" : MsModulation[e->ms_row].name);
    ext_append(text, sizeof text, ",");
    ext_append(text, sizeof text, at_decimal_text(digits, e->ms_automode));
    const unsigned shown = (e->ms_row == kV23C || e->ms_row == kV90) ? 4 : 2;
    for (unsigned k = 0; k < shown; ++k) {
        ext_append(text, sizeof text, ",");
        ext_append(text, sizeof text, at_decimal_text(digits, e->ms_rate[k]));
    }
    ext_print_answer(acu, "+MS: ", text);
}

void at_ma_range(AcuContext* acu, uint8_t*)
{
    print_row_list(acu, "+MA: ", [](const AcuContext* a, unsigned k) { return a->ext.ms_automode && row_reaches(a, k); });
}

void at_ma_set(AcuContext* acu, uint8_t* args)
{
    AtExtSettings* e = &acu->ext;
    const char* p = reinterpret_cast<const char*>(args);
    const char* end = p + AT_ARG_BUFFER;
    uint16_t chosen[MS_ROWS] = {};
    while (p < end && *p != 0) {
        const char* start = p;
        while (p < end && *p != 0 && *p != ',')
            ++p;
        const unsigned n = static_cast<unsigned>(p - start);
        const int row = n == 0 || n > kNameMax ? -1 : find_row(start, n, true);
        if (row < 0 || !row_reaches(acu, static_cast<unsigned>(row))) {
            at_set_error(acu);
            return;
        }
        chosen[row] = 1;
        if (p < end && *p == ',')
            ++p;
    }
    chosen[e->ms_row] = 1;
    std::memcpy(e->ma_selected, chosen, sizeof chosen);
    e->ma_given = 1;
}

void at_ma_query(AcuContext* acu, uint8_t*)
{
    print_row_list(acu, "+MA: ", [](const AcuContext* a, unsigned k) { return a->ext.ma_selected[k] != 0; });
}
