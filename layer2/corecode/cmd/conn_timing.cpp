// The data pump's timing offset carried from one call to the next: read back at every clear-down request
// into the settings image (bytes 130 low, 131 high, then the checksum) and written to the data pump at every
// connection set-up.
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/nvram.h"
#include "layer2/corecode/cmd/nvram_image.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"

namespace {

constexpr uint32_t kParamTimingOffsetRead = 6158;
constexpr uint32_t kParamTimingOffsetWrite = 6159;
constexpr uint8_t kSelectorTable = 1;

}  // namespace

void conn_save_timing_offset(AcuContext* acu)
{
    if (acu->dsp == nullptr || acu->settings == nullptr)
        return;
    uint8_t reply[kIcdMaxPayload] = {};
    const DspValueRequest request{kParamTimingOffsetRead, kSelectorTable};
    if (dsp_read_value(&acu->dsp->link, &request, reply) != kIcdSent)
        return;  // no value came back: the kept one stays
    nv_write(acu->settings, NV_TIMING_OFFSET, 2, reply);
    acu->timing_offset[0] = reply[0];
    acu->timing_offset[1] = reply[1];
    const uint8_t sum = nv_checksum(acu->settings);
    nv_write(acu->settings, 0, 1, &sum);
}

void conn_restore_timing_offset(AcuContext* acu)
{
    if (acu->dsp == nullptr || acu->settings == nullptr)
        return;
    uint8_t bytes[2] = {};
    if (nv_read(acu->settings, NV_TIMING_OFFSET, 2, bytes) != NV_OK)
        return;
    const uint16_t word = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    const DspValueRequest request{kParamTimingOffsetWrite, kSelectorTable};
    dsp_write_value(&acu->dsp->link, &request, &word, 1);
}
