// The download half of the table dialogue: the line reader on the command input and the table parser.
//
// Every write is bounded: a line that does not fit its buffer is dropped whole, and a value is staged only
// when all its bytes lie inside the table's size (the count still grows, so the table is refused as the
// wrong size).
#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/table_dialogue.h"
#include "layer2/corecode/cmd/table_dialogue_steps.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_router.h"

namespace {

constexpr uint8_t kDownloadStep = 4;
constexpr int kFieldMax = 15;

void print(AcuContext* acu, const char* text) { PrintToDte(acu, text, PRINT_TEXT); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit(char c)
{
    if (is_digit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "0x" and hexadecimal digits, "-" and decimal digits, or decimal digits; stops at the first other character.
int32_t read_number(const char** cursor)
{
    const char* p = *cursor;
    uint32_t v = 0;
    bool negative = false;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        for (int d; (d = hex_digit(*p)) >= 0; ++p)
            v = (v << 4) | static_cast<uint32_t>(d);
    } else {
        if (*p == '-') {
            negative = true;
            ++p;
        }
        for (; is_digit(*p); ++p)
            v = v * 10u + static_cast<uint32_t>(*p - '0');
    }
    *cursor = p;
    return negative ? static_cast<int32_t>(0u - v) : static_cast<int32_t>(v);
}

// The text after the first ':' up to the next ':' (at most 15 characters), read as a number; *rest is set
// after the second ':' (or the end). -1 when the line holds no ':'.
int32_t field_after_colon(const char* line, const char** rest)
{
    const char* colon = std::strchr(line, ':');
    if (colon == nullptr) {
        *rest = line;
        return -1;
    }
    char field[kFieldMax + 1];
    int n = 0;
    const char* p = colon + 1;
    for (; *p != 0 && *p != ':' && *p != '\n'; ++p)
        if (n < kFieldMax)
            field[n++] = *p;
    field[n] = 0;
    *rest = *p == ':' ? p + 1 : p;
    const char* f = field;
    return read_number(&f);
}

bool word_type(uint8_t type) { return type == 2 || type == 3 || type == 22 || type == 33; }
bool single_type(uint8_t type) { return type == 1 || type == 2 || type == 3; }
uint16_t count_step(uint8_t type) { return type == 1 || type == 11 ? 1 : 2; }

void choose_table(AcuContext* acu, const char* line)
{
    TableDialogue& t = acu->table_dialogue;
    const char* rest;
    const int32_t number = field_after_colon(line, &rest);
    uint16_t size = 0;
    const bool known = number >= 1 && number <= kTableCount &&
                       table_dialogue_place(acu, static_cast<unsigned>(number), &size) != nullptr;
    t.table = known ? static_cast<uint8_t>(number) : 0;
    t.expected = known ? size : 0;
    t.received = 0;
    t.item_type = 1;
    std::memset(t.staging, 0, sizeof t.staging);
    t.reader = READER_CHOSEN;
}

void stage_value(TableDialogue& t, int32_t value)
{
    const uint16_t width = word_type(t.item_type) ? 2 : 1;
    const uint32_t at = t.received;
    if (at + width <= t.expected && at + width <= sizeof t.staging) {
        t.staging[at] = static_cast<uint8_t>(value);
        if (width == 2)
            t.staging[at + 1] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> 8);
    }
    const uint32_t grown = at + count_step(t.item_type);
    t.received = static_cast<uint16_t>(grown > 0xFFFF ? 0xFFFF : grown);
}

void data_values(AcuContext* acu, const char* line)
{
    TableDialogue& t = acu->table_dialogue;
    if (t.received >= t.expected)
        return;
    const char* p = line;
    const int32_t type = field_after_colon(line, &p);
    if (type >= 0)
        t.item_type = static_cast<uint8_t>(type);
    bool first = true;
    while (*p != 0 && *p != '\n') {
        if (*p == ',') {
            ++p;
            continue;
        }
        const char* start = p;
        const int32_t value = read_number(&p);
        if (p == start) {
            ++p;  // a character that starts no number
            continue;
        }
        if (!first && single_type(t.item_type))
            break;
        stage_value(t, value);
        first = false;
    }
}

// "}" or "}#": the table is stored when its byte count is its size.
void end_table(AcuContext* acu)
{
    TableDialogue& t = acu->table_dialogue;
    uint16_t size = 0;
    uint8_t* place = t.table != 0 ? table_dialogue_place(acu, t.table, &size) : nullptr;
    if (place != nullptr && t.received == size && size <= sizeof t.staging) {
        std::memcpy(place, t.staging, size);
        print(acu, table_title(t.table));
        print(acu, "\n\r> ");
    } else {
        print(acu, "the received table has a wrong size\n\r");
    }
    t.table = 0;
    t.expected = 0;
    t.received = 0;
    t.reader = READER_FILE;
}

// One complete line (ended by LF). Returns true when it ended the download.
bool take_line(AcuContext* acu)
{
    TableDialogue& t = acu->table_dialogue;
    const char* line = t.line;
    if (t.fill < 2)
        return false;
    switch (line[0]) {
    case '<':
        t.reader = READER_FILE;
        t.received = 0;
        return false;
    case '{':
        if (t.reader == READER_FILE)
            t.reader = READER_TABLE;
        return false;
    case '}':
        end_table(acu);
        if (line[1] != '#')
            return false;
        table_dialogue_end(acu);
        acu_country_changed(acu);
        print(acu, "end\n\r\n\rOK\n\r");
        return true;
    default:
        if (t.reader == READER_TABLE)
            choose_table(acu, line);
        else if (t.reader == READER_CHOSEN)
            data_values(acu, line);
        return false;
    }
}

// Reads the waiting characters; true when a line ended the download.
bool read_input(AcuContext* acu)
{
    TableDialogue& t = acu->table_dialogue;
    while (acu->dte != nullptr && dte_cmd_in_count(acu->dte) != 0) {
        const char c = static_cast<char>(dte_cmd_in_get(acu->dte));
        if (c == '\r' || c == '\n') {
            bool ended = false;
            if (!t.overlong && t.fill > 0) {
                t.line[t.fill++] = '\n';
                t.line[t.fill] = 0;
                ended = take_line(acu);
            }
            t.fill = 0;
            t.comment = 0;
            t.overlong = 0;
            if (ended)
                return true;
            continue;
        }
        if (c == ' ' || c == '\t' || t.comment || t.overlong)
            continue;
        if (c == ';') {
            t.comment = 1;
            continue;
        }
        // Room is kept for the LF and the terminator.
        if (t.fill + 2 >= kTableLineMax) {
            t.overlong = 1;
            continue;
        }
        t.line[t.fill++] = c;
    }
    return false;
}

}  // namespace

void table_download_start(AcuContext* acu, DspMessageNode* node)
{
    TableDialogue& t = acu->table_dialogue;
    if (t.state != TABLE_IDLE && t.state != 4)
        return;
    t.state = TABLE_DOWNLOAD_STARTED;
    t.fill = 0;
    t.comment = 0;
    t.overlong = 0;
    t.reader = READER_NONE;
    t.table = 0;
    t.expected = 0;
    t.received = 0;
    table_dialogue_timers(acu);
    t.mode = TABLE_MODE_DOWNLOAD;
    if (acu->dte != nullptr)
        dte_cmd_in_clear(acu->dte);
    print(acu, "\n\r> ");
    table_dialogue_repost(acu, node, kDownloadStep);
}

void table_download_step(AcuContext* acu, DspMessageNode* node)
{
    TableDialogue& t = acu->table_dialogue;
    if (t.state != TABLE_DOWNLOAD_STARTED && t.state != TABLE_RECEIVING)
        return;
    if (t.mode == TABLE_MODE_OFF) {
        table_dialogue_end(acu);
        print(acu, "end\n\r");
        return;
    }
    if (acu->dte != nullptr && dte_cmd_in_count(acu->dte) != 0) {
        table_dialogue_cancel_first(acu);
        if (read_input(acu))
            return;
    }
    t.state = TABLE_RECEIVING;
    table_dialogue_repost(acu, node, kDownloadStep);
}
