#include "module/commands_buffer.h"

#include <atomic>
#include <optional>
#include <set>
#include <thread>

#include "module/drv_variable_list.h"
#include "module_test_support.h"
#include "platform/clock.h"

namespace {

using module::TCommandsBuffer;
using module::TQueuedCommand;
using module_test::Tag;

struct TRequest {
    int32_t VariableId;
    float Value;
    float OldValue = 0;
    int32_t Time = 0;
    int32_t Date = 0;
};

// A block laid out as the host writes it, in memory of exactly its size so that a read past it
// is caught by the sanitizer.
std::vector<unsigned char> Block(const std::vector<TRequest>& requests,
                                 std::optional<int32_t> count = std::nullopt) {
    std::vector<unsigned char> b(8 + 20 * requests.size());
    const int32_t source = 77;
    const int32_t n = count.value_or(static_cast<int32_t>(requests.size()));
    std::memcpy(b.data(), &source, 4);
    std::memcpy(b.data() + 4, &n, 4);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        unsigned char* p = b.data() + 8 + 20 * i;
        std::memcpy(p, &requests[i].VariableId, 4);
        std::memcpy(p + 4, &requests[i].Value, 4);
        std::memcpy(p + 8, &requests[i].OldValue, 4);
        std::memcpy(p + 12, &requests[i].Time, 4);
        std::memcpy(p + 16, &requests[i].Date, 4);
    }
    return b;
}

bool Add(TCommandsBuffer& buffer, const std::vector<unsigned char>& block) {
    return buffer.AddRequests(block.data(), static_cast<int32_t>(block.size()));
}

std::vector<int32_t> QueuedIds(TCommandsBuffer& buffer) {
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < buffer.QueuedCount(); ++i)
        ids.push_back(buffer.QueuedAt(i)->VariableId);
    return ids;
}

// Variables 1..30 on prefix A: 1..20 on device 1, 21..30 on device 2; 101..103 on prefix B device 1.
class WriteQueue : public module_test::ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        std::vector<host::THostTag> tags;
        for (int32_t i = 1; i <= 30; ++i)
            tags.push_back(
                Tag(i, "A" + std::to_string(i),
                    "A: DEVICE=" + std::to_string(i <= 20 ? 1 : 2) + "; ADDRESS=" + std::to_string(100 + i)));
        for (int32_t i = 101; i <= 103; ++i)
            tags.push_back(Tag(i, "B" + std::to_string(i), "B: ROUTING=coil." + std::to_string(i)));
        WriteTags(tags);
        ASSERT_TRUE(variables.LoadDomain("A"));
        ASSERT_TRUE(variables.LoadDomain("B"));
        variables.RebuildIndex();
    }

    // The batch in the region as the server would read it.
    framework::TCommandsRegion Batch() {
        framework::TCommandsRegion r;
        EXPECT_TRUE(area->CommandsList.CopyTo(r));
        return r;
    }
    std::vector<int32_t> BatchIds() {
        const framework::TCommandsRegion r = Batch();
        std::vector<int32_t> ids;
        for (int32_t i = 0; i < r.Count; ++i)
            ids.push_back(r.Commands[i].VariableId);
        return ids;
    }
    // Fills, checks what a batch always is, and clears the region as a finished batch leaves it.
    std::vector<int32_t> NextBatch(TCommandsBuffer& buffer) {
        if (!buffer.FillCommands()) return {};
        const framework::TCommandsRegion r = Batch();
        EXPECT_EQ(r.Flag, framework::csIdle); // placed, not published
        EXPECT_GE(r.Count, 1);
        EXPECT_LE(r.Count, 16);
        for (int32_t i = 0; i < r.Count; ++i) {
            EXPECT_EQ(r.Commands[i].Domain.Get(), r.Domain.Get());
            EXPECT_EQ(r.Commands[i].Device, r.Device);
        }
        std::vector<int32_t> ids = BatchIds();
        area->CommandsList.Init();
        return ids;
    }

    module::TDRVVariableList variables;
};

TEST_F(WriteQueue, ARequestIsQueuedWithItsVariablesRoutingAndItsOwnValues) {
    TCommandsBuffer buffer(variables);
    ASSERT_TRUE(Add(buffer, Block({{22, 1.5f, 0.5f, 1234, 739000}, {102, -2.0f, 3.0f, 5, 6}})));
    ASSERT_EQ(buffer.QueuedCount(), 2);
    const TQueuedCommand* a = buffer.QueuedAt(0);
    EXPECT_EQ(a->VariableId, 22);
    EXPECT_EQ(a->Domain.Get(), "A");
    EXPECT_EQ(a->Device, 2);
    EXPECT_EQ(a->TagAddress, 122);
    EXPECT_EQ(a->StrAddress.Get(), "");
    EXPECT_EQ(a->Value, 1.5f);
    EXPECT_EQ(a->OldValue, 0.5f);
    EXPECT_EQ(a->Time, 1234);
    EXPECT_EQ(a->Date, 739000);
    const TQueuedCommand* b = buffer.QueuedAt(1);
    EXPECT_EQ(b->Domain.Get(), "B");
    EXPECT_EQ(b->StrAddress.Get(), "coil.102");
    EXPECT_EQ(b->Value, -2.0f);
}

TEST_F(WriteQueue, ALaterRequestForAVariableReplacesTheEarlierAtTheEnd) {
    TCommandsBuffer buffer(variables);
    ASSERT_TRUE(Add(buffer, Block({{1, 1.0f}, {2, 2.0f}, {1, 3.0f}})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{2, 1}));
    EXPECT_EQ(buffer.QueuedAt(1)->Value, 3.0f);
    ASSERT_TRUE(Add(buffer, Block({{2, 4.0f}})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(buffer.QueuedAt(1)->Value, 4.0f);
}

TEST_F(WriteQueue, AnUnboundVariableFailsTheCallWhileTheOthersAreQueued) {
    TCommandsBuffer buffer(variables);
    EXPECT_FALSE(Add(buffer, Block({{1, 1.0f}, {999, 2.0f}, {101, 3.0f}})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{1, 101}));
}

TEST_F(WriteQueue, TheBlockIsReadNoFurtherThanItsSize) {
    TCommandsBuffer buffer(variables);
    // Nothing given: nothing to do, and no failure.
    EXPECT_TRUE(buffer.AddRequests(nullptr, 100));
    const auto one = Block({{1, 1.0f}});
    EXPECT_TRUE(buffer.AddRequests(one.data(), 0));
    EXPECT_EQ(buffer.QueuedCount(), 0);

    // Count says 3, the block holds 2 (and a part of a third): the two are queued, the call fails.
    auto cut = Block({{1, 1.0f}, {2, 2.0f}, {3, 3.0f}});
    cut.resize(cut.size() - 1);
    EXPECT_FALSE(Add(buffer, cut));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{1, 2}));

    // A Count far beyond the block, and a negative one.
    EXPECT_FALSE(Add(buffer, Block({{4, 4.0f}}, 0x7fffffff)));
    EXPECT_FALSE(Add(buffer, Block({{5, 5.0f}}, -1)));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{1, 2, 4}));

    // A size below the header queues nothing.
    for (int32_t size : {1, 4, 7}) {
        std::vector<unsigned char> tiny(static_cast<std::size_t>(size), 0xFF);
        EXPECT_FALSE(buffer.AddRequests(tiny.data(), size));
    }
    EXPECT_TRUE(Add(buffer, Block({})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{1, 2, 4}));
}

TEST_F(WriteQueue, AQueueOfMoreThanTenIsGivenUpWhenTheNextRequestsCome) {
    TCommandsBuffer buffer(variables);
    std::vector<TRequest> ten;
    for (int32_t i = 1; i <= 10; ++i)
        ten.push_back({i, 1.0f});
    ASSERT_TRUE(Add(buffer, Block(ten)));
    ASSERT_TRUE(Add(buffer, Block({{11, 1.0f}})));
    EXPECT_EQ(buffer.QueuedCount(), 11); // ten are not more than ten
    ASSERT_TRUE(Add(buffer, Block({{12, 1.0f}})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{12}));

    // Twelve in one block are kept; the block after them finds twelve and starts anew.
    std::vector<TRequest> twelve;
    for (int32_t i = 1; i <= 12; ++i)
        twelve.push_back({i, 1.0f});
    ASSERT_TRUE(Add(buffer, Block(twelve)));
    EXPECT_EQ(buffer.QueuedCount(), 12);
    ASSERT_TRUE(Add(buffer, Block({{20, 2.0f}, {101, 3.0f}})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{20, 101}));
    // A failing block discards as well.
    ASSERT_TRUE(Add(buffer, Block(twelve)));
    EXPECT_FALSE(Add(buffer, Block({{999, 1.0f}})));
    EXPECT_EQ(buffer.QueuedCount(), 0);
}

TEST_F(WriteQueue, NoBatchWithoutAreaOrWhileTheRegionIsBusy) {
    TCommandsBuffer buffer(variables);
    ASSERT_TRUE(Add(buffer, Block({{1, 1.0f}})));
    EXPECT_FALSE(buffer.FillCommands());
    CreateArea(0);
    for (uint8_t flag : {framework::csPublished, framework::csTaken, framework::csDone}) {
        area->CommandsList.SetFlag(flag);
        EXPECT_FALSE(buffer.FillCommands());
    }
    area->CommandsList.Init();
    framework::TCommandRecord other{};
    other.VariableId = 50;
    ASSERT_TRUE(area->CommandsList.Add(other));
    EXPECT_FALSE(buffer.FillCommands());
    EXPECT_EQ(BatchIds(), (std::vector<int32_t>{50}));
    EXPECT_EQ(buffer.QueuedCount(), 1);

    // An empty queue leaves the region cleared.
    area->CommandsList.Init();
    ASSERT_EQ(NextBatch(buffer), (std::vector<int32_t>{1}));
    EXPECT_FALSE(buffer.FillCommands());
    EXPECT_EQ(Batch().Count, 0);
    EXPECT_EQ(Batch().Device, -1);
}

TEST_F(WriteQueue, TwentyRequestsOfOneDeviceGoAsSixteenThenFour) {
    CreateArea(0);
    TCommandsBuffer buffer(variables);
    std::vector<TRequest> twenty;
    for (int32_t i = 20; i >= 1; --i)
        twenty.push_back({i, static_cast<float>(i) / 2, static_cast<float>(i)});
    ASSERT_TRUE(Add(buffer, Block(twenty)));
    ASSERT_TRUE(buffer.FillCommands());

    const framework::TCommandsRegion r = Batch();
    ASSERT_EQ(r.Count, 16);
    EXPECT_EQ(r.Domain.Get(), "A");
    EXPECT_EQ(r.Device, 1);
    EXPECT_EQ(r.Flag, framework::csIdle);
    for (int32_t i = 0; i < 16; ++i) {
        const framework::TCommandRecord& c = r.Commands[i];
        EXPECT_EQ(c.VariableId, 20 - i); // queue order
        EXPECT_EQ(c.TagAddress, 120 - i);
        EXPECT_EQ(c.Value, static_cast<float>(20 - i) / 2);
        EXPECT_EQ(c.OldValue, static_cast<float>(20 - i));
    }
    EXPECT_EQ(buffer.QueuedCount(), 4);
    // The batch is not taken yet: nothing moves.
    EXPECT_FALSE(buffer.FillCommands());
    area->CommandsList.Init();
    EXPECT_EQ(NextBatch(buffer), (std::vector<int32_t>{4, 3, 2, 1}));
    EXPECT_EQ(buffer.QueuedCount(), 0);
}

TEST_F(WriteQueue, ABatchEndsWhereThePrefixOrTheDeviceChanges) {
    CreateArea(0);
    TCommandsBuffer buffer(variables);
    // A1, B1, A2: the B request holds back the second A one.
    ASSERT_TRUE(Add(buffer, Block({{1, 1.0f}, {101, 1.0f}, {2, 1.0f}})));
    EXPECT_EQ(NextBatch(buffer), (std::vector<int32_t>{1}));
    EXPECT_EQ(NextBatch(buffer), (std::vector<int32_t>{101}));
    EXPECT_EQ(NextBatch(buffer), (std::vector<int32_t>{2}));

    // One prefix, devices 1, 1, 2, 2, 1: three batches, each for one device.
    ASSERT_TRUE(Add(buffer, Block({{1, 1.0f}, {2, 1.0f}, {21, 1.0f}, {22, 1.0f}, {3, 1.0f}})));
    ASSERT_TRUE(buffer.FillCommands());
    EXPECT_EQ(Batch().Device, 1);
    EXPECT_EQ(Batch().Domain.Get(), "A");
    EXPECT_EQ(BatchIds(), (std::vector<int32_t>{1, 2}));
    area->CommandsList.Init();
    ASSERT_TRUE(buffer.FillCommands());
    EXPECT_EQ(Batch().Device, 2);
    EXPECT_EQ(BatchIds(), (std::vector<int32_t>{21, 22}));
    area->CommandsList.Init();
    EXPECT_EQ(NextBatch(buffer), (std::vector<int32_t>{3}));
}

// What batches of one device cost against batches of one prefix: each batch is a round through the
// server (published on one module tick, cleared on a later one), and a queue that is still longer
// than ten when the host writes again is lost.
TEST_F(WriteQueue, SmallerBatchesNeedMoreRoundsAndLeaveMoreToBeGivenUp) {
    CreateArea(0);
    TCommandsBuffer buffer(variables);
    auto rounds = [&](const std::vector<int32_t>& ids) {
        std::vector<TRequest> requests;
        for (int32_t id : ids)
            requests.push_back({id, 1.0f});
        EXPECT_TRUE(Add(buffer, Block(requests)));
        int n = 0;
        std::vector<int32_t> delivered;
        for (std::vector<int32_t> b; !(b = NextBatch(buffer)).empty(); ++n)
            delivered.insert(delivered.end(), b.begin(), b.end());
        EXPECT_EQ(delivered, ids); // nothing lost, nothing twice, queue order kept
        return n;
    };
    const std::vector<int32_t> oneDevice{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::vector<int32_t> twoRuns{1, 2, 3, 4, 5, 6, 21, 22, 23, 24, 25, 26};
    const std::vector<int32_t> alternating{1, 21, 2, 22, 3, 23, 4, 24, 5, 25, 6, 26};
    const int one = rounds(oneDevice), two = rounds(twoRuns), alternate = rounds(alternating);
    EXPECT_EQ(one, 1);
    EXPECT_EQ(two, 2);
    EXPECT_EQ(alternate, 12); // one prefix alone would take them in one round
    std::printf("rounds for 12 writes of one prefix: one device %d, two runs %d, alternating devices %d\n",
                one, two, alternate);

    // Alternating: after the first round eleven are left, and the host's next write loses them.
    std::vector<TRequest> requests;
    for (int32_t id : alternating)
        requests.push_back({id, 1.0f});
    ASSERT_TRUE(Add(buffer, Block(requests)));
    EXPECT_EQ(NextBatch(buffer), (std::vector<int32_t>{1}));
    ASSERT_TRUE(Add(buffer, Block({{101, 1.0f}})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{101}));
    EXPECT_EQ(NextBatch(buffer), (std::vector<int32_t>{101}));
    // The same twelve on one device leave the region in one round, and nothing is lost.
    requests.clear();
    for (int32_t id : oneDevice)
        requests.push_back({id, 1.0f});
    ASSERT_TRUE(Add(buffer, Block(requests)));
    EXPECT_EQ(NextBatch(buffer).size(), 12u);
    ASSERT_TRUE(Add(buffer, Block({{101, 1.0f}})));
    EXPECT_EQ(QueuedIds(buffer), (std::vector<int32_t>{101}));
}

// The host thread queues while the module thread moves batches out and a stand-in server clears
// them: every batch is one prefix and one device, and no request arrives twice or altered.
TEST_F(WriteQueue, HostAndModuleThreadsShareTheQueue) {
    CreateArea(0);
    TCommandsBuffer buffer(variables);
    std::atomic<bool> done{false};
    std::vector<framework::TCommandRecord> delivered;
    std::thread module([&] {
        const uint64_t deadline = platform::MonotonicMs() + 10000;
        while (platform::MonotonicMs() < deadline) {
            const bool last = done.load();
            if (buffer.FillCommands()) {
                const framework::TCommandsRegion r = Batch();
                for (int32_t i = 0; i < r.Count; ++i) {
                    EXPECT_EQ(r.Commands[i].Device, r.Device);
                    EXPECT_EQ(r.Commands[i].Domain.Get(), r.Domain.Get());
                    delivered.push_back(r.Commands[i]);
                }
                area->CommandsList.Init();
            } else if (last) {
                break;
            }
        }
    });
    int32_t sent = 0;
    for (int32_t round = 0; round < 300; ++round) {
        const int32_t a = 1 + round % 30;
        const int32_t b = 101 + round % 3;
        ASSERT_TRUE(Add(buffer, Block({{a, static_cast<float>(round)}, {b, static_cast<float>(round)}})));
        sent += 2;
    }
    done = true;
    module.join();
    EXPECT_EQ(buffer.QueuedCount(), 0);
    EXPECT_GT(delivered.size(), 0u);
    EXPECT_LE(static_cast<int32_t>(delivered.size()), sent);
    std::set<std::pair<int32_t, float>> seen;
    for (const framework::TCommandRecord& c : delivered) {
        EXPECT_TRUE(seen.insert({c.VariableId, c.Value}).second) << c.VariableId << " " << c.Value;
        const module::TDrvVariableRecord* record = variables.FindById(c.VariableId);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(c.Domain.Get(), record->Domain.Get());
        EXPECT_EQ(c.Device, record->Device);
        EXPECT_EQ(c.TagAddress, record->TagAddress);
    }
}

} // namespace
