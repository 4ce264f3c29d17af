#include "history/BufferHandoff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quarn {
namespace {

// Every byte given arrives once, in order, while the giver refills the
// buffers it gets back and the taker recycles them as fast as it can.
TEST(BufferHandoff, EveryBufferArrivesWholeAndInOrderWhileBuffersAreReused) {
    BufferHandoff handoff(3);
    constexpr int kBuffers = 2000;
    std::string received;
    std::thread taker([&] {
        std::string piece;
        while (handoff.Take(piece)) {
            received += piece;
            handoff.GiveBack(piece);
        }
    });
    std::string expected;
    std::string bytes;
    for (int i = 0; i < kBuffers; ++i) {
        bytes = std::to_string(i) + ";";  // over whatever a reused buffer held
        expected += bytes;
        handoff.Give(bytes);
    }
    handoff.Close();
    taker.join();
    EXPECT_EQ(received, expected);
}

// However far a slow taker falls behind, the giver is never more than the
// bound ahead of it; once the giver closes, every buffer still arrives.
TEST(BufferHandoff, AGiverStaysWithinTheBoundOfASlowTaker) {
    constexpr size_t kBound = 4;
    constexpr size_t kBuffers = 300;
    BufferHandoff handoff(kBound);
    std::atomic<size_t> given{0};
    std::thread giver([&] {
        for (size_t i = 0; i < kBuffers; ++i) {
            std::string bytes(1, char('a' + i % 26));
            handoff.Give(bytes);
            given.fetch_add(1);
        }
        handoff.Close();
    });
    std::string all, expected, piece;
    for (size_t i = 0; i < kBuffers; ++i) {
        expected += char('a' + i % 26);
    }
    size_t taken = 0;
    for (;;) {
        // Give the giver every chance to run ahead before the next take.
        for (int i = 0; i < 50; ++i) {
            std::this_thread::yield();
        }
        EXPECT_LE(given.load(), taken + kBound);
        if (!handoff.Take(piece)) {
            break;
        }
        ++taken;
        all += piece;
        handoff.GiveBack(piece);
    }
    giver.join();
    EXPECT_EQ(taken, kBuffers);
    EXPECT_EQ(all, expected);
}

}  // namespace
}  // namespace quarn
