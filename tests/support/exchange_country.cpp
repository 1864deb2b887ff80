#include "support/exchange_country.h"

#include <cstring>

#include "layer2/corecode/cmd/country_builtin.h"

namespace linetest {

const CountryBlock& BuiltinCountryBlock(const char* iso)
{
    const CountryList& list = country_builtin_list();
    for (unsigned i = 0; i < country_list_count(list) && i < COUNTRY_LIST_MAX; ++i) {
        CountryListEntry e{};
        if (country_list_entry(list, i, &e) && std::strcmp(e.iso, iso) == 0)
            return country_builtin_block(e.block);
    }
    return country_builtin_block(0);
}

}  // namespace linetest
