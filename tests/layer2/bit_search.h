// Bit streams of the synchronous paths (fax page data, synchronous access in transparent sub-mode): the
// receiver's octets start wherever its receiver started, so what was sent is looked for bit by bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bitsearch {

// The bits of the octets, least significant first (the order they go to the line).
inline std::vector<uint8_t> Bits(const std::string& bytes)
{
    std::vector<uint8_t> out;
    for (unsigned char c : bytes)
        for (int k = 0; k < 8; ++k)
            out.push_back(static_cast<uint8_t>((c >> k) & 1));
    return out;
}

// Where the bits of `want` stand in `got`, or -1.
inline long FindBits(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want)
{
    for (size_t at = 0; at + want.size() <= got.size(); ++at) {
        size_t k = 0;
        while (k < want.size() && got[at + k] == want[k])
            ++k;
        if (k == want.size())
            return static_cast<long>(at);
    }
    return -1;
}

}  // namespace bitsearch
