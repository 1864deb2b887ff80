// The data of the compression benchmarks: the system's licence text (or generated text of about its size
// when the system has none) and a mebibyte of random octets, the same on every run.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace compression_corpus {

inline std::vector<uint8_t> licence_text()
{
    std::ifstream f("/usr/share/common-licenses/GPL-3", std::ios::binary);
    std::vector<uint8_t> out((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (out.size() < 1000) {
        const char* words[] = {"the ", "program ", "license ", "of ", "and ", "work ", "to ", "you ", "free ",
                               "software ", "copy ", "source ", "code ", "terms ", "conditions\n"};
        uint32_t x = 1;
        while (out.size() < 35000) {
            x = x * 1103515245u + 12345u;
            const char* w = words[(x >> 16) % 15];
            out.insert(out.end(), w, w + std::strlen(w));
        }
    }
    return out;
}

inline std::vector<uint8_t> random_data()
{
    std::vector<uint8_t> out(1 << 20);
    uint32_t x = 2463534242u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 7);
    }
    return out;
}

// 0: the text, 1: the random data.
inline const std::vector<uint8_t>& corpus(int which)
{
    static const std::vector<uint8_t> text = licence_text();
    static const std::vector<uint8_t> noise = random_data();
    return which == 0 ? text : noise;
}

} // namespace compression_corpus
