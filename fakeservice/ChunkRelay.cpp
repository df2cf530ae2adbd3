#include "fakeservice/ChunkRelay.h"

#include <algorithm>
#include <cstring>

namespace {

// The buffers of the relays that a thread has finished with: the next relay
// of the thread takes them, so that their memory is touched once per thread
// rather than once per relay (fresh pages are costly).
thread_local std::vector<char> spareFilling;
thread_local std::vector<char> spareHanded;

}  // namespace

ChunkRelay::ChunkRelay(std::size_t bufferSize, Consumer consumer, bool ownThread)
    : consumer_(std::move(consumer)), filling_(std::move(spareFilling)), handed_(std::move(spareHanded))
{
    filling_.resize(bufferSize);
    if (!ownThread)
        return;
    handed_.resize(bufferSize);
    thread_ = std::thread([this] { Run(); });
}

ChunkRelay::~ChunkRelay()
{
    Finish();
    spareFilling = std::move(filling_);
    spareHanded = std::move(handed_);
}

void ChunkRelay::Append(const char* data, std::size_t length)
{
    while (length > 0) {
        const auto [room, space] = Room();
        const std::size_t take = std::min(length, space);
        std::memcpy(room, data, take);
        Filled(take);
        data += take;
        length -= take;
    }
}

std::pair<char*, std::size_t> ChunkRelay::Room()
{
    if (filled_ == filling_.size())
        HandOver();
    return {filling_.data() + filled_, filling_.size() - filled_};
}

void ChunkRelay::Filled(std::size_t length)
{
    filled_ += length;
}

void ChunkRelay::Finish()
{
    if (filled_ > 0)
        HandOver();
    if (!thread_.joinable())
        return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        finished_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ChunkRelay::HandOver()
{
    if (!thread_.joinable()) {
        consumer_(filling_.data(), filled_);
        filled_ = 0;
        return;
    }
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        std::swap(filling_, handed_);
        handedLength_ = filled_;
        busy_ = true;
    }
    changed_.notify_all();
    filled_ = 0;
}

void ChunkRelay::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return busy_ || finished_; });
        if (!busy_)
            return;
        lock.unlock();
        consumer_(handed_.data(), handedLength_);
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
