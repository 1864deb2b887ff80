#include "layer2/corecode/cmd/at_parser.h"

#include <cstring>

#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/cmd/at_tables.h"

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Length of the remaining line, counted up to 255.
unsigned remaining_length(const char* p)
{
    unsigned n = 0;
    while (n < 255 && p[n] != 0)
        ++n;
    return n;
}

bool name_matches(const char* name, const char* text, unsigned n)
{
    for (unsigned k = 0; k < n; ++k) {
        char a = upper(name[k]);
        char b = upper(text[k]);
        if (a == 0 || b == 0 || a != b)
            return false;
    }
    return true;
}

}  // namespace

uint8_t at_table_list_op(AcuContext* acu, uint8_t op, const AtCommandEntry* table)
{
    switch (op) {
    case TABLES_CLEAR:
        acu->table_count = 0;
        break;
    case TABLES_SAVE_AND_EMPTY:
        std::memcpy(acu->saved_tables, acu->tables, sizeof acu->tables);
        acu->saved_count = acu->table_count;
        acu->table_count = 0;
        break;
    case TABLES_RESTORE:
        if (acu->saved_count != 0) {
            std::memcpy(acu->tables, acu->saved_tables, sizeof acu->tables);
            acu->table_count = acu->saved_count;
        }
        break;
    case TABLES_ADD_FRONT:
        if (table != nullptr && !at_table_registered(acu, table) && acu->table_count < AT_MAX_TABLES) {
            std::memmove(&acu->tables[1], &acu->tables[0], acu->table_count * sizeof acu->tables[0]);
            acu->tables[0] = table;
            ++acu->table_count;
        }
        break;
    case TABLES_REMOVE:
        for (unsigned k = 0; k < acu->table_count; ++k) {
            if (acu->tables[k] == table) {
                std::memmove(&acu->tables[k], &acu->tables[k + 1],
                             (acu->table_count - k - 1) * sizeof acu->tables[0]);
                --acu->table_count;
                break;
            }
        }
        break;
    default:
        break;
    }
    acu->tables[acu->table_count] = nullptr;
    return acu->table_count;
}

bool at_table_registered(const AcuContext* acu, const AtCommandEntry* table)
{
    for (unsigned k = 0; k < acu->table_count; ++k)
        if (acu->tables[k] == table)
            return true;
    return false;
}

void at_begin_line(AcuContext* acu, const char* text)
{
    acu->table_index = 0;
    acu->entry_index = 0;
    acu->cursor = text;
    acu->parser_state = 1;
}

void at_prepare_line(char* text)
{
    // Spaces outside quotes go; every quote toggles the inside state.
    bool inside = false;
    char* out = text;
    for (char* p = text; *p != 0; ++p) {
        if (*p == '"')
            inside = !inside;
        if (*p == ' ' && !inside)
            continue;
        *out++ = *p;
    }
    *out = 0;
    // Upper case outside a quote and its closing partner; a quote without a partner protects nothing.
    for (char* p = text; *p != 0; ++p) {
        if (*p == '"') {
            char* close = std::strchr(p + 1, '"');
            if (close != nullptr) {
                p = close;
                continue;
            }
        }
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 32);
    }
}

int at_execute_step(AcuContext* acu)
{
    if (acu->parser_state == 1) {
        at_prepare_line(const_cast<char*>(acu->cursor));
        acu->parser_state = 2;
    }
    int r = ExecuteNextCommand(acu);
    if (r == 1)
        at_set_error(acu);
    if (r == 2)
        acu->parser_state = 0;
    return r;
}

int ExecuteNextCommand(AcuContext* acu)
{
    unsigned remaining = remaining_length(acu->cursor);
    if (remaining == 0)
        return 2;
    const AtCommandEntry* hit = nullptr;
    while (hit == nullptr) {
        if (acu->table_index >= acu->table_count)
            return 1;
        const AtCommandEntry* table = acu->tables[acu->table_index];
        for (; table[acu->entry_index].name[0] != 0; ++acu->entry_index) {
            const AtCommandEntry* e = &table[acu->entry_index];
            unsigned n = static_cast<unsigned>(std::strlen(e->name));
            if (n <= remaining && name_matches(e->name, acu->cursor, n)) {
                hit = e;
                acu->cursor += n;
                break;
            }
        }
        if (hit == nullptr) {
            ++acu->table_index;
            acu->entry_index = 0;
        }
    }
    acu->matched = hit;
    if (ScanArguments(acu, hit->arg_type) != 0)
        return 1;
    // An extended-syntax command must be followed by ";" or the end of the line. The check comes before the
    // handler, so a command answered with "ERROR" for what follows it has changed nothing.
    if (hit->flags & AT_FLAG_EXTENDED) {
        if (*acu->cursor == ';')
            ++acu->cursor;
        else if (*acu->cursor != 0)
            return 1;
    }
    if (hit->handler != nullptr)
        hit->handler(acu, acu->args);
    if ((hit->flags & AT_FLAG_KEEP_SEARCH) == 0) {
        acu->table_index = 0;
        acu->entry_index = 0;
    }
    return 0;
}

uint8_t at_run_stored_line(AcuContext* acu)
{
    acu->command_error = 0;
    at_begin_line(acu, acu->line);
    for (;;) {
        int r = at_execute_step(acu);
        if (r != 0 || acu->command_error)
            break;
    }
    dte_wait_output_drained(acu);
    return acu->command_error;
}

void at_validation_mode(AcuContext* acu, uint8_t on)
{
    if (on == 1) {
        at_table_list_op(acu, TABLES_SAVE_AND_EMPTY, nullptr);
        at_table_list_op(acu, TABLES_ADD_FRONT, ValidationCommands);
        acu->validation_active = 1;
    } else if (on == 0) {
        at_table_list_op(acu, TABLES_REMOVE, ValidationCommands);
        at_table_list_op(acu, TABLES_RESTORE, nullptr);
        acu->validation_active = 0;
    } else {
        at_set_error(acu);
    }
}
