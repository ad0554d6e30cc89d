// Growable arrays of item pointers: the base of every list of the system.
//
// A list owns its items only through FreeItem, which the base leaves empty. C++ calls no override
// from a base destructor, so every list that overrides FreeItem calls FreeAll in its own destructor.
#pragma once

#include <cstdint>
#include <vector>

namespace framework {

class TKVCollection {
public:
    TKVCollection();
    explicit TKVCollection(int32_t aDelta);
    virtual ~TKVCollection();
    TKVCollection(const TKVCollection&) = delete;
    TKVCollection& operator=(const TKVCollection&) = delete;

    void* At(int32_t index) const;
    virtual void AtDelete(int32_t index);
    virtual void AtFree(int32_t index);
    virtual void AtInsert(int32_t index, void* item);
    virtual void Delete(void* item);
    virtual void DeleteAll();
    virtual void Error(int32_t code, int32_t info);
    virtual void FreeAll();
    virtual void FreeItem(void* item);
    virtual int32_t IndexOf(void* item);
    virtual void Insert(void* item);
    virtual void SetDelta(int32_t aDelta);

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }
    int32_t Delta() const { return delta_; }

    template <class T> T* Item(int32_t index) const { return static_cast<T*>(At(index)); }

protected:
    std::vector<void*> items_; // length is the capacity; slots from Count on hold nullptr
    int32_t capacity_ = 0;
    int32_t delta_ = 100;
    int32_t count_ = 0;

private:
    void Reallocate(int32_t capacity);
};

class TKVSortedCollection : public TKVCollection {
public:
    TKVSortedCollection() = default;
    explicit TKVSortedCollection(int32_t aDelta) : TKVCollection(aDelta) {}

    int32_t IndexOf(void* item) override;
    void Insert(void* item) override;

    virtual int32_t Compare(const void* key1, const void* key2);
    virtual int32_t Compare2(const void* key1, const void* key2);
    virtual const void* KeyOf(const void* item);
    virtual bool Search(const void* key, int32_t& index);
    virtual bool Search2(const void* key, int32_t& index);

private:
    template <class Cmp> bool BinarySearch(const void* key, int32_t& index, Cmp cmp);
};

// The program lists derive from these; they add nothing.
class TBaseArray : public TKVCollection {
public:
    using TKVCollection::TKVCollection;
};

class TSortedArray : public TKVSortedCollection {
public:
    using TKVSortedCollection::TKVSortedCollection;
};

} // namespace framework
