// The start-octet exchange of a V.8 call set-up. The data pump runs the tones (ANSam and its recognition) and
// V.21; connection control sends this side's menu through the line block's start-up path and reads the far
// end's. The caller sends its call menu when the pump asks for it and answers the joint menu with three zero
// octets; the answerer answers the call menu with its joint menu. Each side then carries the pump on with a
// second start packet naming the modulation both menus share.
#include <cstring>

#include "layer2/corecode/cmd/at_ext.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "platform/dbg.h"

namespace {

static_assert(kFarOctetsMax >= LINE_STARTUP_MESSAGE_MAX + 1, "the far end's menu fits as the line block keeps it");

// What the data pump's V.8 procedure reports in register 56.
constexpr uint8_t kProgressAnswerTone = 6;   // plain answer tone: no V.8 answerer
constexpr uint8_t kProgressMenuWanted = 32;  // the caller may send its call menu now
constexpr uint8_t kProgressMenuWantedEarly = 31;
constexpr uint8_t kProgressV8Running = 34;

constexpr uint8_t kResultMenus = 7;
constexpr uint8_t kResultIndicators = 8;
constexpr uint8_t kA8eDteAnswer = 5;         // +A8E answer option: the DTE takes part in the answer
constexpr uint8_t kCallFunctionMode2 = 0x21; // +A8E call-function byte that sends call indicators
constexpr uint8_t kIndicatorGroups = 10;
constexpr uint16_t kIndicatorRepeatTicks = 200;
constexpr uint8_t kIndicatorsToReport = 3;
constexpr uint8_t kClosingZeros = 3;
constexpr uint8_t kDisconnectNoV8Answerer = 66;

enum V8Step : uint8_t {
    STEP_START = 0,
    STEP_INDICATORS = 1,
    STEP_WAIT_PROCEDURE = 2,
    STEP_WAIT_MENU_REQUEST = 3,
    STEP_WAIT_JOINT_MENU = 4,
    STEP_WAIT_CLOSING = 5,
    STEP_WAIT_CALL_MENU = 6,
    STEP_END = 7,
};

LineBlock* line_of(AcuContext* acu) { return acu->dte != nullptr ? acu->dte->line_block : nullptr; }

uint8_t progress(AcuContext* acu) { return acu->dsp != nullptr ? acu->dsp->line.progress : 0; }

bool allowed(const AcuContext* acu, uint8_t code)
{
    const int row = ms_row_of_code(code);
    return row >= 0 && acu->ext.ma_selected[row] != 0;
}

void report(AcuContext* acu, uint8_t kind, uint8_t value)
{
    const uint8_t data[2] = {value, 0};
    at_report_a8(acu, kind, data, acu->conn.originate == 0);
}

void send_block(AcuContext* acu, const uint8_t* bytes, uint8_t length, bool repeat)
{
    if (LineBlock* lb = line_of(acu))
        lb_send_block(lb, bytes, length, repeat);
}

void send_own_octets(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    send_block(acu, c.own_octets, c.own_length, true);
}

// The far end's menu, when the line block has accepted one.
bool far_menu_arrived(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    LineBlock* lb = line_of(acu);
    if (lb == nullptr)
        return false;
    uint8_t message[kFarOctetsMax];
    const uint8_t n = lb_rx_msg_get(lb, message);
    if (n == 0)
        return false;
    std::memcpy(c.far_octets, message, n + 1u);
    c.far_length = n;
    return true;
}

// Narrows this side's octets to what both menus share and picks the modulation; without one the call ends.
bool choose(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    const uint8_t modulation =
        conn_parse_v8_menu(c.far_octets, c.far_length, c.own_octets, c.own_length, allowed(acu, MOD_V32BIS),
                           allowed(acu, MOD_V22BIS), acu->ext.a8e[2]);
    if (modulation == MOD_NONE) {
        // The call ends: the data pump would otherwise go on to its own fall-back and connect regardless.
        DbgPrint("V.8: no common modulation\n");
        c.disconnect_reason = DISC_NO_COMMON_MODULATION;
        acu->seq.disconnect_reason = DISC_NO_COMMON_MODULATION;
        conn_hangup(acu, 1);
        acu_hang_up_no_carrier(acu);
        return false;
    }
    conn_send_v8_choice(acu, modulation);
    return true;
}

void send_indicators(AcuContext* acu)
{
    uint8_t groups[3 * kIndicatorGroups];
    for (int k = 0; k < kIndicatorGroups; ++k) {
        groups[3 * k] = 0xFF;
        groups[3 * k + 1] = 0;
        groups[3 * k + 2] = static_cast<uint8_t>(acu->ext.a8e[2] | 1u);
    }
    send_block(acu, groups, sizeof groups, false);
    acu->conn.v8_countdown = kIndicatorRepeatTicks;
}

void originate_step(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    const uint8_t r = progress(acu);
    switch (c.v8_step) {
    case STEP_START:
        c.v8_step = STEP_INDICATORS;
        break;
    case STEP_INDICATORS:
        if (acu->ext.a8e[2] == kCallFunctionMode2)
            send_indicators(acu);
        c.v8_step = STEP_WAIT_PROCEDURE;
        break;
    case STEP_WAIT_PROCEDURE:
        if (r == kProgressAnswerTone) {
            c.v8_result = kResultMenus;
            report(acu, A8_A, 2);
            c.v8_step = STEP_END;
        } else if (r == kProgressV8Running) {
            c.v8_step = STEP_WAIT_MENU_REQUEST;
        } else if (c.v8_countdown == 0 && acu->ext.a8e[2] == kCallFunctionMode2) {
            c.v8_step = STEP_INDICATORS;
        }
        break;
    case STEP_WAIT_MENU_REQUEST:
        if (r == kProgressMenuWanted || r == kProgressMenuWantedEarly) {
            c.v8_result = kResultMenus;
            send_own_octets(acu);
            report(acu, A8_A, 1);
            c.v8_step = STEP_WAIT_JOINT_MENU;
        } else if (r == kProgressAnswerTone) {
            // The answerer is no V.8 modem: the pump goes on to V.32bis and its fall-backs.
            c.v8_result = kResultMenus;
            if (acu->fax_class == 0)
                c.disconnect_reason = kDisconnectNoV8Answerer;
            report(acu, A8_A, 2);
            c.v8_step = STEP_END;
        }
        break;
    case STEP_WAIT_JOINT_MENU: {
        if (!far_menu_arrived(acu))
            break;
        at_report_a8(acu, A8_M, c.far_octets, false);
        static const uint8_t kClosing[kClosingZeros] = {0, 0, 0};
        send_block(acu, kClosing, kClosingZeros, false);
        if (!choose(acu))
            return;
        report(acu, A8_J, 1);
        c.v8_step = STEP_END;
        break;
    }
    default:
        // The closing zeros may still wait for the data pump: the block stays.
        c.v8_exchange = 0;
        break;
    }
}

void answer_step(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    LineBlock* lb = line_of(acu);
    switch (c.v8_step) {
    case STEP_START:
        c.v8_step = STEP_WAIT_CALL_MENU;
        break;
    case STEP_WAIT_CALL_MENU:
        if (lb != nullptr && lb_rx_msg_indicators(lb) >= kIndicatorsToReport) {
            c.v8_result = kResultIndicators;
            report(acu, A8_I, acu->ext.a8e[2]);
            lb_rx_msg_clear_indicators(lb);
        }
        if (!far_menu_arrived(acu))
            break;
        c.v8_result = kResultMenus;
        report(acu, A8_I, c.far_length > 1 ? c.far_octets[1] : 0);
        at_report_a8(acu, A8_M, c.far_octets, true);
        if (!choose(acu))
            return;
        send_own_octets(acu);
        if (lb != nullptr)
            lb_rx_msg_count_zeros(lb);
        c.v8_step = STEP_WAIT_CLOSING;
        break;
    case STEP_WAIT_CLOSING:
        if (lb != nullptr && lb_rx_msg_zeros(lb) >= kClosingZeros) {
            report(acu, A8_J, 1);
            c.v8_step = STEP_END;
        }
        break;
    default:
        conn_v8_end(acu);
        break;
    }
}

}  // namespace

bool conn_v8_wanted(const AcuContext* acu, bool originate)
{
    if (acu->fax_class != 0 || acu->voice_mode)
        return false;
    return originate ? acu->ext.a8e[0] != 0 : acu->ext.a8e[1] != 0;
}

void conn_v8_begin(AcuContext* acu, bool originate)
{
    ConnControl& c = acu->conn;
    const AtExtSettings& e = acu->ext;
    ConnV8Allowed a{};
    a.v32bis = allowed(acu, MOD_V32BIS);
    a.v32 = allowed(acu, MOD_V32);
    a.v22bis = allowed(acu, MOD_V22BIS);
    a.v22 = allowed(acu, MOD_V22);
    a.v21 = allowed(acu, MOD_V21);
    a.v23 = allowed(acu, MOD_V23_ADX);
    // The V.34 and PCM pumps carry no data yet: the menu offers what is built.
    a.higher_first = 0;
    a.higher_second = 0;
    a.lapm = (originate ? acu->set.es[0] : acu->set.es[2]) >= 2 ? 1 : 0;
    std::memset(c.own_octets, 0, sizeof c.own_octets);
    c.own_length = static_cast<uint8_t>(conn_build_start_octets(a, e.a8e[2], c.own_octets));
    c.far_length = 0;
    c.far_octets[0] = 0;
    c.v8_step = STEP_START;
    c.v8_result = 0;
    c.v8_countdown = 0;
    c.v8_exchange = 1;
    if (LineBlock* lb = line_of(acu))
        lb_startup_begin(lb);
}

void conn_v8_step(AcuContext* acu)
{
    ConnControl& c = acu->conn;
    if (!c.v8_exchange)
        return;
    if (c.state == CONN_ORIGINATING)
        originate_step(acu);
    else if (c.state == CONN_ANSWERING)
        answer_step(acu);
}

void conn_v8_end(AcuContext* acu)
{
    if (LineBlock* lb = line_of(acu))
        lb_send_block_clear(lb);
    acu->conn.v8_exchange = 0;
}
