// "I34": the physical-link screen, printed from the diagnostic record and the link readings beside it.
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/diag_record.h"
#include "window/parameter_ids.h"

namespace {

constexpr uint16_t kTrellisBits = 3u << kDiagOptionTrellisShift;
constexpr int kTrellisShift = kDiagOptionTrellisShift;
constexpr uint16_t kNonlinearBit = kDiagOptionNonlinear;
constexpr uint16_t kConstellationBit = kDiagOptionExpanded;

uint32_t trellis_states(uint16_t option)
{
    static constexpr uint32_t kStates[4] = {16, 32, 64, 0};
    return kStates[(option & kTrellisBits) >> kTrellisShift];
}

uint32_t as_arg(int32_t v) { return static_cast<uint32_t>(v); }

void line2(AcuContext* acu, const char* format, uint32_t a, uint32_t b)
{
    at_format_reset(acu);
    at_format_arg(acu, a);
    at_format_arg(acu, b);
    at_format_print(acu, format);
}

void line_texts(AcuContext* acu, const char* format, const char* a, const char* b)
{
    at_format_reset(acu);
    at_format_text(acu, a);
    at_format_text(acu, b);
    at_format_print(acu, format);
}

// The screen's own four reads: the option words and the two offsets (a read that gives no value keeps what
// the record held).
void read_link(AcuContext* acu)
{
    DiagLinkReadings& r = acu->diag.link;
    uint32_t v;
    if (diag_read_memory(acu, kMemStatTxOptions, 2, &v))
        r.tx_option = static_cast<uint16_t>(v);
    if (diag_read_memory(acu, kMemStatRxOptions, 2, &v))
        r.rx_option = static_cast<uint16_t>(v);
    if (diag_read_memory(acu, kMemStatFarOffset, 4, &v))
        r.offset = static_cast<int32_t>(v);
    if (diag_read_memory(acu, kMemStatTimingOffset, 2, &v))
        r.timing_offset = static_cast<int16_t>(static_cast<uint16_t>(v));
}

}  // namespace

void ShowLinkDiagnostic(AcuContext* acu)
{
    read_link(acu);
    const DiagLinkReadings& r = acu->diag.link;
    at_format_reset(acu);
    at_format_print(acu, "\r\nMorva Software Modem Physycal Link Diagnostic\r\n\r\n");
    at_format_print(acu, "Modulation  V34       :    TX/P2       RX/P4\r\n");
    line2(acu, "Baud rate, baud       :    %d          %d\r\n", at_diag_get(acu, DIAG_TX_SYMBOL_RATE),
          at_diag_get(acu, DIAG_RX_SYMBOL_RATE));
    line2(acu, "Carrier, Hz           :    %d          %d\r\n", at_diag_get(acu, DIAG_TX_CARRIER),
          at_diag_get(acu, DIAG_RX_CARRIER));
    line2(acu, "Start bit rate, bps   :    %d         %d\r\n", at_diag_get(acu, DIAG_TX_START_RATE),
          at_diag_get(acu, DIAG_RX_START_RATE));
    line2(acu, "Final bit rate, bps   :    %d         %d\r\n", at_diag_get(acu, DIAG_TX_FINAL_RATE),
          at_diag_get(acu, DIAG_RX_FINAL_RATE));
    line2(acu, "Trellis codec         :    %d            %d\r\n", trellis_states(r.tx_option),
          trellis_states(r.rx_option));
    line_texts(acu, "Nonlinear codec       :    %s           %s\r\n", (r.tx_option & kNonlinearBit) ? "YES" : "NO ",
               (r.rx_option & kNonlinearBit) ? "YES" : "NO ");
    line_texts(acu, "Constellation type    :    %s           %s\r\n",
               (r.tx_option & kConstellationBit) ? "Exp" : "Min", (r.rx_option & kConstellationBit) ? "Exp" : "Min");
    line2(acu, "Signal level, -dBm    :    %d            %d\r\n", at_diag_get(acu, DIAG_TX_LEVEL),
          at_diag_get(acu, DIAG_RX_LEVEL));
    const int32_t rx_snr = r.rx_snr >= 0 ? r.rx_snr / 256 : -((-r.rx_snr + 255) / 256);
    line2(acu, "SNR, -dBm             :    %d            %d\r\n", as_arg(r.tx_snr * 3 / 1024), as_arg(rx_snr));
    const int32_t far_offset = static_cast<int32_t>(static_cast<int64_t>(r.offset) * 88 / 65536) / 3;
    const int32_t own_offset = static_cast<int32_t>(static_cast<int64_t>(r.frequency) *
                                                     at_diag_get(acu, DIAG_RX_SYMBOL_RATE) * 100 / 360);
    line2(acu, "Frequency offset,.01Hz:    %4d         %d\r\n", as_arg(far_offset), as_arg(own_offset));
    line2(acu, "Timing offset, ppm    :    %4d         %4d\r\n", as_arg(r.timing_offset / 109),
          as_arg(r.timing / 1518));
    line2(acu, "Round trip delay, ms  :    %d\r\n", at_diag_get(acu, DIAG_DELAY), 0);
    line2(acu, "Near echo loss, -dBm  :    %d\r\n", at_diag_get(acu, DIAG_NEAR_ECHO), 0);
    line2(acu, "Far echo loss, -dBm   :    %d\r\n", at_diag_get(acu, DIAG_FAR_ECHO), 0);
}
