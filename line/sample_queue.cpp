#include "line/sample_queue.h"

size_t SampleQueue::Push(const int16_t* samples, size_t n)
{
    size_t done = 0;
    const size_t cap = ring_.size();
    while (done < n && size_ < cap) {
        ring_[(head_ + size_) % cap] = samples != nullptr ? samples[done] : 0;
        ++size_;
        ++done;
    }
    return done;
}

size_t SampleQueue::PushSilence(size_t n)
{
    return Push(nullptr, n);
}

size_t SampleQueue::Pop(int16_t* samples, size_t n)
{
    size_t done = 0;
    const size_t cap = ring_.size();
    while (done < n && size_ > 0) {
        if (samples != nullptr)
            samples[done] = ring_[head_];
        head_ = (head_ + 1) % cap;
        --size_;
        ++done;
    }
    return done;
}
