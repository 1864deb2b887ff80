// The flag watch of the fax receiver: V.21 channel 2 demodulation of the received samples and a flag hunt on
// its bits.
#include "layer1/modem/fax/fax_flag_watch.h"

#include <cstring>

namespace {

constexpr uint32_t kFlag = 0x7E;
constexpr int32_t kNoFlag = 1000;

int TakeBit(void* owner, int32_t bit)
{
    FaxFlagWatchBit(static_cast<FaxFlagWatch*>(owner), bit);
    return 1;  // every bit is the watch's: no carrier report, no framer
}

}  // namespace

void FaxFlagWatchInit(FaxFlagWatch* w)
{
    std::memset(w, 0, sizeof *w);
    FskState& f = w->fsk;
    FskSelectChannels(&f, FSK_V21_CH2, FSK_V21_CH2);
    f.port = FskPort{};  // nothing reaches the status register or the framer
    f.demod.receiverKind = FSK_RX_QUIET;
    f.demod.taker = TakeBit;
    f.demod.takerOwner = w;
    FskResetReceiver(&f);
    w->sinceFlag = kNoFlag;
}

void FaxFlagWatchBit(FaxFlagWatch* w, int32_t bit)
{
    w->recent = ((w->recent << 1) | static_cast<uint32_t>(bit & 1)) & 0xFFu;
    if (w->sinceFlag < kNoFlag)
        ++w->sinceFlag;
    if (w->recent == kFlag) {
        // Flags follow each other after eight bits, or after seven when they share their zero.
        const bool next = w->sinceFlag == 7 || w->sinceFlag == 8;
        w->run = next ? w->run + 1 : 1;
        w->sinceFlag = 0;
        if (w->run >= kFaxFlagRun)
            w->heard = 1;
    } else if (w->sinceFlag > 8) {
        w->run = 0;
    }
}

int32_t FaxFlagWatchBlock(FaxFlagWatch* w, const int16_t* in, int32_t n)
{
    if (!w->heard)
        FskDemodulate(&w->fsk, in, n);
    return w->heard;
}
