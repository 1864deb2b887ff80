// A bounded first-in first-out queue of 16-bit samples (the line's 8000 Hz queues).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class SampleQueue {
public:
    explicit SampleQueue(size_t capacity = 16384) : ring_(capacity) {}
    size_t Size() const { return size_; }
    size_t Capacity() const { return ring_.size(); }
    void Clear() { head_ = size_ = 0; }
    // Appends; what does not fit is dropped. Returns the number appended.
    size_t Push(const int16_t* samples, size_t n);
    size_t PushSilence(size_t n);
    // Removes up to n samples; returns the number removed.
    size_t Pop(int16_t* samples, size_t n);

private:
    std::vector<int16_t> ring_;
    size_t head_ = 0;
    size_t size_ = 0;
};
