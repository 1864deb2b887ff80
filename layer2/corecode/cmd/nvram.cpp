// The non-volatile settings image: bounded reads and writes, checksum, load and store through the registry.
#include "layer2/corecode/cmd/nvram.h"

#include <cstring>

#include "layer2/corecode/cmd/reg_access.h"

namespace {

// A range is inside the image when position <= 283 and length <= 283 - position (no wrap-around).
bool in_image(std::size_t position, std::size_t length)
{
    return position <= NV_SIZE && length <= NV_SIZE - position;
}

}  // namespace

int nv_write(CoreSettings* s, std::size_t position, std::size_t length, const void* data)
{
    if (s == nullptr || !in_image(position, length) || (data == nullptr && length != 0))
        return 1;
    if (length == 0 || std::memcmp(s->nv.bytes + position, data, length) == 0)
        return 0;
    std::memcpy(s->nv.bytes + position, data, length);
    int r = nv_store(s);
    if (r != NV_OK)
        DbgPrint("nv_write: EEProm not stored (%d)\n", r);
    return 0;
}

int nv_read(const CoreSettings* s, std::size_t position, std::size_t length, void* dest)
{
    if (s == nullptr || !in_image(position, length) || (dest == nullptr && length != 0))
        return 1;
    if (length != 0)
        std::memcpy(dest, s->nv.bytes + position, length);
    return 0;
}

uint8_t nv_checksum(const CoreSettings* s)
{
    uint8_t sum = 0;
    for (std::size_t i = 1; i < NV_SIZE; ++i) {
        uint8_t b = 0;
        nv_read(s, i, 1, &b);
        sum = static_cast<uint8_t>(sum + b);
    }
    return static_cast<uint8_t>(~sum);
}

int nv_load(CoreSettings* s)
{
    if (s == nullptr || s->device == nullptr)
        return NV_NO_DEVICE;
    // Read into a buffer one byte larger than the image, so a value of the wrong size is seen and refused
    // instead of being taken in part.
    uint8_t buffer[NV_SIZE + 1];
    ULONG length = sizeof buffer;
    if (reg_read_value(s, REG_KEY_PARAMETERS, "EEProm", REG_BINARY, buffer, &length) != REG_OK) {
        DbgPrint("nv_load: EEProm not readable\n");
        return NV_UNREADABLE;
    }
    if (length != NV_SIZE) {
        DbgPrint("nv_load: EEProm has %u bytes, expected %u; ignored\n", static_cast<unsigned>(length),
                 static_cast<unsigned>(NV_SIZE));
        return NV_UNREADABLE;
    }
    std::memcpy(s->nv.bytes, buffer, NV_SIZE);
    return NV_OK;
}

int nv_store(CoreSettings* s)
{
    if (s == nullptr || s->device == nullptr)
        return NV_NO_DEVICE;
    if (reg_write_value(s, REG_KEY_PARAMETERS, "EEProm", REG_BINARY, s->nv.bytes, NV_SIZE) != REG_OK)
        return NV_WRITE_FAILED;
    ++s->nv_store_count;
    return NV_OK;
}

bool nv_image_valid(const CoreSettings* s)
{
    uint8_t sig[4];
    uint8_t sum = 0;
    if (nv_read(s, NV_SIGNATURE, 4, sig) != 0 || std::memcmp(sig, NV_SIGNATURE_BYTES, 4) != 0)
        return false;
    if (nv_read(s, NV_CHECKSUM, 1, &sum) != 0)
        return false;
    return sum == nv_checksum(s);
}

void nv_factory_init(CoreSettings* s, const uint8_t profile0[71], const uint8_t profile1[71], uint8_t line_a,
                     uint8_t line_c)
{
    nv_write(s, NV_PROFILE0, NV_PROFILE_SIZE, profile0);
    nv_write(s, NV_PROFILE1, NV_PROFILE_SIZE, profile1);
    const uint8_t zero = 0;
    nv_write(s, NV_POWER_UP_PROFILE, 1, &zero);
    for (unsigned n = 0; n < 4; ++n)
        nv_write(s, nv_number_offset(n), 1, &zero);
    const uint8_t line[9] = {line_a, 0, line_c, 120, 90, 9, 10, 10, 10};
    nv_write(s, NV_LINE_A, sizeof line, line);
    nv_write(s, NV_SIGNATURE, 4, NV_SIGNATURE_BYTES);
    const uint8_t sum = nv_checksum(s);
    nv_write(s, NV_CHECKSUM, 1, &sum);
}
