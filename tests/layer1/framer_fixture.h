// A stand-in for the data mailboxes of the register window, and bit helpers, for the framer tests.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "layer1/dsp/framer.h"

struct FramerChunk {
    uint8_t flags;
    std::vector<uint8_t> bytes;
};

struct MailboxStandIn {
    std::deque<FramerChunk> tx;            // chunks the controller will write, in order
    std::vector<FramerChunk> rx;           // chunks the framer posted
    bool rxBusy = false;                   // the controller has not taken the last chunk
    int wantedSets = 0;
    int wantedClears = 0;
    bool wanted = false;

    static MailboxStandIn* Self(void* owner) { return static_cast<MailboxStandIn*>(owner); }
    static int Post(void* owner, uint8_t flags, uint8_t count, const uint8_t* bytes)
    {
        MailboxStandIn* m = Self(owner);
        if (m->rxBusy)
            return 0;
        m->rx.push_back({flags, std::vector<uint8_t>(bytes, bytes + count)});
        return 1;
    }
    static int RxFree(void* owner) { return Self(owner)->rxBusy ? 0 : 1; }
    static int TxWaiting(void* owner)
    {
        MailboxStandIn* m = Self(owner);
        return m->tx.empty() ? -1 : static_cast<int>(m->tx.front().bytes.size());
    }
    static int Fetch(void* owner, uint8_t* flags, uint8_t* count, uint8_t* bytes)
    {
        MailboxStandIn* m = Self(owner);
        if (m->tx.empty())
            return 0;
        const FramerChunk& c = m->tx.front();
        *flags = c.flags;
        *count = static_cast<uint8_t>(c.bytes.size());
        for (size_t i = 0; i < c.bytes.size(); ++i)
            bytes[i] = c.bytes[i];
        m->tx.pop_front();
        return 1;
    }
    static void Wanted(void* owner, int set)
    {
        MailboxStandIn* m = Self(owner);
        (set != 0 ? m->wantedSets : m->wantedClears)++;
        m->wanted = set != 0;
    }

    FramerPort Port() { return FramerPort{this, Post, RxFree, TxWaiting, Fetch, Wanted}; }

    // Queues data as chunks of at most 32 bytes, the last one carrying the flags.
    void Write(const std::vector<uint8_t>& data, uint8_t flags)
    {
        size_t i = 0;
        do {
            const size_t n = data.size() - i < 32 ? data.size() - i : 32;
            FramerChunk c;
            c.bytes.assign(data.begin() + static_cast<long>(i), data.begin() + static_cast<long>(i + n));
            i += n;
            c.flags = i == data.size() ? flags : 0;
            tx.push_back(c);
        } while (i < data.size());
    }
};

// A framer on its own stand-in mailboxes, both sides of one type.
struct FramerBench {
    MailboxStandIn mailbox;
    BitStreamFramer framer{};

    explicit FramerBench(int32_t type)
    {
        framer.port = mailbox.Port();
        InitTxFramer(&framer, type);
        InitRxFramer(&framer, type);
    }
    void PutBits(const std::vector<int>& bits)
    {
        for (int b : bits)
            FramerPutRxBits(&framer, static_cast<uint32_t>(b), 1);
    }
    std::vector<int> GetBits(int count)
    {
        std::vector<int> out;
        while (static_cast<int>(out.size()) < count) {
            const int n = count - static_cast<int>(out.size()) < 16 ? count - static_cast<int>(out.size()) : 16;
            const int32_t v = FramerGetTxBits(&framer, n);
            for (int i = 0; i < n; ++i)
                out.push_back((v >> i) & 1);
        }
        return out;
    }
    // Receives everything queued: drains the FIFO into the chunk list.
    void Drain()
    {
        for (int i = 0; i < 1000 && framer.rx.fifo.count != 0; ++i)
            FramerPostRxBytes(&framer);
    }
};

inline void AppendByteBits(std::vector<int>* bits, uint32_t v, int n)
{
    for (int i = 0; i < n; ++i)
        bits->push_back(static_cast<int>((v >> i) & 1u));
}

// Reference FCS-16 (reflected 0x8408, preset all ones, complemented), bit by bit.
inline uint16_t ReferenceFcs(const std::vector<uint8_t>& data)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : data) {
        for (int i = 0; i < 8; ++i) {
            const bool x = ((crc ^ (b >> i)) & 1u) != 0;
            crc = static_cast<uint16_t>(crc >> 1);
            if (x)
                crc ^= 0x8408;
        }
    }
    return static_cast<uint16_t>(~crc);
}

// Reference HDLC line bits of one frame: data and FCS stuffed bit by bit, then a closing flag.
inline std::vector<int> ReferenceFrameBits(const std::vector<uint8_t>& data)
{
    std::vector<int> raw;
    for (uint8_t b : data)
        AppendByteBits(&raw, b, 8);
    AppendByteBits(&raw, ReferenceFcs(data), 16);
    std::vector<int> out;
    int ones = 0;
    for (int b : raw) {
        out.push_back(b);
        ones = b != 0 ? ones + 1 : 0;
        if (ones == 5) {
            out.push_back(0);
            ones = 0;
        }
    }
    AppendByteBits(&out, 0x7E, 8);
    return out;
}
