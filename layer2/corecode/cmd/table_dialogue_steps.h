// What the upload and download halves of the table dialogue share (used only by its two files).
#pragma once

#include <cstdint>

struct AcuContext;
struct DspMessageNode;

// The download half (table_download.cpp).
void table_download_start(AcuContext* acu, DspMessageNode* node);
void table_download_step(AcuContext* acu, DspMessageNode* node);

// The shared steps (table_dialogue.cpp): the end of either direction, posting the next step, the download's
// two time-outs, and the place and size of a table (null when it has none).
void table_dialogue_end(AcuContext* acu);
void table_dialogue_repost(AcuContext* acu, DspMessageNode* node, uint8_t type);
void table_dialogue_timers(AcuContext* acu);
void table_dialogue_cancel_first(AcuContext* acu);
uint8_t* table_dialogue_place(AcuContext* acu, unsigned number, uint16_t* size);
