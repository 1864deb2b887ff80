// Bilevel page images for the fax end-to-end tests: made from a seed, written as PBM (for efix) or as a
// TIFF with Group 3 coding (for the far end's transmitter), and read back from any TIFF that libtiff decodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace faxpages {

constexpr int kWidth = 1728;  // the standard fax line: 215 mm at 8 pixels/mm

// Rows of kWidth / 8 bytes, most significant bit first, 1 = black.
struct Page {
    int width = kWidth;
    std::vector<std::vector<uint8_t>> rows;
};

// A page of `rows` scan lines with blocks of "text": runs of many lengths, blank gaps, a frame.
Page MakePage(uint32_t seed, int rows);
bool WritePbm(const std::string& path, const Page& page);
// One file with every page, 1-D Group 3 coding, fine resolution.
bool WriteTiffG3(const std::string& path, const std::vector<Page>& pages);
// Every page of a TIFF file (empty when it cannot be read); *error tells why.
std::vector<Page> ReadTiff(const std::string& path, std::string* error);
// The number of leading all-white rows.
int BlankRowsAtTop(const Page& page);
// Where two pages first differ, or an empty string when they are equal.
std::string Difference(const Page& expected, const Page& got);

}  // namespace faxpages
