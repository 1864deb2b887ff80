// Cuts a recording of what a modem sent into its bursts: stretches of signal above 500 units, separated by at
// least 200 ms (1600 samples at 8000 Hz) of near-silence.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "line/wav_file.h"

namespace debugtest {

struct Burst {
    size_t first;
    size_t last;
};

template <typename Sample>
std::vector<Burst> Bursts(const std::vector<Sample>& x)
{
    std::vector<Burst> out;
    const size_t gap = 1600;
    size_t quiet = gap;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(static_cast<double>(x[i])) > 500) {
            if (quiet >= gap)
                out.push_back({i, i});
            out.back().last = i;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return out;
}

// Reads a raw recording into x and deletes the file; false (with the reason in error) when it cannot be opened.
template <typename Sample>
bool TakeRecording(const std::string& path, std::vector<Sample>* x, std::string* error)
{
    SampleFileReader r;
    if (!SampleFileOpenRead(&r, path, LINE_FILE_RAW, error))
        return false;
    int16_t buffer[800];
    size_t got;
    while ((got = SampleFileRead(&r, buffer, 800)) != 0)
        x->insert(x->end(), buffer, buffer + got);
    SampleFileCloseRead(&r);
    std::remove(path.c_str());
    return true;
}

}  // namespace debugtest
