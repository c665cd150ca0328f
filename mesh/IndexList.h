#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <vector>

// A list of record indices (a vertex's triangles or ring) with room for the usual few entries
// inside the list itself: most vertices need no allocation, copying a vertex (into the history,
// or when the vertex array grows) copies its lists in place, and the entries sit next to the
// rest of the record. Longer lists move to the heap. The interface is the part of std::vector
// that the mesh code uses, iterators being plain pointers.
class IndexList
{
public:
    using value_type = int;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = int &;
    using const_reference = const int &;
    using pointer = int *;
    using const_pointer = const int *;
    using iterator = int *;
    using const_iterator = const int *;

    // Entries held without an allocation: the valence of most vertices of a sculpted surface,
    // and of those that a decimation has just grown by one or two. Two lists of eight still
    // leave a vertex record within two cache lines.
    static constexpr std::uint32_t inlineCapacity = 8;

    IndexList() noexcept = default;
    IndexList(std::initializer_list<int> values) { assign(values.begin(), values.end()); }
    IndexList(const std::vector<int> &values)
    {
        assign(values.data(), values.data() + values.size());
    }
    template<typename It>
    IndexList(It first, It last)
    {
        assign(first, last);
    }
    IndexList(const IndexList &other)
    {
        // An inline list is copied whole, in one fixed-size move.
        if (other.onHeap()) {
            assign(other.begin(), other.end());
        } else {
            size_ = other.size_;
            std::memcpy(storage_, other.storage_, sizeof storage_);
        }
    }
    IndexList(IndexList &&other) noexcept { take(other); }
    ~IndexList() { release(); }

    IndexList &operator=(const IndexList &other)
    {
        if (this != &other)
            assign(other.begin(), other.end());
        return *this;
    }
    IndexList &operator=(IndexList &&other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    IndexList &operator=(std::initializer_list<int> values)
    {
        assign(values.begin(), values.end());
        return *this;
    }
    IndexList &operator=(const std::vector<int> &values)
    {
        assign(values.data(), values.data() + values.size());
        return *this;
    }

    // A copy as a std::vector, for code that works on plain vectors.
    operator std::vector<int>() const { return std::vector<int>(begin(), end()); }

    template<typename It>
    void assign(It first, It last)
    {
        const auto n = static_cast<std::uint32_t>(std::distance(first, last));
        size_ = 0;
        reserve(n);
        std::copy(first, last, data());
        size_ = n;
    }

    bool onHeap() const { return capacity_ > inlineCapacity; }
    int *data() { return onHeap() ? heap() : storage_; }
    const int *data() const { return onHeap() ? heap() : storage_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    // Bytes allocated outside the list (0 while the entries fit inside).
    std::size_t heapBytes() const { return onHeap() ? capacity_ * sizeof(int) : 0; }

    iterator begin() { return data(); }
    iterator end() { return data() + size_; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size_; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }

    int &operator[](std::size_t i) { return data()[i]; }
    const int &operator[](std::size_t i) const { return data()[i]; }
    int &front() { return data()[0]; }
    const int &front() const { return data()[0]; }
    int &back() { return data()[size_ - 1]; }
    const int &back() const { return data()[size_ - 1]; }

    void reserve(std::size_t n)
    {
        if (n > capacity_)
            grow(n);
    }
    void push_back(int value)
    {
        if (size_ == capacity_)
            grow(std::size_t(capacity_) * 2);
        data()[size_++] = value;
    }
    int &emplace_back(int value)
    {
        push_back(value);
        return back();
    }
    void pop_back() { --size_; }
    void clear() { size_ = 0; }
    void resize(std::size_t n, int value = 0)
    {
        reserve(n);
        if (n > size_)
            std::fill(data() + size_, data() + n, value);
        size_ = static_cast<std::uint32_t>(n);
    }
    iterator insert(const_iterator pos, int value)
    {
        const std::size_t at = pos - begin();
        push_back(value);
        std::rotate(begin() + at, end() - 1, end());
        return begin() + at;
    }
    template<typename It>
    iterator insert(const_iterator pos, It first, It last)
    {
        const std::size_t at = pos - begin();
        const std::size_t old = size_;
        for (; first != last; ++first)
            push_back(*first);
        std::rotate(begin() + at, begin() + old, end());
        return begin() + at;
    }
    iterator erase(const_iterator pos) { return erase(pos, pos + 1); }
    iterator erase(const_iterator first, const_iterator last)
    {
        const std::size_t at = first - begin();
        int *start = begin() + at;
        int *stop = start + (last - first);
        std::copy(stop, end(), start);
        size_ -= static_cast<std::uint32_t>(stop - start);
        return start;
    }
    // Back inside the list when the entries fit there again.
    void shrink_to_fit()
    {
        if (onHeap() && size_ <= inlineCapacity) {
            int *old = heap();
            const std::size_t oldCapacity = capacity_;
            std::copy(old, old + size_, storage_);
            capacity_ = inlineCapacity;
            std::allocator<int>().deallocate(old, oldCapacity);
        }
    }
    void swap(IndexList &other) noexcept
    {
        IndexList tmp(std::move(other));
        other = std::move(*this);
        *this = std::move(tmp);
    }

    friend bool operator==(const IndexList &a, const IndexList &b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    friend bool operator==(const IndexList &a, const std::vector<int> &b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    int *heap() const
    {
        int *p;
        std::memcpy(&p, storage_, sizeof p);
        return p;
    }
    void setHeap(int *p) { std::memcpy(storage_, &p, sizeof p); }

    void grow(std::size_t n)
    {
        n = std::max<std::size_t>(n, inlineCapacity + 1);
        int *fresh = std::allocator<int>().allocate(n);
        std::copy(begin(), end(), fresh);
        release();
        setHeap(fresh);
        capacity_ = static_cast<std::uint32_t>(n);
    }
    void release()
    {
        if (onHeap())
            std::allocator<int>().deallocate(heap(), capacity_);
        capacity_ = inlineCapacity;
    }
    // Takes the other list's entries and leaves it empty (its allocation, if any, comes along).
    void take(IndexList &other)
    {
        size_ = other.size_;
        capacity_ = other.capacity_;
        std::memcpy(storage_, other.storage_, sizeof storage_);
        other.size_ = 0;
        other.capacity_ = inlineCapacity;
    }

    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = inlineCapacity;
    // The entries, or the address of their heap block when capacity_ > inlineCapacity.
    int storage_[inlineCapacity] = {};
};
