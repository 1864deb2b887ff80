// Sample files of the line's file endpoint: 16-bit mono 8000 Hz, as WAV (PCM) or raw little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

enum LineFileFormat : int32_t {
    LINE_FILE_WAV = 0,
    LINE_FILE_RAW = 1,
};

// Format by the name's extension: ".wav" is WAV, anything else raw.
int32_t LineFileFormatOf(const std::string& path);

struct SampleFileReader {
    FILE* file = nullptr;
    int32_t format = LINE_FILE_RAW;
    uint64_t remaining = 0;  // samples left (WAV: of the data chunk)
    bool ended = false;
};

struct SampleFileWriter {
    FILE* file = nullptr;
    int32_t format = LINE_FILE_RAW;
    uint64_t written = 0;  // samples
};

// Open: false with a message naming the file and the fault (missing, not 16-bit mono 8000 Hz PCM, ...).
bool SampleFileOpenRead(SampleFileReader* reader, const std::string& path, int32_t format, std::string* error);
// Reads up to n samples; returns how many were read (fewer only at the end).
size_t SampleFileRead(SampleFileReader* reader, int16_t* samples, size_t n);
void SampleFileCloseRead(SampleFileReader* reader);

bool SampleFileOpenWrite(SampleFileWriter* writer, const std::string& path, int32_t format, std::string* error);
bool SampleFileWrite(SampleFileWriter* writer, const int16_t* samples, size_t n);
// Completes the WAV header's sizes and closes.
void SampleFileCloseWrite(SampleFileWriter* writer);
