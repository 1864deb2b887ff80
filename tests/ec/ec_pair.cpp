#include "ec_pair.h"

#include <algorithm>
#include <cstring>

#include "layer1/dsp/register_window.h"
#include "layer2/corecode/ec/mnp.h"
#include "window/icd_codes.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

EcEnd* end_of(void* c) { return static_cast<EcEnd*>(c); }
EcDte& dte_of(void* c) { return end_of(c)->dte; }

uint32_t dte_pending(void* c) { return static_cast<uint32_t>(dte_of(c).input.size()); }

uint32_t dte_read(void* c, uint8_t* out, uint32_t max)
{
    EcDte& d = dte_of(c);
    const uint32_t n = std::min<uint32_t>(max, static_cast<uint32_t>(d.input.size()));
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = d.input.front();
        d.input.pop_front();
    }
    return n;
}

uint32_t dte_room(void* c) { return dte_of(c).room; }

void dte_write(void* c, const uint8_t* in, uint32_t n)
{
    EcDte& d = dte_of(c);
    d.output.insert(d.output.end(), in, in + n);
    d.room -= std::min(d.room, n);
}

void dte_break(void* c, uint8_t type, uint8_t length) { dte_of(c).breaks.emplace_back(type, length); }

void dte_discard(void* c)
{
    dte_of(c).input.clear();
    ++dte_of(c).discards;
}

void kick_line(void* c) { lb_frame_kick(&end_of(c)->lb); }

// The line block's side of the pump: the framing packet selects the framer type of both directions.
bool send_packet(void* c, uint8_t code, const uint8_t* payload, int length)
{
    EcEnd* e = end_of(c);
    if (code == IcdSetFraming && length >= 1) {
        e->framings.push_back(payload[0]);
        e->framing = payload[0] == LINE_FRAMING_HDLC ? 2 : 0;
        InitRxFramer(&e->framer, e->framing);
        InitTxFramer(&e->framer, e->framing);
    }
    return true;
}

uint8_t reg_read(void* c, int reg) { return WindowLoad(&end_of(c)->window, reg); }
void reg_write(void* c, int reg, uint8_t v) { WindowStore(&end_of(c)->window, reg, v); }

// LAPM's line side.
FrameNode* lapm_next(void* c) { return lapm_tx_next(&end_of(c)->manager.lapm); }
FrameNode* lapm_done(void* c, FrameNode* done) { return ec_rx_frame_done(&end_of(c)->manager.lapm.rx, done); }

void lapm_line_start(void* c, uint16_t)
{
    EcEnd* e = end_of(c);
    const LineFrameOps ops{e, lapm_next, lapm_done};
    lb_set_frame_ops(&e->lb, &ops);
    lb_set_mode(&e->lb, LINE_MODE_LAPM);
    lb_rx_buffer_set(&e->lb, ec_rx_frame_done(&e->manager.lapm.rx, nullptr));
}

void lapm_line_stop(void* c) { lb_service_stop(&end_of(c)->lb); }

// MNP's line side.
FrameNode* mnp_next(void* c) { return mnp_tx_next(&end_of(c)->manager.mnp_link); }
FrameNode* mnp_done(void* c, FrameNode* done) { return mnp_rx_done(&end_of(c)->manager.mnp_link, done); }

void mnp_line_mode(void* c, uint8_t mode, FrameNode* buffer)
{
    EcEnd* e = end_of(c);
    const LineFrameOps ops{e, mnp_next, mnp_done};
    lb_set_frame_ops(&e->lb, &ops);
    lb_set_mode(&e->lb, mode);
    if (buffer != nullptr)
        lb_rx_buffer_set(&e->lb, buffer);
}

uint32_t line_rx_take(void* c, uint8_t* out, uint32_t max)
{
    return lb_rx_take(&end_of(c)->lb, out, static_cast<uint16_t>(std::min<uint32_t>(max, 0xFFFF)));
}
uint32_t line_tx_free(void* c) { return lb_tx_free(&end_of(c)->lb); }
uint32_t line_tx_write(void* c, const uint8_t* in, uint32_t n)
{
    return lb_tx_write(&end_of(c)->lb, in, static_cast<uint16_t>(std::min<uint32_t>(n, 0xFFFF)));
}
bool line_break_taken(void* c) { return lb_take_line_break(&end_of(c)->lb); }
void line_break(void* c, uint8_t type) { dte_of(c).line_breaks.push_back(type); }

// The manager's line side: no detection phase in these tests.
void no_detect(void*, uint8_t, uint8_t, uint16_t) {}
void no_op(void*) {}
void no_op_mode(void*, uint8_t) {}
void empty_rings(void* c)
{
    lb_rx_reset(&end_of(c)->lb);
    lb_tx_reset(&end_of(c)->lb);
}
void break_to_dte(void* c, uint8_t type, uint16_t) { dte_of(c).breaks.emplace_back(type, 0); }
bool from_dte_pending(void* c) { return !dte_of(c).input.empty(); }

// The pump's port on the register window.
DspInterfaceBlock* block_of(void* owner) { return &end_of(owner)->window; }
int port_post(void* o, uint8_t flags, uint8_t count, const uint8_t* bytes) { return PostRxBytes(block_of(o), flags, count, bytes); }
int port_rx_free(void* o) { return RxMailboxFree(block_of(o)); }
int port_tx_waiting(void* o)
{
    const uint16_t pair = WindowLoadPair(block_of(o), kRegTxCount);
    return pair == 0 ? -1 : std::min<int>(pair & 0xFF, kMailboxBytes);
}
int port_fetch(void* o, uint8_t* flags, uint8_t* count, uint8_t* bytes) { return FetchTxBytes(block_of(o), flags, count, bytes); }
void port_wanted(void*, int) {}

void build_end(EcEnd* e, uint16_t rate)
{
    e->call.tx_rate = e->call.rx_rate = rate;
    e->call.connection_mode = 2;
    std::memset(static_cast<void*>(&e->window), 0, sizeof e->window);
    e->framer = BitStreamFramer{};
    e->framer.port = FramerPort{e, port_post, port_rx_free, port_tx_waiting, port_fetch, port_wanted};
    InitRxFramer(&e->framer, 0);
    InitTxFramer(&e->framer, 0);

    LineBlockHost lb_host{};
    lb_host.ctx = e;
    lb_host.send_packet = send_packet;
    lb_host.reg_read = reg_read;
    lb_host.reg_write = reg_write;
    lb_init(&e->lb, &lb_host);
    lb_bind_window(&e->lb, &e->window);

    const LapmHost lapm{e, dte_pending, dte_read, dte_room, dte_write, dte_break, dte_discard,
                        kick_line, lapm_line_stop, lapm_line_start};
    const EcLineOps line{e, no_detect, no_op, no_op_mode, no_op, empty_rings, break_to_dte, from_dte_pending};
    const EcMnpOps unbound = mnp_engine_ops(&e->manager.mnp_link);
    ec_init(&e->manager, &unbound, &line, &lapm, &e->call);
    MnpHost mnp{};
    mnp.context = e;
    mnp.dte_pending = dte_pending;
    mnp.dte_read = dte_read;
    mnp.dte_room = dte_room;
    mnp.dte_write = dte_write;
    mnp.dte_break = dte_break;
    mnp.dte_discard = dte_discard;
    mnp.kick_line = kick_line;
    mnp.line_mode = mnp_line_mode;
    mnp.line_rx_take = line_rx_take;
    mnp.line_tx_free = line_tx_free;
    mnp.line_tx_write = line_tx_write;
    mnp.line_break_taken = line_break_taken;
    mnp.line_break = line_break;
    ec_bind_mnp(&e->manager, &mnp, &e->call);
}

}  // namespace

EcParams ec_test_params(uint8_t mnp, uint8_t mnp_class, uint8_t mnp5, uint8_t lapm, uint8_t buffered)
{
    EcParams p{};
    p.mnp_request = mnp;
    p.mnp_class = mnp_class;
    p.mnp5_request = mnp5;
    p.lapm_enabled = lapm;
    p.buffered_allowed = buffered;
    p.break_mode = 2;
    p.pass_break = 1;
    p.retry_count = 10;
    p.info_size = 256;
    p.v42bis_p1 = 2048;
    p.v42bis_p2 = 32;
    return p;
}

std::vector<uint8_t> ec_test_pattern(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& x : v)
        x = static_cast<uint8_t>(rng());
    return v;
}

std::vector<uint8_t> ec_test_text(size_t n, uint32_t seed)
{
    static const char* const kWords[] = {"the ", "modem ", "link ", "frame ", "data ", "error ", "control ",
                                         "and ", "of ", "a ", "line\r\n", "carrier ", "DLE ", "\x10\x10 "};
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    v.reserve(n);
    while (v.size() < n) {
        const uint32_t r = rng() % 100;
        if (r < 85) {
            const char* w = kWords[rng() % std::size(kWords)];
            v.insert(v.end(), w, w + std::strlen(w));
        } else if (r < 92) {
            v.insert(v.end(), 3 + rng() % 400, static_cast<uint8_t>(rng()));  // a run
        } else {
            for (uint32_t k = rng() % 64; k > 0; --k)
                v.push_back(static_cast<uint8_t>(rng()));
        }
    }
    v.resize(n);
    return v;
}

EcPair::EcPair(uint16_t rate, uint32_t seed)
    : a(*new EcEnd), b(*new EcEnd), a_(&a), b_(&b), rng_(seed), bits_per_pass_(std::max(16, rate / 100))
{
    build_end(&a, rate);
    build_end(&b, rate);
}

EcPair::~EcPair() = default;

void EcPair::set_params(const EcParams& pa, const EcParams& pb)
{
    ec_set_params(&a.manager, &pa);
    ec_set_params(&b.manager, &pb);
}

void EcPair::start()
{
    a.status = static_cast<uint8_t>(ec_start(&a.manager, 0));
    b.status = static_cast<uint8_t>(ec_start(&b.manager, 1));
}

void EcPair::carry(EcEnd* from, EcEnd* to, double ber, bool mute)
{
    const uint32_t threshold = static_cast<uint32_t>(ber * 4294967296.0);
    for (int left = bits_per_pass_; left > 0;) {
        if (WindowLoadPair(&from->window, kRegTxCount) == 0)
            lb_service(&from->lb);
        const int n = std::min(left, 16);
        left -= n;
        int32_t bits = FramerGetTxBits(&from->framer, n);
        if (bits < 0 || mute)
            bits = (1 << n) - 1;
        if (threshold != 0)
            for (int i = 0; i < n; ++i)
                if (rng_() < threshold) {
                    bits ^= 1 << i;
                    ++to->bits_flipped;
                }
        FramerPutRxBits(&to->framer, static_cast<uint32_t>(bits), n);
        // The controller takes every chunk the framer posts.
        for (int guard = 0; guard < 64 && to->framer.rx.fifo.count != 0; ++guard) {
            FramerPostRxBytes(&to->framer);
            if (WindowLoadPair(&to->window, kRegRxCount) == 0)
                break;
            lb_service(&to->lb);
        }
    }
}

uint64_t EcPair::run(uint64_t passes, const std::function<bool()>& until)
{
    for (uint64_t i = 0; i < passes; ++i) {
        if (until && until())
            return i;
        now_ms += 10;
        if (now_ms % 100 == 0) {
            for (EcEnd* e : {&a, &b}) {
                lapm_tick(&e->manager.lapm);
                mnp_tick(&e->manager.mnp_link);
            }
        }
        a.dte.room = a.dte.read_per_pass;
        b.dte.room = b.dte.read_per_pass;
        carry(&a, &b, ber_ab, mute_ab);
        carry(&b, &a, ber_ba, mute_ba);
        a.status = ec_poll(&a.manager);
        b.status = ec_poll(&b.manager);
    }
    return passes;
}
