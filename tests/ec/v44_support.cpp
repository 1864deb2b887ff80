#include "ec/v44_support.h"

#include <algorithm>

namespace v44_test {

Engine::Engine(Sizes s, uint8_t direction)
{
    XidV44Values v{0, direction, s.codewords, s.codewords, s.string, s.string, s.history, s.history};
    started = v44_start(&e, &v);
}

Engine::~Engine() { v44_free_dictionaries(&e); }

Bytes compress_all(V44Engine* e, const Bytes& data, size_t piece, size_t room, size_t flush_every)
{
    Bytes out;
    Bytes frame(room);
    size_t at = 0;
    size_t since_flush = 0;
    while (at < data.size()) {
        size_t n = std::min(piece, data.size() - at);
        if (flush_every != 0)
            n = std::min(n, flush_every - since_flush);
        size_t made = 0;
        size_t taken = v44_compress(e, data.data() + at, n, frame.data(), room, &made);
        out.insert(out.end(), frame.begin(), frame.begin() + static_cast<long>(made));
        at += taken;
        since_flush += taken;
        if (flush_every != 0 && since_flush == flush_every) {
            v44_flush(e);
            since_flush = 0;
        }
    }
    do {
        v44_flush(e);
        size_t made = v44_drain(e, frame.data(), room);
        out.insert(out.end(), frame.begin(), frame.begin() + static_cast<long>(made));
    } while (v44_queued(e) != 0);
    return out;
}

int decompress_all(V44Engine* e, const Bytes& code, size_t piece, size_t room, Bytes* out)
{
    Bytes buf(room);
    size_t at = 0;
    for (;;) {
        size_t n = std::min(piece, code.size() - at);
        size_t used = 0;
        size_t made = 0;
        int status = v44_decompress(e, code.data() + at, n, &used, buf.data(), room, &made);
        out->insert(out->end(), buf.begin(), buf.begin() + static_cast<long>(made));
        at += used;
        if (status != V44_OK)
            return status;
        if (at == code.size() && !v44_output_pending(e))
            return V44_OK;
    }
}

BitWriter& BitWriter::put(uint32_t value, int bits)
{
    for (int i = 0; i < bits; ++i) {
        acc |= ((value >> i) & 1u) << count;
        if (++count == 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc = 0;
            count = 0;
        }
    }
    return *this;
}

BitWriter& BitWriter::ordinal(uint8_t c, int bits, bool after_codeword)
{
    put(0, after_codeword ? 2 : 1);
    return put(c, bits);
}

BitWriter& BitWriter::codeword(uint32_t code, int bits)
{
    put(1, 1);
    return put(code, bits);
}

BitWriter& BitWriter::fill()
{
    if (count != 0)
        put(0, 8 - count);
    return *this;
}

Bytes BitWriter::bytes()
{
    fill();
    return out;
}

} // namespace v44_test
