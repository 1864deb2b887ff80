#include "line/sample_queue.h"

#include <algorithm>
#include <cstring>

// Both directions move at most two runs (up to the end of the ring, then from its start).
size_t SampleQueue::Push(const int16_t* samples, size_t n)
{
    const size_t cap = ring_.size();
    const size_t todo = std::min(n, cap - size_);
    size_t done = 0;
    while (done < todo) {
        const size_t at = (head_ + size_) % cap;
        const size_t run = std::min(todo - done, cap - at);
        if (samples != nullptr)
            std::memcpy(&ring_[at], samples + done, run * sizeof(int16_t));
        else
            std::memset(&ring_[at], 0, run * sizeof(int16_t));
        size_ += run;
        done += run;
    }
    return done;
}

size_t SampleQueue::PushSilence(size_t n)
{
    return Push(nullptr, n);
}

size_t SampleQueue::Pop(int16_t* samples, size_t n)
{
    const size_t cap = ring_.size();
    const size_t todo = std::min(n, size_);
    size_t done = 0;
    while (done < todo) {
        const size_t run = std::min(todo - done, cap - head_);
        if (samples != nullptr)
            std::memcpy(samples + done, &ring_[head_], run * sizeof(int16_t));
        head_ = (head_ + run) % cap;
        size_ -= run;
        done += run;
    }
    return done;
}
