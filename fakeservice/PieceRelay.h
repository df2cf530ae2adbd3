#pragma once

// Hands the pieces of a stream to a consumer on a thread of its own, two
// buffers deep: while the consumer works on one buffer, the producer fills
// the other (also straight, by receiving into Room()). So a large upload is
// received and stored at the same time, rather than each piece waiting for
// the one before to be stored.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class PieceRelay {
public:
    using Consumer = std::function<void(const char* data, std::size_t length)>;

    // The consumer gets pieces of up to bufferSize bytes, in order. Made,
    // fed and ended on one thread.
    PieceRelay(std::size_t bufferSize, Consumer consumer);
    ~PieceRelay();

    PieceRelay(const PieceRelay&) = delete;
    PieceRelay& operator=(const PieceRelay&) = delete;

    void Append(const char* data, std::size_t length);

    // Where the next bytes may be written (at least one byte), and then how
    // many were.
    std::pair<char*, std::size_t> Room();
    void Filled(std::size_t length);

    // Hands on what is left and returns once the consumer has taken all.
    void Finish();

private:
    // Waits until the consumer is free, then gives it the filled buffer.
    void HandOver();
    void Run();

    const Consumer consumer_;
    std::vector<char> filling_;
    std::size_t filled_ = 0;
    std::vector<char> handed_;  // the consumer's, while busy_
    std::size_t handedLength_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool busy_ = false;
    bool finished_ = false;
    std::thread thread_;  // last: it uses the members above
};
