// An append-only log that grows in fixed chunks: an entry is never moved once written, so
// growing costs one allocation per chunk instead of copying the whole log each time a
// vector doubles (a flashing logs close to a million operations).
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace tova::hw {

template <typename T, size_t kChunkEntries = 65536>
class ChunkedLog {
public:
    void push_back(const T& entry) {
        if (used_ == kChunkEntries || chunks_.empty()) {
            chunks_.push_back(std::make_unique_for_overwrite<T[]>(kChunkEntries));
            used_ = 0;
        }
        chunks_.back()[used_++] = entry;
    }

    size_t size() const { return chunks_.empty() ? 0 : (chunks_.size() - 1) * kChunkEntries + used_; }

    void clear() {
        chunks_.clear();
        used_ = 0;
    }

    // Calls `visit` with every entry, oldest first.
    template <typename Visit>
    void ForEach(Visit visit) const {
        for (size_t c = 0; c < chunks_.size(); ++c) {
            size_t count = c + 1 == chunks_.size() ? used_ : kChunkEntries;
            for (size_t i = 0; i < count; ++i) visit(chunks_[c][i]);
        }
    }

private:
    std::vector<std::unique_ptr<T[]>> chunks_;
    size_t used_ = 0;  // entries in the last chunk
};

}  // namespace tova::hw
