// The voice byte streams between the application and the line rings, without the rings: the play side turns
// the application's DLE-shielded bytes into one line byte per sample (the data pump codes every sample as one
// byte) and into the DLE commands it found; the record side packs the line's sample bytes into the
// application's coding and doubles DLE. Pure functions of their state records, so byte tables test them.
#pragma once

#include <cstdint>

constexpr uint8_t kVoiceDle = 0x10;
constexpr uint8_t kVoiceEtx = 0x03;
constexpr uint8_t kVoiceSub = 0x1A;
constexpr uint8_t kVoiceCan = 0x18;
constexpr uint8_t kVoiceEsc = 0x1B;
constexpr uint8_t kVoiceNul = 0x00;

// How a codec's samples sit in the application's bytes.
enum VoicePacking : uint8_t {
    VOICE_PACK_BYTE = 0,     // one sample a byte
    VOICE_PACK_NIBBLE = 1,   // two 4-bit codes a byte, the first in the low nibble
    VOICE_PACK_3BIT = 2,     // 3-bit codes as a bit stream, least significant bit first (8 codes in 3 bytes)
    VOICE_PACK_LINEAR16 = 3, // 16-bit signed little-endian samples, carried on the line as 8-bit offset binary
};

// What a DLE code from the application asks of the play transfer.
enum VoicePlayCommand : uint8_t {
    VOICE_PLAY_NONE = 0,
    VOICE_PLAY_END,        // DLE ETX
    VOICE_PLAY_FLUSH,      // DLE CAN
    VOICE_PLAY_TIMER,      // DLE NUL: restart the inactivity timer
    VOICE_PLAY_QUERY,      // DLE '?'
    VOICE_PLAY_GAIN_DOWN,  // DLE 'd'
    VOICE_PLAY_GAIN_UP,    // DLE 'u'
};

// What a DLE code from the application asks of the record transfer.
enum VoiceRecordCommand : uint8_t {
    VOICE_RECORD_NONE = 0,
    VOICE_RECORD_END,      // DLE ESC: end with DLE ETX and OK
    VOICE_RECORD_ABORT,    // DLE '!': DLE ETX at once
    VOICE_RECORD_GAIN_DOWN,
    VOICE_RECORD_GAIN_UP,
};

struct VoicePlayStream {
    uint8_t packing;
    uint8_t dle;        // the last byte was DLE
    uint32_t bits;      // 3-bit stream: bits waiting, 16-bit: the low byte waiting
    uint8_t nbits;
};

struct VoiceRecordStream {
    uint8_t packing;
    uint32_t bits;
    uint8_t nbits;
};

constexpr int kVoicePlayMaxOut = 4;   // line bytes one application byte can make (DLE SUB in nibbles)
constexpr int kVoiceRecordMaxOut = 4; // application bytes one line byte can make (16-bit, both doubled)

void voice_play_stream_init(VoicePlayStream* s, uint8_t packing);
// One application byte: writes the line bytes it makes to out (count in *n) and returns the DLE command
// it completed (VOICE_PLAY_NONE for data).
uint8_t voice_play_byte(VoicePlayStream* s, uint8_t c, uint8_t out[kVoicePlayMaxOut], int* n);
// The DLE command of a byte that followed DLE while recording.
uint8_t voice_record_command(uint8_t c);

// The answer to DLE '?': DLE, "XASTB=", the free room of the line transmit ring in decimal, DLE '.'; its
// length (at most kVoiceRoomReplyMax).
constexpr int kVoiceRoomReplyMax = 16;
int voice_room_reply(uint16_t room, uint8_t out[kVoiceRoomReplyMax]);

void voice_record_stream_init(VoiceRecordStream* s, uint8_t packing);
// One line byte (one sample's code): the application bytes it completes, DLE doubled; how many.
int voice_record_byte(VoiceRecordStream* s, uint8_t c, uint8_t out[kVoiceRecordMaxOut]);
