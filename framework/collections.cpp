#include "framework/collections.h"

#include <algorithm>

namespace framework {

TKVCollection::TKVCollection() : TKVCollection(100) {}

// A delta below 1 would leave no slot to grow into; it is held at 1.
TKVCollection::TKVCollection(int32_t aDelta) : delta_(std::max<int32_t>(aDelta, 1)) {
    Reallocate(delta_);
}

TKVCollection::~TKVCollection() {
    FreeAll();
}

void TKVCollection::Reallocate(int32_t capacity) {
    items_.resize(static_cast<std::size_t>(capacity), nullptr);
    capacity_ = capacity;
}

void* TKVCollection::At(int32_t index) const {
    if (index < 0 || index >= count_) return nullptr;
    return items_[static_cast<std::size_t>(index)];
}

void TKVCollection::AtDelete(int32_t index) {
    if (index < 0 || index >= count_) return;
    std::move(items_.begin() + index + 1, items_.begin() + count_, items_.begin() + index);
    --count_;
    if (count_ == 0 && capacity_ > delta_) Reallocate(delta_);
    items_[static_cast<std::size_t>(count_)] = nullptr;
}

void TKVCollection::AtFree(int32_t index) {
    if (index < 0 || index >= count_) return;
    void* item = At(index);
    AtDelete(index);
    FreeItem(item);
}

void TKVCollection::AtInsert(int32_t index, void* item) {
    if (index < 0) {
        Error(-1, 0);
        return;
    }
    if (index > count_) {
        Error(-2, 0);
        return;
    }
    if (count_ + 1 >= capacity_) Reallocate(capacity_ + delta_);
    auto at = items_.begin() + index;
    std::move_backward(at, items_.begin() + count_, items_.begin() + count_ + 1);
    *at = item;
    ++count_;
}

void TKVCollection::Delete(void* item) {
    AtDelete(IndexOf(item));
}

void TKVCollection::DeleteAll() {
    count_ = 0;
    items_.assign(static_cast<std::size_t>(delta_), nullptr);
    capacity_ = delta_;
}

void TKVCollection::Error(int32_t, int32_t) {}

void TKVCollection::FreeAll() {
    for (int32_t i = 0; i < count_; ++i)
        FreeItem(At(i));
    DeleteAll();
}

void TKVCollection::FreeItem(void*) {}

int32_t TKVCollection::IndexOf(void* item) {
    if (count_ == 0 || item == nullptr) return -1;
    for (int32_t i = 0; i < count_; ++i)
        if (items_[static_cast<std::size_t>(i)] == item) return i;
    return -1;
}

void TKVCollection::Insert(void* item) {
    AtInsert(count_, item);
}

void TKVCollection::SetDelta(int32_t aDelta) {
    delta_ = std::max<int32_t>(aDelta, 1);
}

int32_t TKVSortedCollection::IndexOf(void* item) {
    int32_t i = 0;
    if (Search(KeyOf(item), i) && i < count_) return i;
    return -1;
}

void TKVSortedCollection::Insert(void* item) {
    int32_t i = 0;
    if (!Search(KeyOf(item), i)) AtInsert(i, item);
}

int32_t TKVSortedCollection::Compare(const void*, const void*) {
    return 1;
}

int32_t TKVSortedCollection::Compare2(const void* key1, const void* key2) {
    return Compare(key1, key2);
}

const void* TKVSortedCollection::KeyOf(const void* item) {
    return item;
}

template <class Cmp> bool TKVSortedCollection::BinarySearch(const void* key, int32_t& index, Cmp cmp) {
    int32_t lo = 0, hi = count_ - 1;
    bool found = false;
    while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const int32_t c = cmp(KeyOf(items_[static_cast<std::size_t>(mid)]), key);
        if (c < 0) {
            lo = mid + 1;
        } else {
            // Going on to the left, rather than stopping at the first equal key, ends on the
            // leftmost of equal keys; with unique keys both give the same index.
            hi = mid - 1;
            if (c == 0) found = true;
        }
    }
    index = lo;
    return found;
}

bool TKVSortedCollection::Search(const void* key, int32_t& index) {
    return BinarySearch(key, index, [this](const void* a, const void* b) { return Compare(a, b); });
}

bool TKVSortedCollection::Search2(const void* key, int32_t& index) {
    return BinarySearch(key, index, [this](const void* a, const void* b) { return Compare2(a, b); });
}

} // namespace framework
