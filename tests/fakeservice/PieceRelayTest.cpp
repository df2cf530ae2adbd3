// The relay that stores a large upload while the next bytes arrive: the
// consumer gets every byte once, in order, whether the bytes are copied in
// or received straight into its room.

#include "fakeservice/PieceRelay.h"

#include "tests/support/PatternData.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <algorithm>
#include <cstring>

namespace {

TEST(PieceRelayTest, ConsumerGetsEveryByteInOrder)
{
    const QByteArray bytes = PatternData(100000);
    for (const qsizetype piece : {qsizetype(1), qsizetype(999), qsizetype(4096), bytes.size()}) {
        SCOPED_TRACE(piece);
        QByteArray consumed;
        std::size_t largest = 0;
        PieceRelay relay(4096, [&](const char* data, std::size_t length) {
            consumed.append(data, qsizetype(length));
            largest = std::max(largest, length);
        });
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            const qsizetype length = std::min(piece, bytes.size() - at);
            if (at % 2 == 0) {
                relay.Append(bytes.constData() + at, std::size_t(length));
                continue;
            }
            // As a receive would: into the room, as much as fits.
            for (qsizetype done = 0; done < length;) {
                const auto [room, space] = relay.Room();
                const auto take = std::min<std::size_t>(space, std::size_t(length - done));
                std::memcpy(room, bytes.constData() + at + done, take);
                relay.Filled(take);
                done += qsizetype(take);
            }
        }
        relay.Finish();
        EXPECT_TRUE(consumed == bytes) << consumed.size() << " bytes";
        EXPECT_LE(largest, 4096u);
    }
}

}  // namespace
