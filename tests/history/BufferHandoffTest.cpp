#include "history/BufferHandoff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

// A taker that does not take stops the giver at the bound instead of letting
// the buffers pile up; once it takes, the giver goes on and nothing is lost.
TEST(BufferHandoff, AGiverWaitsAtTheBoundUntilTheTakerTakes) {
    constexpr size_t kBound = 4;
    BufferHandoff handoff(kBound);
    std::atomic<size_t> given{0};
    std::thread giver([&] {
        for (size_t i = 0; i < kBound + 2; ++i) {
            std::string bytes(1, char('a' + i));
            handoff.Give(bytes);
            given.fetch_add(1);
        }
        handoff.Close();
    });
    while (given.load() < kBound) {
        std::this_thread::yield();
    }
    // Were the bound not kept, the giver would be done by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(given.load(), kBound);

    std::string all, piece;
    while (handoff.Take(piece)) {
        all += piece;
        handoff.GiveBack(piece);
    }
    giver.join();
    EXPECT_EQ(all, "abcdef");
    EXPECT_EQ(given.load(), kBound + 2);
}

}  // namespace
}  // namespace quarn
