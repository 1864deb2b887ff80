// The built-in country data: the 964-byte country list and the 15 built-in country blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer2/corecode/cmd/country_block.h"

constexpr std::size_t COUNTRY_LIST_SIZE = 964;
constexpr std::size_t COUNTRY_LIST_MAX = 120;
constexpr std::size_t COUNTRY_ENTRY_SIZE = 8;
constexpr unsigned COUNTRY_BUILTIN_BLOCKS = 15;

// `CountryList`: u16 version (1), u16 count (1-120), then 120 `CountryListEntry` records of 8 bytes
// {u16 international dialling code, u8 T.35 country code, u8 built-in block index, ISO 3166 alpha-3 code and
// its zero}. Little-endian, exact.
struct CountryList {
    uint8_t bytes[COUNTRY_LIST_SIZE];
};
static_assert(sizeof(CountryList) == COUNTRY_LIST_SIZE);

struct CountryListEntry {
    uint16_t dial_code;
    uint8_t t35;
    uint8_t block;
    char iso[4];
};

uint16_t country_list_version(const CountryList& l);
unsigned country_list_count(const CountryList& l);  // as stored (not limited)
bool country_list_valid(const CountryList& l);      // version 1 and 1 <= count <= 120
bool country_list_entry(const CountryList& l, unsigned index, CountryListEntry* out);  // index < min(count,120)

const CountryList& country_builtin_list();
// Built-in block by index; an index of 15 or above gives block 0.
const CountryBlock& country_builtin_block(unsigned index);
