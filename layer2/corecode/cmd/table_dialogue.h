// The table dialogue: the country block's ten parameter tables handed out through the serial port as
// hexadecimal text (upload) and taken in as annotated text (download). It runs on messages of the DSP
// message router's table class, one step per message; while it runs it owns the command input.
#pragma once

#include <cstdint>

struct AcuContext;
struct DspMessageNode;

constexpr int kTableCount = 10;
constexpr int kTableLineMax = 180;      // characters of one download line
constexpr int kTableLargest = 690;      // the largest table (TONE)
constexpr int kDtmfTableSize = 87;      // table 4, kept beside the dialogue
constexpr uint32_t kDownloadFirstWaitMs = 41000;
constexpr uint32_t kDownloadWholeWaitMs = 120000;

enum TableDialogueMode : uint8_t { TABLE_MODE_OFF = 0, TABLE_MODE_DOWNLOAD = 1, TABLE_MODE_UPLOAD = 2 };

enum TableDialogueState : uint8_t {
    TABLE_IDLE = 0,
    TABLE_DOWNLOAD_STARTED = 1,
    TABLE_RECEIVING = 2,
    TABLE_LINE_COMPLETE = 3,
    TABLE_UPLOADING = 5,
};

// Where the line reader stands in the text.
enum TableReaderState : uint8_t { READER_NONE = 0, READER_FILE = 1, READER_TABLE = 2, READER_CHOSEN = 3 };

struct TableDialogue {
    uint8_t mode;                 // TableDialogueMode (read by call control)
    uint8_t state;                // TableDialogueState
    uint8_t timer_first;          // router timer ids (0 none)
    uint8_t timer_whole;
    char line[kTableLineMax];
    uint16_t fill;
    uint8_t overlong;             // the current line did not fit: it is dropped
    uint8_t reader;               // TableReaderState
    uint8_t comment;              // the rest of the line is a comment
    uint16_t received;            // bytes counted for the table being received
    uint8_t table;                // its number (0 none)
    uint8_t item_type;
    uint16_t expected;            // its size (0 unknown)
    uint8_t staging[kTableLargest];
    const uint8_t* source;        // upload: the table, its size and the position reached
    uint16_t size;
    uint16_t position;
    uint8_t dtmf[kDtmfTableSize];
};

// Registers the table-class handler with the device's message router (the newest handler of a class wins).
void table_dialogue_attach(AcuContext* acu);
// The table-class handler: 1 reset, 2 start a download, 4 a download step, 5 start the upload of the table
// named by the payload's first byte, 6 an upload step.
void dsp_on_table_msg(DspMessageNode* node, void* user);
// The table's title ("general flag table" ...), or null for numbers outside 1-10.
const char* table_title(unsigned number);
