// Frame queues and rings shared by LAPM and the line block.
#include <gtest/gtest.h>

#include "layer2/corecode/ec/ec_frames.h"

namespace {

struct Nodes {
    FrameNode node[4];
    FrameQueue q;
    Nodes() { ec_frame_queue_reset(&q, node, 4, sizeof(FrameNode)); }
    QueueNode* n(int i) { return &node[i]; }
};

TEST(EcFramesTest, ReceivePoolHandsOutFortyBuffersThenNone)
{
    static EcRxPool pool;
    ec_rx_pool_reset(&pool);
    for (int i = 0; i < EC_RX_POOL_BUFFERS; ++i)
        ASSERT_NE(ec_rx_pool_take(&pool), nullptr) << i;
    EXPECT_EQ(ec_rx_pool_take(&pool), nullptr);
    ec_rx_pool_give(&pool, &pool.buffers[3]);
    EXPECT_EQ(ec_rx_pool_take(&pool), &pool.buffers[3]);
    EXPECT_EQ(ec_rx_pool_take(&pool), nullptr);
}

TEST(EcFramesTest, CompletedFramesQueueInOrderAndTheLineBlockGetsAFreshBuffer)
{
    static EcRxPool pool;
    ec_rx_pool_reset(&pool);
    FrameNode* current = ec_rx_pool_take(&pool);
    FrameNode* first = current;
    current = ec_rx_frame_done(&pool, current);
    FrameNode* second = current;
    current = ec_rx_frame_done(&pool, current);
    EXPECT_NE(current, nullptr);
    EXPECT_EQ(ec_rx_ring_take(&pool), first);
    EXPECT_EQ(ec_rx_ring_take(&pool), second);
    EXPECT_EQ(ec_rx_ring_take(&pool), nullptr);
}

TEST(EcFramesTest, RemoveAtOneOnASingleNodeListEmptiesIt)
{
    Nodes t;
    ec_frame_enqueue(&t.q, ec_frame_take_free(&t.q));
    EXPECT_NE(ec_frame_remove_at(&t.q, 1), nullptr);
    EXPECT_EQ(t.q.head, nullptr);
    EXPECT_EQ(t.q.tail, nullptr);
}

TEST(EcFramesTest, InsertBeyondTheEndIsRefusedAndLeavesTheListAlone)
{
    Nodes t;
    QueueNode* a = ec_frame_take_free(&t.q);
    QueueNode* b = ec_frame_take_free(&t.q);
    ec_frame_enqueue(&t.q, a);
    EXPECT_FALSE(ec_frame_insert_at(&t.q, b, 2));
    EXPECT_EQ(ec_frame_count(&t.q), 1u);
    EXPECT_TRUE(ec_frame_insert_at(&t.q, b, 1));
    EXPECT_EQ(t.q.tail, b);
    QueueNode* c = ec_frame_take_free(&t.q);
    EXPECT_TRUE(ec_frame_insert_at(&t.q, c, 0));
    EXPECT_EQ(ec_frame_pop(&t.q), c);
    EXPECT_EQ(ec_frame_pop(&t.q), a);
    EXPECT_EQ(ec_frame_pop(&t.q), b);
    EXPECT_EQ(ec_frame_pop(&t.q), nullptr);
}

TEST(EcFramesTest, FreeListRunsDryAndRefills)
{
    Nodes t;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ec_frame_take_free(&t.q), t.n(i));
    EXPECT_EQ(ec_frame_take_free(&t.q), nullptr);
    EXPECT_EQ(t.q.free_tail, nullptr);
    ec_frame_release(&t.q, t.n(2));
    EXPECT_EQ(ec_frame_take_free(&t.q), t.n(2));
}

TEST(EcFramesTest, SixteenSlotRingDepthWraps)
{
    FrameRing16 r{};
    r.read = 5;
    r.write = 4;
    EXPECT_EQ(ec_tx_ring_depth(&r), 15);
    FrameNode n{};
    EXPECT_FALSE(ec_ring16_put(&r, &n));  // full
    r.read = r.write = 15;
    EXPECT_TRUE(ec_ring16_put(&r, &n));
    EXPECT_EQ(r.write, 0);
    EXPECT_EQ(ec_tx_ring_depth(&r), 1);
    EXPECT_EQ(ec_ring16_take(&r), &n);
    EXPECT_EQ(ec_ring16_take(&r), nullptr);
}

}  // namespace
