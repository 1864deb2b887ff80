// The play and record byte transforms of the voice transfer.
#include "layer2/corecode/voice/voice_stream.h"

namespace {

// One sample byte of the application's coding into line bytes.
void play_sample(VoicePlayStream* s, uint8_t b, uint8_t* out, int* n)
{
    switch (s->packing) {
    case VOICE_PACK_NIBBLE:
        out[(*n)++] = static_cast<uint8_t>(b & 0x0F);
        out[(*n)++] = static_cast<uint8_t>(b >> 4);
        break;
    case VOICE_PACK_3BIT:
        s->bits |= static_cast<uint32_t>(b) << s->nbits;
        s->nbits = static_cast<uint8_t>(s->nbits + 8);
        while (s->nbits >= 3) {
            out[(*n)++] = static_cast<uint8_t>(s->bits & 7u);
            s->bits >>= 3;
            s->nbits = static_cast<uint8_t>(s->nbits - 3);
        }
        break;
    case VOICE_PACK_LINEAR16:
        // Low byte first; the sample goes on as its offset-binary high byte.
        if (s->nbits == 0) {
            s->bits = b;
            s->nbits = 8;
        } else {
            const uint16_t u = static_cast<uint16_t>(s->bits | (static_cast<uint32_t>(b) << 8));
            out[(*n)++] = static_cast<uint8_t>((u ^ 0x8000u) >> 8);
            s->nbits = 0;
            s->bits = 0;
        }
        break;
    default:
        out[(*n)++] = b;
        break;
    }
}

void put_shielded(uint8_t b, uint8_t* out, int* n)
{
    out[(*n)++] = b;
    if (b == kVoiceDle)
        out[(*n)++] = kVoiceDle;
}

}  // namespace

void voice_play_stream_init(VoicePlayStream* s, uint8_t packing)
{
    s->packing = packing;
    s->dle = 0;
    s->bits = 0;
    s->nbits = 0;
}

uint8_t voice_play_byte(VoicePlayStream* s, uint8_t c, uint8_t out[kVoicePlayMaxOut], int* n)
{
    *n = 0;
    if (!s->dle) {
        if (c == kVoiceDle)
            s->dle = 1;
        else
            play_sample(s, c, out, n);
        return VOICE_PLAY_NONE;
    }
    s->dle = 0;
    switch (c) {
    case kVoiceDle: play_sample(s, kVoiceDle, out, n); return VOICE_PLAY_NONE;
    case kVoiceSub:
        play_sample(s, kVoiceDle, out, n);
        play_sample(s, kVoiceDle, out, n);
        return VOICE_PLAY_NONE;
    case kVoiceEtx: return VOICE_PLAY_END;
    case kVoiceCan: return VOICE_PLAY_FLUSH;
    case kVoiceNul: return VOICE_PLAY_TIMER;
    case '?': return VOICE_PLAY_QUERY;
    case 'd': return VOICE_PLAY_GAIN_DOWN;
    case 'u': return VOICE_PLAY_GAIN_UP;
    default: return VOICE_PLAY_NONE;  // any other code is passed over
    }
}

uint8_t voice_record_command(uint8_t c)
{
    switch (c) {
    case kVoiceEsc: return VOICE_RECORD_END;
    case '!': return VOICE_RECORD_ABORT;
    case 'd': return VOICE_RECORD_GAIN_DOWN;
    case 'u': return VOICE_RECORD_GAIN_UP;
    default: return VOICE_RECORD_NONE;
    }
}

int voice_room_reply(uint16_t room, uint8_t out[kVoiceRoomReplyMax])
{
    static const char kHead[] = "XASTB=";
    int n = 0;
    out[n++] = kVoiceDle;
    for (const char* p = kHead; *p != 0; ++p)
        out[n++] = static_cast<uint8_t>(*p);
    char digits[6];
    int d = 0;
    do {
        digits[d++] = static_cast<char>('0' + room % 10);
        room = static_cast<uint16_t>(room / 10);
    } while (room != 0);
    while (d != 0)
        out[n++] = static_cast<uint8_t>(digits[--d]);
    out[n++] = kVoiceDle;
    out[n++] = '.';
    return n;
}

void voice_record_stream_init(VoiceRecordStream* s, uint8_t packing)
{
    s->packing = packing;
    s->bits = 0;
    s->nbits = 0;
}

int voice_record_byte(VoiceRecordStream* s, uint8_t c, uint8_t out[kVoiceRecordMaxOut])
{
    int n = 0;
    switch (s->packing) {
    case VOICE_PACK_NIBBLE:
        if (s->nbits == 0) {
            s->bits = c & 0x0Fu;
            s->nbits = 4;
        } else {
            put_shielded(static_cast<uint8_t>(s->bits | ((c & 0x0Fu) << 4)), out, &n);
            s->bits = 0;
            s->nbits = 0;
        }
        break;
    case VOICE_PACK_3BIT:
        s->bits |= static_cast<uint32_t>(c & 7u) << s->nbits;
        s->nbits = static_cast<uint8_t>(s->nbits + 3);
        if (s->nbits >= 8) {
            put_shielded(static_cast<uint8_t>(s->bits & 0xFFu), out, &n);
            s->bits >>= 8;
            s->nbits = static_cast<uint8_t>(s->nbits - 8);
        }
        break;
    case VOICE_PACK_LINEAR16: {
        const uint16_t sample = static_cast<uint16_t>((c ^ 0x80u) << 8);
        put_shielded(static_cast<uint8_t>(sample & 0xFFu), out, &n);
        put_shielded(static_cast<uint8_t>(sample >> 8), out, &n);
        break;
    }
    default:
        put_shielded(c, out, &n);
        break;
    }
    return n;
}
