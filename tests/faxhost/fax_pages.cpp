#include "fax_pages.h"

#include <tiffio.h>

#include <cstdio>
#include <random>

namespace faxpages {

namespace {

void SetRun(std::vector<uint8_t>* row, int from, int length)
{
    for (int x = from; x < from + length && x < kWidth; ++x)
        (*row)[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

// libtiff reports through these; the tests look at the result instead.
void Quiet(const char*, const char*, va_list) {}

}  // namespace

Page MakePage(uint32_t seed, int rows)
{
    std::mt19937 rng(seed);
    Page page;
    page.rows.assign(static_cast<size_t>(rows), std::vector<uint8_t>(kWidth / 8, 0));
    // A frame round the page, then lines of "words": blocks of 6 to 10 rows with runs of 1 to 40 pixels.
    for (int x = 0; x < kWidth; ++x) {
        SetRun(&page.rows.front(), x, 1);
        SetRun(&page.rows.back(), x, 1);
    }
    for (int y = 0; y < rows; ++y) {
        SetRun(&page.rows[static_cast<size_t>(y)], 16, 2);
        SetRun(&page.rows[static_cast<size_t>(y)], kWidth - 18, 2);
    }
    int y = 4;
    while (y + 10 < rows - 2) {
        const int height = 6 + static_cast<int>(rng() % 5);
        int x = 40 + static_cast<int>(rng() % 40);
        while (x < kWidth - 120) {
            const int word = 20 + static_cast<int>(rng() % 140);
            for (int r = 0; r < height; ++r) {
                // Each row of a word: a few runs whose lengths vary row by row.
                int at = x;
                while (at < x + word) {
                    const int run = 1 + static_cast<int>(rng() % 40);
                    if (rng() % 3 != 0)
                        SetRun(&page.rows[static_cast<size_t>(y + r)], at, std::min(run, x + word - at));
                    at += run + 1 + static_cast<int>(rng() % 6);
                }
            }
            x += word + 30 + static_cast<int>(rng() % 60);
        }
        y += height + 4 + static_cast<int>(rng() % 6);
    }
    return page;
}

bool WritePbm(const std::string& path, const Page& page)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    std::fprintf(f, "P4\n%d %zu\n", page.width, page.rows.size());
    for (const auto& row : page.rows)
        std::fwrite(row.data(), 1, row.size(), f);
    return std::fclose(f) == 0;
}

bool WriteTiffG3(const std::string& path, const std::vector<Page>& pages)
{
    TIFFSetErrorHandler(Quiet);
    TIFFSetWarningHandler(Quiet);
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (t == nullptr)
        return false;
    bool ok = true;
    for (size_t p = 0; ok && p < pages.size(); ++p) {
        const Page& page = pages[p];
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, page.width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.rows.size()));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
        TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, static_cast<uint32_t>(GROUP3OPT_FILLBITS));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.rows.size()));
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 80.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 77.0f);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(p), static_cast<uint16_t>(pages.size()));
        for (size_t y = 0; ok && y < page.rows.size(); ++y) {
            std::vector<uint8_t> row = page.rows[y];
            ok = TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) == 1;
        }
        ok = ok && TIFFWriteDirectory(t) == 1;
    }
    TIFFClose(t);
    return ok;
}

std::vector<Page> ReadTiff(const std::string& path, std::string* error)
{
    TIFFSetErrorHandler(Quiet);
    TIFFSetWarningHandler(Quiet);
    std::vector<Page> pages;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (t == nullptr) {
        *error = "cannot open " + path + " as TIFF";
        return pages;
    }
    do {
        uint32_t width = 0;
        uint32_t length = 0;
        uint16_t photometric = PHOTOMETRIC_MINISWHITE;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &length);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
        Page page;
        page.width = static_cast<int>(width);
        std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(t)));
        for (uint32_t y = 0; y < length; ++y) {
            if (TIFFReadScanline(t, row.data(), y, 0) != 1) {
                *error = path + ": row " + std::to_string(y) + " does not decode";
                TIFFClose(t);
                return {};
            }
            std::vector<uint8_t> r(row.begin(), row.begin() + static_cast<long>((width + 7) / 8));
            if (photometric == PHOTOMETRIC_MINISBLACK)
                for (uint8_t& b : r)
                    b = static_cast<uint8_t>(~b);
            page.rows.push_back(r);
        }
        pages.push_back(page);
    } while (TIFFReadDirectory(t) == 1);
    TIFFClose(t);
    return pages;
}

int BlankRowsAtTop(const Page& page)
{
    int n = 0;
    for (const auto& row : page.rows) {
        for (uint8_t b : row)
            if (b != 0)
                return n;
        ++n;
    }
    return n;
}

std::string Difference(const Page& expected, const Page& got)
{
    if (expected.width != got.width)
        return "width " + std::to_string(got.width) + ", expected " + std::to_string(expected.width);
    if (expected.rows.size() != got.rows.size())
        return std::to_string(got.rows.size()) + " rows, expected " + std::to_string(expected.rows.size());
    for (size_t y = 0; y < expected.rows.size(); ++y)
        if (expected.rows[y] != got.rows[y])
            return "row " + std::to_string(y) + " differs";
    return "";
}

}  // namespace faxpages
