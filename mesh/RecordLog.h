#pragma once

#include <cstddef>
#include <iterator>
#include <vector>

// An append-only list of records, kept in blocks of a fixed size: appending never moves the
// records already stored. (A std::vector that outgrows its allocation copies every record into
// a new one twice as large: for the history of a long stroke, tens of megabytes at once, in the
// middle of one brush step.)
template<typename Record>
class RecordLog
{
public:
    // A power of two, so that finding a record's block is a shift.
    static constexpr std::size_t blockSize = 4096;

    template<typename Log, typename Value>
    class Iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = Value *;
        using reference = Value &;

        Iterator() = default;
        Iterator(Log *log, std::size_t index)
            : log_(log)
            , index_(index)
        { }
        reference operator*() const { return (*log_)[index_]; }
        pointer operator->() const { return &(*log_)[index_]; }
        Iterator &operator++()
        {
            ++index_;
            return *this;
        }
        Iterator operator++(int)
        {
            Iterator old = *this;
            ++index_;
            return old;
        }
        bool operator==(const Iterator &other) const { return index_ == other.index_; }

    private:
        Log *log_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = Iterator<RecordLog, Record>;
    using const_iterator = Iterator<const RecordLog, const Record>;

    void push_back(const Record &record)
    {
        if (blocks_.empty() || blocks_.back().size() == blockSize) {
            blocks_.emplace_back();
            blocks_.back().reserve(blockSize);
        }
        blocks_.back().push_back(record);
        ++size_;
    }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Record &operator[](std::size_t i) { return blocks_[i / blockSize][i % blockSize]; }
    const Record &operator[](std::size_t i) const { return blocks_[i / blockSize][i % blockSize]; }
    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, size_); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size_); }
    void clear()
    {
        blocks_.clear();
        size_ = 0;
    }
    // Frees the unused room of the last block, for a list that will not grow any more.
    void shrink_to_fit()
    {
        if (!blocks_.empty())
            blocks_.back().shrink_to_fit();
    }

private:
    // Every block but the last holds blockSize records.
    std::vector<std::vector<Record>> blocks_;
    std::size_t size_ = 0;
};
