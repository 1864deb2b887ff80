// What the detectors send the controller: notifications (register 255), event characters (0xC4) and detector
// reports (0xD1).
#pragma once

#include <cstdint>

#include "window/dsp_interface_block.h"
#include "window/icd_codes.h"

void NotifyController(DspInterfaceBlock* block);
void PostEventChar(DspInterfaceBlock* block, uint8_t character);
// {16-bit kind, 16-bit time stamp, 16-bit value}, little-endian.
void PostDetectorReport(DspInterfaceBlock* block, uint16_t kind, uint16_t timeStamp, uint16_t value);
