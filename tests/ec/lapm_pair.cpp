#include "lapm_pair.h"

#include <algorithm>

namespace {

uint32_t dte_pending(void* c) { return static_cast<uint32_t>(static_cast<LapmDte*>(c)->input.size()); }

uint32_t dte_read(void* c, uint8_t* out, uint32_t max)
{
    auto* d = static_cast<LapmDte*>(c);
    uint32_t n = std::min<uint32_t>(max, static_cast<uint32_t>(d->input.size()));
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = d->input.front();
        d->input.pop_front();
    }
    return n;
}

uint32_t dte_room(void* c) { return static_cast<LapmDte*>(c)->room; }

void dte_write(void* c, const uint8_t* in, uint32_t n)
{
    auto* d = static_cast<LapmDte*>(c);
    d->output.insert(d->output.end(), in, in + n);
    d->room -= std::min(d->room, n);
}

void dte_break(void* c, uint8_t type, uint8_t length) { static_cast<LapmDte*>(c)->breaks.emplace_back(type, length); }

void dte_discard(void* c)
{
    auto* d = static_cast<LapmDte*>(c);
    d->input.clear();
    ++d->discards;
}

}  // namespace

LapmHost lapm_test_host(LapmDte* dte)
{
    return LapmHost{dte, dte_pending, dte_read, dte_room, dte_write, dte_break, dte_discard, nullptr, nullptr, nullptr};
}

LapmSetup lapm_test_setup(uint8_t srej)
{
    LapmSetup s{};
    s.break_mode = 1;
    s.pass_break = 1;
    s.retry_budget = 20;
    s.info_size = 128;
    s.srej_request = srej;
    s.p1 = 2048;
    s.p2 = 32;
    return s;
}

std::vector<uint8_t> lapm_test_pattern(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& x : v)
        x = static_cast<uint8_t>(rng());
    return v;
}

LapmPair::LapmPair(uint16_t rate, uint32_t seed) : rng_(seed), octets_per_pass_(std::max(1, rate / 800))
{
    for (LapmEnd* e : {&a, &b}) {
        e->call.tx_rate = rate;
        e->call.rx_rate = rate;
        e->call.connection_mode = 2;
        LapmHost host = lapm_test_host(&e->dte);
        lapm_init(&e->link, &host, &e->call, &e->counters);
    }
}

void LapmPair::setup(const LapmSetup& sa, const LapmSetup& sb)
{
    lapm_setup(&a.link, &sa);
    lapm_setup(&b.link, &sb);
}

void LapmPair::start()
{
    lapm_start(&a.link, 0);
    lapm_start(&b.link, 1);
}

bool LapmPair::established() const { return a.status == LAPM_TRANSFER && b.status == LAPM_TRANSFER; }

// A frame on the line costs its octets, two FCS octets and one flag.
void LapmPair::carry(LapmWire* wire, LapmEnd* from, LapmEnd* to)
{
    uint32_t budget = octets_per_pass_;
    while (budget) {
        if (wire->left == 0) {
            FrameNode* f = lapm_tx_next(&from->link);
            if (!f)
                return;
            wire->frame.assign(f->data, f->data + f->length);
            wire->left = f->length + 3u;
        }
        uint32_t n = std::min(budget, wire->left);
        budget -= n;
        wire->left -= n;
        wire->octets += n;
        if (wire->left)
            continue;
        ++wire->frames;
        ++wire->kinds[(wire->frame[1] & 1) ? wire->frame[1] : 0];
        if (wire->logging)
            wire->log.push_back(wire->frame);
        std::uniform_real_distribution<double> u(0, 1);
        bool keep = !wire->filter || wire->filter(wire->frame);
        if (!keep || u(rng_) < wire->loss) {
            ++wire->lost;
            continue;
        }
        bool bad = u(rng_) < wire->corrupt;
        wire->corrupted += bad;
        lapm_rx_frame(&to->link, wire->frame.data(), static_cast<uint16_t>(wire->frame.size()), bad);
    }
}

uint64_t LapmPair::run(uint64_t passes, const std::function<bool()>& until)
{
    for (uint64_t i = 0; i < passes; ++i) {
        if (until && until())
            return i;
        now_ms += 10;
        if (now_ms % 100 == 0) {
            lapm_tick(&a.link);
            lapm_tick(&b.link);
        }
        a.dte.room = a.dte.read_per_pass;
        b.dte.room = b.dte.read_per_pass;
        carry(&ab, &a, &b);
        carry(&ba, &b, &a);
        a.status = lapm_step(&a.link);
        b.status = lapm_step(&b.link);
    }
    return passes;
}
