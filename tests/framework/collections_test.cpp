#include "framework/collections.h"

#include <gtest/gtest.h>

#include <vector>

using namespace framework;

namespace {

struct RecordingList : TBaseArray {
    using TBaseArray::TBaseArray;
    std::vector<int> errors;
    std::vector<void*> freed;
    void Error(int32_t code, int32_t) override { errors.push_back(code); }
    void FreeItem(void* item) override { freed.push_back(item); }
    ~RecordingList() override { FreeAll(); }
};

// Keys are the ints the items point at.
struct IntList : TSortedArray {
    int32_t Compare(const void* a, const void* b) override {
        const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
};

} // namespace

TEST(Collection, GrowthByDeltaLeavesOneFreeSlot) {
    RecordingList list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 100);
    EXPECT_EQ(list.Delta(), 100);
    std::vector<int> values(300);
    for (int i = 0; i < 99; ++i)
        list.Insert(&values[i]);
    EXPECT_EQ(list.Capacity(), 100);
    list.Insert(&values[99]); // the 100th append grows first
    EXPECT_EQ(list.Capacity(), 200);
    for (int i = 100; i < 250; ++i)
        list.Insert(&values[i]);
    EXPECT_EQ(list.Capacity(), 300);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(list.At(i), &values[i]);
    for (int i = 249; i >= 0; --i)
        list.AtDelete(i);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 100); // the list shrinks back to Delta when it empties
    EXPECT_TRUE(list.freed.empty()); // AtDelete does not release
}

TEST(Collection, OutOfRangeIndexesAndIdentity) {
    RecordingList list;
    int a = 1, b = 2;
    list.Insert(&a);
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(list.At(list.Count()), nullptr);
    list.AtInsert(list.Count() + 1, &b);
    list.AtInsert(-1, &b);
    EXPECT_EQ(list.errors, (std::vector<int>{-2, -1}));
    EXPECT_EQ(list.Count(), 1);
    list.Delete(&b);
    EXPECT_EQ(list.Count(), 1);
    list.AtInsert(0, nullptr);
    EXPECT_EQ(list.IndexOf(nullptr), -1);
    EXPECT_EQ(list.IndexOf(&a), 1);
    list.AtFree(5);
    list.AtDelete(-3);
    EXPECT_EQ(list.Count(), 2);
    list.AtInsert(1, &b);
    EXPECT_EQ(list.At(0), nullptr);
    EXPECT_EQ(list.At(1), &b);
    EXPECT_EQ(list.At(2), &a);
}

TEST(Collection, FreeAllReleasesInIndexOrder) {
    RecordingList list(10);
    int v[25];
    for (int& x : v)
        list.Insert(&x);
    list.FreeAll();
    ASSERT_EQ(list.freed.size(), 25u);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(list.freed[static_cast<size_t>(i)], &v[i]);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 10);
    list.Insert(&v[0]);
    list.AtFree(0);
    EXPECT_EQ(list.freed.back(), &v[0]);
}

TEST(Collection, DeltaBelowOneIsHeldAtOne) {
    RecordingList zero(0);
    RecordingList negative(-5);
    int v[5];
    for (int& x : v) {
        zero.Insert(&x);
        negative.Insert(&x);
    }
    EXPECT_EQ(zero.Count(), 5);
    EXPECT_EQ(zero.Delta(), 1);
    EXPECT_GT(negative.Capacity(), negative.Count());
    zero.SetDelta(0);
    EXPECT_EQ(zero.Delta(), 1);
    zero.Insert(&v[0]);
    EXPECT_EQ(zero.At(5), &v[0]);
}

TEST(SortedCollection, SearchInsertAndDuplicates) {
    IntList list;
    int one = 1, three = 3, five = 5, four = 4, otherThree = 3;
    list.Insert(&five);
    list.Insert(&one);
    list.Insert(&three);
    int32_t index = -1;
    EXPECT_FALSE(list.Search(&four, index));
    EXPECT_EQ(index, 2);
    list.Insert(&otherThree);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.At(1), &three);
    EXPECT_EQ(list.IndexOf(&otherThree), 1); // equal key, not identity
    EXPECT_EQ(list.IndexOf(&four), -1);
    int zero = 0, six = 6;
    EXPECT_FALSE(list.Search(&zero, index));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(list.Search(&six, index));
    EXPECT_EQ(index, 3);
    EXPECT_TRUE(list.Search2(&five, index));
    EXPECT_EQ(index, 2);
}

TEST(SortedCollection, SearchEndsOnTheLeftmostEqualKey) {
    IntList list;
    int v[] = {1, 2, 2, 2, 3};
    for (int& x : v)
        list.AtInsert(list.Count(), &x); // equal keys only through AtInsert
    int two = 2;
    int32_t index = -1;
    EXPECT_TRUE(list.Search(&two, index));
    EXPECT_EQ(index, 1);
}

TEST(SortedCollection, BaseCompareKeepsEveryItemAtTheFront) {
    TSortedArray list; // the base Compare answers 1: every stored key sorts after the searched one
    int a = 1, b = 2;
    list.Insert(&a);
    list.Insert(&b);
    EXPECT_EQ(list.At(0), &b);
    EXPECT_EQ(list.At(1), &a);
}
