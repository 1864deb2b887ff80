// Country list, country selection and block overrides.
#include "layer2/corecode/cmd/country.h"

#include <cstdio>
#include <cstring>

#include "layer2/corecode/cmd/reg_access.h"

void country_list_load(CoreSettings* s)
{
    // One byte more than the list, so that an oversized value is refused rather than cut.
    static_assert(COUNTRY_LIST_SIZE < 2048);
    uint8_t buffer[COUNTRY_LIST_SIZE + 1];
    ULONG length = sizeof buffer;
    std::memcpy(&s->list, &country_builtin_list(), sizeof s->list);
    if (reg_read_value(s, REG_KEY_DEVICE, "CountryLst", REG_BINARY, buffer, &length) != REG_OK)
        return;  // missing: the built-in list
    if (length != COUNTRY_LIST_SIZE) {
        DbgPrint("country_list_load: CountryLst has %u bytes, expected %u; built-in list used\n",
                 static_cast<unsigned>(length), static_cast<unsigned>(COUNTRY_LIST_SIZE));
        return;
    }
    CountryList candidate;
    std::memcpy(candidate.bytes, buffer, COUNTRY_LIST_SIZE);
    if (!country_list_valid(candidate)) {
        DbgPrint("country_list_load: CountryLst version %u count %u invalid; built-in list used\n",
                 country_list_version(candidate), country_list_count(candidate));
        return;
    }
    s->list = candidate;
}

void country_load_block(CoreSettings* s)
{
    char name[16];
    std::snprintf(name, sizeof name, "KVZ%u", static_cast<unsigned>(s->current.block));
    uint8_t buffer[COUNTRY_BLOCK_SIZE + 1];
    ULONG length = sizeof buffer;
    if (reg_read_value(s, REG_KEY_DEVICE, name, REG_BINARY, buffer, &length) == REG_OK) {
        CountryBlock candidate;
        if (length == COUNTRY_BLOCK_SIZE) {
            std::memcpy(candidate.bytes, buffer, COUNTRY_BLOCK_SIZE);
            if (cb_format_ok(candidate)) {
                s->block = candidate;
                return;
            }
            DbgPrint("country_load_block: %s has format word %u, expected 3; ignored\n", name,
                     cb_u16(candidate, 0));
        } else {
            DbgPrint("country_load_block: %s has %u bytes, expected %u; ignored\n", name,
                     static_cast<unsigned>(length), static_cast<unsigned>(COUNTRY_BLOCK_SIZE));
        }
    }
    s->block = country_builtin_block(s->current.block);
}

void country_select(CoreSettings* s)
{
    // The default country is the list's first entry.
    if (!country_list_entry(s->list, 0, &s->current))
        country_list_entry(country_builtin_list(), 0, &s->current);
    uint8_t value[4] = {};
    ULONG length = sizeof value;
    if (reg_read_value(s, REG_KEY_DEVICE, "CurrentCountry", REG_DWORD, value, &length) != REG_OK ||
        length != sizeof value) {
        country_current_store(s);
        country_load_block(s);
        return;
    }
    uint32_t code = static_cast<uint32_t>(value[0]) | (static_cast<uint32_t>(value[1]) << 8) |
                    (static_cast<uint32_t>(value[2]) << 16) | (static_cast<uint32_t>(value[3]) << 24);
    CountryListEntry e;
    bool found = false;
    for (unsigned i = 0; country_list_entry(s->list, i, &e); ++i) {
        if (e.dial_code == code) {
            s->current = e;
            found = true;
            break;
        }
    }
    if (!found)
        DbgPrint("country_select: CurrentCountry %u is not in the country list; default kept\n",
                 static_cast<unsigned>(code));
    country_load_block(s);
}

bool country_choose(CoreSettings* s, unsigned index)
{
    CountryListEntry e;
    if (!country_list_entry(s->list, index, &e))
        return false;
    s->current = e;
    country_current_store(s);
    country_load_block(s);
    return true;
}

int country_find_t35(const CoreSettings* s, uint8_t t35)
{
    CountryListEntry e;
    for (unsigned i = 0; country_list_entry(s->list, i, &e); ++i)
        if (e.t35 == t35)
            return static_cast<int>(i);
    return -1;
}

int country_block_store(CoreSettings* s, const char* name, const CountryBlock* block)
{
    return reg_write_value(s, REG_KEY_DEVICE, name, REG_BINARY, block->bytes, COUNTRY_BLOCK_SIZE);
}

int country_current_store(CoreSettings* s)
{
    uint32_t code = s->current.dial_code;
    uint8_t value[4] = {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8), 0, 0};
    return reg_write_value(s, REG_KEY_DEVICE, "CurrentCountry", REG_DWORD, value, sizeof value);
}
