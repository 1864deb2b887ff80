#include "ec/v42bis_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace v42bis_test {

uint32_t next_random(uint32_t* state)
{
    // xorshift32: fast and the same everywhere.
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return x;
}

Bytes make_text(size_t n, uint32_t seed)
{
    static const char* const kWords[] = {
        "the", "modem", "line", "data", "of", "and", "to", "a", "in", "is", "that", "for", "it", "with",
        "as", "was", "on", "be", "at", "by", "this", "compression", "dictionary", "string", "character",
        "transmit", "receive", "error", "control", "frame", "link", "program", "software", "license",
        "copy", "distribute", "modify", "terms", "conditions", "work", "source", "code", "free", "you",
        "may", "not", "or", "any", "other", "under", "version", "General", "Public", "License", "GNU"};
    constexpr size_t kCount = sizeof(kWords) / sizeof(kWords[0]);
    uint32_t state = seed | 1;
    Bytes out;
    out.reserve(n + 16);
    size_t line = 0;
    while (out.size() < n) {
        const char* w = kWords[next_random(&state) % kCount];
        size_t len = std::char_traits<char>::length(w);
        out.insert(out.end(), w, w + len);
        line += len + 1;
        uint32_t r = next_random(&state) % 16;
        if (r == 0)
            out.push_back('.');
        else if (r == 1)
            out.push_back(',');
        if (line > 70) {
            out.push_back('\n');
            line = 0;
        } else {
            out.push_back(' ');
        }
    }
    out.resize(n);
    return out;
}

Bytes make_binary(size_t n, uint32_t seed)
{
    uint32_t state = seed | 1;
    Bytes out;
    out.reserve(n + 16);
    uint32_t counter = 0;
    while (out.size() < n) {
        uint32_t v[4] = {counter++, counter * 3u, next_random(&state) % 7u, next_random(&state)};
        for (uint32_t x : v)
            for (int b = 0; b < 4; ++b)
                out.push_back(static_cast<uint8_t>(x >> (8 * b)));
    }
    out.resize(n);
    return out;
}

Bytes make_random(size_t n, uint32_t seed)
{
    uint32_t state = seed | 1;
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<uint8_t>(next_random(&state) >> 11);
    return out;
}

Bytes make_mixed(size_t n, uint32_t seed)
{
    Bytes text = make_text(n, seed);
    Bytes noise = make_random(n, seed + 7);
    Bytes out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = (i / 3000) % 2 ? noise[i] : text[i];
    return out;
}

Bytes system_text()
{
    std::ifstream f("/usr/share/common-licenses/GPL-3", std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (out.size() < 1000)
        out = make_text(35149, 99);
    return out;
}

Bytes compress_all(V42bisContext* ctx, const Bytes& data, size_t piece, size_t room, size_t flush_every)
{
    Bytes out;
    std::vector<uint8_t> buf(room);
    size_t at = 0;
    size_t since_flush = 0;
    while (at < data.size()) {
        size_t n = std::min(piece, data.size() - at);
        if (flush_every != 0)
            n = std::min(n, flush_every - since_flush);
        size_t made = 0;
        size_t taken = v42b_compress(ctx, data.data() + at, n, buf.data(), room, &made);
        out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(made));
        at += taken;
        since_flush += taken;
        if (flush_every != 0 && since_flush == flush_every) {
            v42b_flush(ctx);
            since_flush = 0;
        }
    }
    v42b_flush(ctx);
    while (v42b_queued(ctx) != 0) {
        size_t made = v42b_drain(ctx, buf.data(), room);
        out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(made));
    }
    return out;
}

int decompress_all(V42bisContext* ctx, const Bytes& code, size_t piece, size_t room, Bytes* out)
{
    std::vector<uint8_t> buf(room);
    size_t at = 0;
    for (;;) {
        size_t n = std::min(piece, code.size() - at);
        size_t used = 0;
        size_t made = 0;
        int status = v42b_decompress(ctx, code.data() + at, n, &used, buf.data(), room, &made);
        out->insert(out->end(), buf.begin(), buf.begin() + static_cast<long>(made));
        at += used;
        if (status != V42B_OK)
            return status;
        if (at == code.size() && !v42b_output_pending(ctx))
            return V42B_OK;
    }
}

} // namespace v42bis_test
