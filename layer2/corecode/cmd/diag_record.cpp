// The diagnostic record: its entry table, reset, the key/value lines of "#UD" and the entries filled when a
// connection comes up.
#include "layer2/corecode/cmd/diag_record.h"

#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/conn_state.h"

namespace {

enum DiagKind : uint8_t { KIND_TEXT = 1, KIND_BYTE = 2, KIND_WORD = 3, KIND_DWORD = 4 };
enum DiagNeed : uint8_t { NEED_MASK = 0, NEED_ALWAYS = 1, NEED_EC = 2, NEED_CALLER = 3 };

struct DiagRow {
    uint8_t key;
    uint8_t mask;
    uint8_t kind;
    uint8_t need;
};

// The entries in print order.
// clang-format off
constexpr DiagRow kRows[] = {
    {0x00, 0xFF, KIND_BYTE, NEED_ALWAYS},
    {0x01, 0xFF, KIND_BYTE, NEED_MASK}, {0x02, 0xFF, KIND_BYTE, NEED_MASK}, {0x03, 0xFF, KIND_BYTE, NEED_MASK},
    {0x04, 0xE1, KIND_TEXT, NEED_MASK}, {0x05, 0xE1, KIND_TEXT, NEED_CALLER},
    {0x10, 0xE0, KIND_BYTE, NEED_MASK}, {0x11, 0xE0, KIND_BYTE, NEED_MASK}, {0x12, 0xE0, KIND_BYTE, NEED_MASK},
    {0x13, 0xE0, KIND_BYTE, NEED_MASK}, {0x14, 0xE0, KIND_BYTE, NEED_MASK}, {0x15, 0xE0, KIND_BYTE, NEED_MASK},
    {0x16, 0xE0, KIND_BYTE, NEED_MASK}, {0x17, 0xE0, KIND_WORD, NEED_MASK}, {0x18, 0xE0, KIND_DWORD, NEED_MASK},
    {0x20, 0xE0, KIND_BYTE, NEED_MASK}, {0x21, 0xE0, KIND_BYTE, NEED_MASK},
    {0x22, 0xE0, KIND_WORD, NEED_MASK}, {0x23, 0xE0, KIND_WORD, NEED_MASK}, {0x24, 0xE0, KIND_WORD, NEED_MASK},
    {0x25, 0xE0, KIND_WORD, NEED_MASK}, {0x26, 0xE0, KIND_WORD, NEED_MASK}, {0x27, 0xE0, KIND_WORD, NEED_MASK},
    {0x30, 0xE0, KIND_BYTE, NEED_MASK}, {0x31, 0xE0, KIND_BYTE, NEED_MASK}, {0x32, 0xE0, KIND_BYTE, NEED_MASK},
    {0x33, 0xE0, KIND_BYTE, NEED_MASK},
    {0x34, 0xE0, KIND_WORD, NEED_MASK}, {0x35, 0xE0, KIND_WORD, NEED_MASK},
    {0x40, 0xE0, KIND_BYTE, NEED_MASK},
    {0x41, 0xE2, KIND_WORD, NEED_EC}, {0x42, 0xE2, KIND_BYTE, NEED_EC}, {0x43, 0xE2, KIND_BYTE, NEED_EC},
    {0x44, 0xE2, KIND_BYTE, NEED_EC}, {0x45, 0xE2, KIND_WORD, NEED_EC},
    {0x50, 0xFF, KIND_BYTE, NEED_MASK}, {0x51, 0xFF, KIND_BYTE, NEED_MASK},
    {0x52, 0xC0, KIND_DWORD, NEED_MASK}, {0x53, 0xC0, KIND_DWORD, NEED_MASK},
    {0x54, 0xC0, KIND_WORD, NEED_MASK}, {0x55, 0xC0, KIND_WORD, NEED_MASK},
    {0x56, 0xC2, KIND_DWORD, NEED_EC}, {0x57, 0xC2, KIND_DWORD, NEED_EC},
    {0x58, 0xC2, KIND_WORD, NEED_EC}, {0x59, 0xC2, KIND_WORD, NEED_EC},
    {0x60, 0xFF, KIND_BYTE, NEED_MASK},
};
// clang-format on
constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);
static_assert(kRowCount <= static_cast<int>(sizeof(DiagnosticRecord::value) / sizeof(uint32_t)));

constexpr uint8_t kRecordVersion = 16;
constexpr uint16_t kDictionaryAfterReset = 2048;
constexpr uint16_t kLinkValueAfterReset = 2;
constexpr uint8_t kTerminationAfterReset = 1;
constexpr uint8_t kProtocolLapm = 6;
constexpr uint8_t kProtocolMnp = 3;
const char kMakerShortName[] = "Morva";

int row_of(uint8_t key)
{
    for (int i = 0; i < kRowCount; ++i)
        if (kRows[i].key == key)
            return i;
    return -1;
}

// The values kept elsewhere in the controller: the +IFC settings and the termination cause.
uint32_t row_value(const AcuContext* acu, int row)
{
    switch (kRows[row].key) {
    case DIAG_VERSION: return kRecordVersion;
    case DIAG_IFC_SECOND: return acu->set.ifc[1];
    case DIAG_IFC_FIRST: return acu->set.ifc[0];
    case DIAG_TERMINATION: return acu->termination_cause;
    default: return acu->diag.value[row];
    }
}

bool printable(const AcuContext* acu, const DiagRow& r)
{
    const DiagnosticRecord& d = acu->diag;
    if (r.need == NEED_ALWAYS)
        return true;
    if ((d.status & r.mask) == 0)
        return false;
    if (r.need == NEED_EC && (d.status & kDiagStatusErrorControl) == 0)
        return false;
    if (r.kind == KIND_TEXT && (r.mask & 1) == 0)
        return false;
    return r.need != NEED_CALLER || d.caller_id_present != 0;
}

uint8_t protocol_code(uint8_t protocol)
{
    return protocol == kProtocolLapm ? 1 : protocol == kProtocolMnp ? 128 : 0;
}

void append(char* out, unsigned size, const char* text)
{
    const std::size_t used = std::strlen(out);
    std::strncat(out, text, size - 1 - used);
}

}  // namespace

char* at_hex_dump(char* out, const uint8_t* bytes, unsigned count)
{
    char hex[4];
    unsigned n = 0;
    for (unsigned k = 0; k < count; ++k) {
        at_hex2_text(hex, bytes[k]);
        out[n++] = hex[0];
        out[n++] = hex[1];
        if (k % 4 == 3)
            out[n++] = ' ';
    }
    out[n] = 0;
    return out;
}

void at_diag_reset(AcuContext* acu)
{
    DiagnosticRecord& d = acu->diag;
    std::memset(&d, 0, sizeof d);
    d.status = kDiagStatusReset;
    d.value[row_of(DIAG_DICTIONARY)] = kDictionaryAfterReset;
    d.value[row_of(DIAG_LINK_VALUE_58)] = kLinkValueAfterReset;
    d.value[row_of(DIAG_LINK_VALUE_59)] = kLinkValueAfterReset;
    acu->termination_cause = kTerminationAfterReset;
}

void at_diag_set(AcuContext* acu, uint8_t key, uint32_t value)
{
    if (key == DIAG_TERMINATION) {
        acu->termination_cause = static_cast<uint8_t>(value);
        return;
    }
    const int row = row_of(key);
    if (row >= 0 && kRows[row].kind != KIND_TEXT)
        acu->diag.value[row] = value;
}

uint32_t at_diag_get(const AcuContext* acu, uint8_t key)
{
    const int row = row_of(key);
    return row >= 0 ? row_value(acu, row) : 0;
}

void at_diag_set_text(AcuContext* acu, uint8_t key, const char* text)
{
    if (key != DIAG_CALL_TEXT && key != DIAG_CALLER_TEXT)
        return;
    char* slot = acu->diag.text[key == DIAG_CALL_TEXT ? 0 : 1];
    std::strncpy(slot, text != nullptr ? text : "", kDiagTextMax);
    slot[kDiagTextMax] = 0;
}

void at_diag_line(AcuContext* acu, uint8_t kind, uint8_t key, uint32_t value, const char* text)
{
    char line[24 + kDiagTextMax + 8] = "DIAG <2A4D3263 ";
    char digits[34];
    append(line, sizeof line, at_hex2_text(digits, key));
    append(line, sizeof line, " = ");
    switch (kind) {
    case KIND_BYTE: append(line, sizeof line, at_base_text(digits, value & 0xFFu, 16, 2, false)); break;
    case KIND_WORD: append(line, sizeof line, at_base_text(digits, value & 0xFFFFu, 16, 4, false)); break;
    case KIND_DWORD: append(line, sizeof line, at_base_text(digits, value, 16, 8, false)); break;
    default: append(line, sizeof line, text != nullptr ? text : ""); break;
    }
    append(line, sizeof line, ">");
    PrintToDte(acu, line, PRINT_TEXT_END);
}

void BuildUnimodemDiagnostic(AcuContext* acu)
{
    at_print_line_end(acu);
    for (int i = 0; i < kRowCount; ++i) {
        const DiagRow& r = kRows[i];
        if (!printable(acu, r))
            continue;
        const char* text = r.kind == KIND_TEXT ? acu->diag.text[r.key == DIAG_CALL_TEXT ? 0 : 1] : nullptr;
        at_diag_line(acu, r.kind, r.key, row_value(acu, i), text);
    }
    at_diag_line(acu, KIND_TEXT, DIAG_MAKER, 0, kMakerShortName);
}

void at_diag_set_protocol(AcuContext* acu, uint8_t protocol, uint8_t compression)
{
    DiagnosticRecord& d = acu->diag;
    const uint8_t code = protocol_code(protocol);
    at_diag_set(acu, DIAG_EC_PROTOCOL, code);
    if (code != 0)
        d.status |= kDiagStatusErrorControl;
    else
        d.status &= ~kDiagStatusErrorControl;
    at_diag_set(acu, DIAG_COMPRESSION, compression != 0 ? code : 0);
    at_diag_set(acu, DIAG_TX_SYMBOL_RATE, diag_symbol_rate(d.tx_symbol_index));
    at_diag_set(acu, DIAG_RX_SYMBOL_RATE, diag_symbol_rate(d.rx_symbol_index));
    at_diag_set(acu, DIAG_TX_CARRIER, diag_carrier(d.tx_symbol_index, d.tx_carrier_high != 0));
    at_diag_set(acu, DIAG_RX_CARRIER, diag_carrier(d.rx_symbol_index, d.rx_carrier_high != 0));
}

void at_diag_connected(AcuContext* acu)
{
    const ConnControl& c = acu->conn;
    DiagnosticRecord& d = acu->diag;
    d.status |= kDiagStatusConnected;
    d.statistics_on = 1;
    at_diag_set(acu, DIAG_MODULATION, c.modulation);
    at_diag_set(acu, DIAG_MODULATION2, c.modulation);
    at_diag_set(acu, DIAG_TX_START_RATE, c.initial_tx_rate);
    at_diag_set(acu, DIAG_RX_START_RATE, c.initial_rx_rate);
    at_diag_set(acu, DIAG_TX_FINAL_RATE, c.tx_rate);
    at_diag_set(acu, DIAG_RX_FINAL_RATE, c.rx_rate);
    at_diag_set(acu, DIAG_RETRAINS, c.retrains > 255 ? 255 : c.retrains);
    at_diag_set(acu, DIAG_RENEGOTIATIONS, c.renegotiations > 255 ? 255 : c.renegotiations);
    at_diag_set_protocol(acu, acu->ec_protocol, acu->compression_state);
}
