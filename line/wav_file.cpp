#include "line/wav_file.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

bool Fail(std::string* error, const std::string& path, const char* what)
{
    if (error != nullptr)
        *error = path + ": " + what;
    return false;
}

}  // namespace

int32_t LineFileFormatOf(const std::string& path)
{
    if (path.size() >= 4) {
        std::string ext = path.substr(path.size() - 4);
        for (char& c : ext)
            c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
        if (ext == ".wav")
            return LINE_FILE_WAV;
    }
    return LINE_FILE_RAW;
}

bool SampleFileOpenRead(SampleFileReader* r, const std::string& path, int32_t format, std::string* error)
{
    *r = SampleFileReader{};
    r->file = std::fopen(path.c_str(), "rb");
    if (r->file == nullptr)
        return Fail(error, path, std::strerror(errno));
    r->format = format;
    if (format == LINE_FILE_RAW) {
        r->remaining = UINT64_MAX;
        return true;
    }
    uint8_t head[12];
    if (std::fread(head, 1, 12, r->file) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        SampleFileCloseRead(r);
        return Fail(error, path, "not a WAV file");
    }
    bool haveFormat = false;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, r->file) != 8) {
            SampleFileCloseRead(r);
            return Fail(error, path, "WAV file has no data chunk");
        }
        const uint32_t size = ReadLe32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (size < 16 || std::fread(fmt, 1, 16, r->file) != 16) {
                SampleFileCloseRead(r);
                return Fail(error, path, "bad WAV format chunk");
            }
            if (ReadLe16(fmt) != 1 || ReadLe16(fmt + 2) != 1 || ReadLe32(fmt + 4) != 8000 || ReadLe16(fmt + 14) != 16) {
                SampleFileCloseRead(r);
                return Fail(error, path, "WAV file is not 16-bit mono 8000 Hz PCM");
            }
            haveFormat = true;
            if (std::fseek(r->file, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) != 0) {
                SampleFileCloseRead(r);
                return Fail(error, path, "truncated WAV file");
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                SampleFileCloseRead(r);
                return Fail(error, path, "WAV data before its format chunk");
            }
            r->remaining = size / 2;
            return true;
        } else if (std::fseek(r->file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            SampleFileCloseRead(r);
            return Fail(error, path, "truncated WAV file");
        }
    }
}

size_t SampleFileRead(SampleFileReader* r, int16_t* samples, size_t n)
{
    if (r->file == nullptr || r->ended)
        return 0;
    if (n > r->remaining)
        n = static_cast<size_t>(r->remaining);
    uint8_t bytes[2 * 256];
    size_t done = 0;
    while (done < n) {
        const size_t want = std::min<size_t>(n - done, 256);
        const size_t got = std::fread(bytes, 2, want, r->file);
        for (size_t i = 0; i < got; ++i)
            samples[done + i] = static_cast<int16_t>(ReadLe16(bytes + 2 * i));
        done += got;
        if (got < want)
            break;
    }
    if (r->remaining != UINT64_MAX)
        r->remaining -= done;
    if (done < n || r->remaining == 0)
        r->ended = true;
    return done;
}

void SampleFileCloseRead(SampleFileReader* r)
{
    if (r->file != nullptr)
        std::fclose(r->file);
    r->file = nullptr;
}

bool SampleFileOpenWrite(SampleFileWriter* w, const std::string& path, int32_t format, std::string* error)
{
    *w = SampleFileWriter{};
    w->file = std::fopen(path.c_str(), "wb");
    if (w->file == nullptr)
        return Fail(error, path, std::strerror(errno));
    w->format = format;
    if (format == LINE_FILE_WAV) {
        uint8_t head[44] = {};
        std::memcpy(head, "RIFF", 4);
        std::memcpy(head + 8, "WAVEfmt ", 8);
        WriteLe32(head + 16, 16);
        WriteLe16(head + 20, 1);
        WriteLe16(head + 22, 1);
        WriteLe32(head + 24, 8000);
        WriteLe32(head + 28, 16000);
        WriteLe16(head + 32, 2);
        WriteLe16(head + 34, 16);
        std::memcpy(head + 36, "data", 4);
        if (std::fwrite(head, 1, 44, w->file) != 44) {
            SampleFileCloseWrite(w);
            return Fail(error, path, "cannot write");
        }
    }
    return true;
}

bool SampleFileWrite(SampleFileWriter* w, const int16_t* samples, size_t n)
{
    if (w->file == nullptr)
        return false;
    uint8_t bytes[2 * 256];
    size_t done = 0;
    while (done < n) {
        const size_t chunk = std::min<size_t>(n - done, 256);
        for (size_t i = 0; i < chunk; ++i)
            WriteLe16(bytes + 2 * i, static_cast<uint16_t>(samples[done + i]));
        if (std::fwrite(bytes, 2, chunk, w->file) != chunk)
            return false;
        done += chunk;
    }
    w->written += n;
    return true;
}

void SampleFileCloseWrite(SampleFileWriter* w)
{
    if (w->file == nullptr)
        return;
    if (w->format == LINE_FILE_WAV) {
        const uint64_t bytes64 = w->written * 2;
        const uint32_t bytes = bytes64 > 0xFFFFFFD0u ? 0xFFFFFFD0u : static_cast<uint32_t>(bytes64);
        uint8_t v[4];
        WriteLe32(v, 36 + bytes);
        std::fseek(w->file, 4, SEEK_SET);
        std::fwrite(v, 1, 4, w->file);
        WriteLe32(v, bytes);
        std::fseek(w->file, 40, SEEK_SET);
        std::fwrite(v, 1, 4, w->file);
    }
    std::fclose(w->file);
    w->file = nullptr;
}
