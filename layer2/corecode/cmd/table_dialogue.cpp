// The table dialogue's steps: upload printing, download line reading, the table parser and the ends.
#include "layer2/corecode/cmd/table_dialogue.h"
#include "layer2/corecode/cmd/table_dialogue_steps.h"

#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_router.h"

namespace {

enum TableMsgType : uint8_t {
    kTableReset = 1,
    kTableDownload = 2,
    kTableDownloadStep = 4,
    kTableUpload = 5,
    kTableUploadStep = 6,
};

constexpr uint8_t kRingClassEnd = 5;  // the ring class's message that ends the dialogue
constexpr unsigned kUploadLineBytes = 16;

// clang-format off
const char* const kTitles[kTableCount + 1] = {
    nullptr, "general flag table", "general parameter table", "voice dtmf level", "dtmf frequency table",
    "FILTER table", "TONE table", "DAA table", "black listing parameter", "S-Resister table", "RING table",
};
// clang-format on

constexpr uint16_t kDtmfTableNumber = 4;

TableDialogue& td(AcuContext* acu) { return acu->table_dialogue; }

DspMessageQueue* queue_of(AcuContext* acu)
{
    DspLineControl* lc = acu_line(acu);
    return lc != nullptr ? lc->queue : nullptr;
}

void print(AcuContext* acu, const char* text) { PrintToDte(acu, text, PRINT_TEXT); }

// The table's bytes in the country block (or the DTMF table beside the dialogue); null when there is none.
uint8_t* table_place(AcuContext* acu, unsigned number, uint16_t* size)
{
    const CountryTablePlace place = cb_table_place(number);
    *size = place.size;
    if (place.size == 0)
        return nullptr;
    if (number == kDtmfTableNumber)
        return td(acu).dtmf;
    if (acu->settings == nullptr)
        return nullptr;
    return acu->settings->block.bytes + place.offset;
}

void cancel_timer(AcuContext* acu, uint8_t* id)
{
    DspMessageQueue* q = queue_of(acu);
    if (q == nullptr || *id == 0) {
        *id = 0;
        return;
    }
    DspTimerRequest r{};
    r.list = &q->timers;
    r.id = *id;
    dsp_timer_cancel(&r);
    *id = 0;
}

void timer_expired(void* arg) { static_cast<AcuContext*>(arg)->table_dialogue.mode = TABLE_MODE_OFF; }

void start_timer(AcuContext* acu, uint8_t* id, uint32_t ms)
{
    DspMessageQueue* q = queue_of(acu);
    cancel_timer(acu, id);
    if (q != nullptr)
        dsp_timer_arm(&q->timers, id, ms, kTimerCall1, reinterpret_cast<void*>(timer_expired), acu, nullptr);
}

// The common end of both directions: timers off, pending input discarded, mode and state 0.
void finish(AcuContext* acu)
{
    TableDialogue& t = td(acu);
    cancel_timer(acu, &t.timer_first);
    cancel_timer(acu, &t.timer_whole);
    if (acu->dte != nullptr)
        dte_cmd_in_clear(acu->dte);
    t.mode = TABLE_MODE_OFF;
    t.state = TABLE_IDLE;
    if (DspMessageQueue* q = queue_of(acu))
        dsp_msg_send(q, kMsgRing, kRingClassEnd, false, nullptr, 0);
}

void repost(AcuContext* acu, DspMessageNode* node, uint8_t type)
{
    DspMessageQueue* q = queue_of(acu);
    if (q == nullptr)
        return;
    node->type = type;
    dsp_msg_post(q, node);
}

// ---- upload ----

void upload_start(AcuContext* acu, DspMessageNode* node)
{
    TableDialogue& t = td(acu);
    const unsigned number = node->payload[0];
    uint16_t size = 0;
    const uint8_t* place = table_place(acu, number, &size);
    if ((t.state != TABLE_IDLE && t.state != 4) || place == nullptr)
        return;
    print(acu, "\n\r");
    print(acu, kTitles[number]);
    print(acu, " <\n\r");
    t.source = place;
    t.size = size;
    t.position = 0;
    t.state = TABLE_UPLOADING;
    t.mode = TABLE_MODE_UPLOAD;
    if (acu->dte != nullptr)
        dte_cmd_in_clear(acu->dte);
    repost(acu, node, kTableUploadStep);
}

void upload_step(AcuContext* acu, DspMessageNode* node)
{
    TableDialogue& t = td(acu);
    if (t.state != TABLE_UPLOADING || t.source == nullptr)
        return;
    const unsigned left = static_cast<unsigned>(t.size - t.position);
    const unsigned count = left < kUploadLineBytes ? left : kUploadLineBytes;
    char line[kHexDumpChars(kUploadLineBytes) + 2];
    at_hex_dump(line, t.source + t.position, count);
    t.position = static_cast<uint16_t>(t.position + count);
    std::strcat(line, "\r\n");
    print(acu, line);
    if (t.position < t.size) {
        repost(acu, node, kTableUploadStep);
        return;
    }
    print(acu, "\r\n>\r\n");
    t.source = nullptr;
    finish(acu);
}

}  // namespace

const char* table_title(unsigned number) { return number >= 1 && number <= kTableCount ? kTitles[number] : nullptr; }

void table_dialogue_end(AcuContext* acu) { finish(acu); }
void table_dialogue_repost(AcuContext* acu, DspMessageNode* node, uint8_t type) { repost(acu, node, type); }
void table_dialogue_timers(AcuContext* acu)
{
    start_timer(acu, &acu->table_dialogue.timer_first, kDownloadFirstWaitMs);
    start_timer(acu, &acu->table_dialogue.timer_whole, kDownloadWholeWaitMs);
}
void table_dialogue_cancel_first(AcuContext* acu) { cancel_timer(acu, &acu->table_dialogue.timer_first); }
uint8_t* table_dialogue_place(AcuContext* acu, unsigned number, uint16_t* size)
{
    return table_place(acu, number, size);
}

void table_dialogue_attach(AcuContext* acu)
{
    DspMessageQueue* q = queue_of(acu);
    if (q == nullptr)
        return;
    DspHandlerRequest r{kMsgTable, dsp_on_table_msg, acu};
    dsp_msg_register_handler(q, &r);
}

void dsp_on_table_msg(DspMessageNode* node, void* user)
{
    AcuContext* acu = static_cast<AcuContext*>(user);
    TableDialogue& t = td(acu);
    switch (node->type) {
    case kTableReset: {
        uint8_t dtmf[kDtmfTableSize];
        std::memcpy(dtmf, t.dtmf, sizeof dtmf);
        cancel_timer(acu, &t.timer_first);
        cancel_timer(acu, &t.timer_whole);
        std::memset(&t, 0, sizeof t);
        std::memcpy(t.dtmf, dtmf, sizeof dtmf);
        break;
    }
    case kTableDownload: table_download_start(acu, node); break;
    case kTableDownloadStep: table_download_step(acu, node); break;
    case kTableUpload: upload_start(acu, node); break;
    case kTableUploadStep: upload_step(acu, node); break;
    default: break;
    }
}
