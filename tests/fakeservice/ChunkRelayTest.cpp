// The relay that gathers an upload's pieces and stores them, on a thread of
// its own while the next bytes arrive or on the receiving thread: the
// consumer gets every byte once, in order, in pieces of at most the buffer's
// size, whether the bytes are copied in or received straight into its room.

#include "fakeservice/ChunkRelay.h"

#include "tests/support/PatternData.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

// As a receive would: into the room, as much as fits each time.
void Receive(ChunkRelay& relay, const char* data, std::size_t length)
{
    for (std::size_t done = 0; done < length;) {
        const auto [room, space] = relay.Room();
        const std::size_t take = std::min(space, length - done);
        std::memcpy(room, data + done, take);
        relay.Filled(take);
        done += take;
    }
}

TEST(ChunkRelayTest, ConsumerGetsEveryByteInOrder)
{
    const QByteArray bytes = PatternData(100000);
    for (const bool ownThread : {true, false}) {
        for (const qsizetype piece : {qsizetype(1), qsizetype(999), qsizetype(5000), bytes.size()}) {
            SCOPED_TRACE(testing::Message() << "own thread " << ownThread << ", pieces of " << piece);
            QByteArray consumed;
            std::size_t largest = 0;
            const auto consume = [&](const char* data, std::size_t length) {
                consumed.append(data, qsizetype(length));
                largest = std::max(largest, length);
            };
            ChunkRelay relay(4096, consume, ownThread);
            bool copy = true;
            for (qsizetype at = 0; at < bytes.size(); at += piece, copy = !copy) {
                const auto length = std::size_t(std::min(piece, bytes.size() - at));
                if (copy)
                    relay.Append(bytes.constData() + at, length);
                else
                    Receive(relay, bytes.constData() + at, length);
            }
            relay.Finish();
            EXPECT_TRUE(consumed == bytes) << consumed.size() << " bytes";
            EXPECT_LE(largest, 4096u);
        }
    }
}

}  // namespace
