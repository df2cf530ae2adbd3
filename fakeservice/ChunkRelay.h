#pragma once

// Gathers the pieces of a stream in a fixed buffer (filled by Append, or
// straight, by receiving into Room()) and hands them to a consumer in
// pieces of the buffer's size. On a thread of its own the consumer works two
// buffers deep: while it works on one buffer, the producer fills the other,
// so a large upload is received and stored at the same time, rather than
// each piece waiting for the one before to be stored.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class ChunkRelay {
public:
    using Consumer = std::function<void(const char* data, std::size_t length)>;

    // The consumer gets pieces of up to bufferSize bytes, in order, on a
    // thread of its own or on the producer's. Made, fed and ended on one
    // thread.
    ChunkRelay(std::size_t bufferSize, Consumer consumer, bool ownThread);
    ~ChunkRelay();

    ChunkRelay(const ChunkRelay&) = delete;
    ChunkRelay& operator=(const ChunkRelay&) = delete;

    void Append(const char* data, std::size_t length);

    // Where the next bytes may be written (at least one byte), and then how
    // many were.
    std::pair<char*, std::size_t> Room();
    void Filled(std::size_t length);

    // Hands on what is left and returns once the consumer has taken all.
    void Finish();

private:
    // Gives the consumer the filled buffer (on its own thread once it is
    // free).
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
    std::thread thread_;  // started last: it uses the members above
};
