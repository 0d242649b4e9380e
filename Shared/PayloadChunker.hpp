#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "Runtime/Bytes.hpp"

namespace quib {

// Splits a list of items that may carry a picture (window previews, app icons) into chunks,
// each sent as its own message, so that one message stays under a byte budget. Only picture
// bytes are measured: an item costs a flat 256 for its other fields plus its picture's size as
// Base64 text. A picture that alone would exceed the budget is dropped from its item.
struct PayloadChunker {
    // The budget every caller passes, in bytes.
    static constexpr std::int64_t messageBudget = 262'144;
    // The flat allowance for an item's fields other than its picture.
    static constexpr std::int64_t itemAllowance = 256;

    // 256 + (4 × n) / 3 in integer arithmetic, for a picture of n bytes.
    static std::int64_t cost(std::size_t pictureBytes) {
        return itemAllowance + static_cast<std::int64_t>((4 * static_cast<std::uint64_t>(pictureBytes)) / 3);
    }

    // Fills chunks as split does, from items that come one at a time: each chunk is handed back
    // as soon as the next item no longer fits beside it, so that only one chunk is held at once.
    template <class Item>
    class Filler {
    public:
        Filler(std::optional<Bytes> Item::*picture, std::int64_t budget) : picture_(picture), budget_(budget) {}

        // The chunk that `item` did not fit in, or none; `item` is in the chunk being filled.
        std::optional<std::vector<Item>> add(Item item) {
            auto& image = item.*picture_;
            std::int64_t itemCost = cost(image ? image->size() : 0);
            if (itemCost > budget_) {
                image.reset();
                itemCost = itemAllowance;
            }
            std::optional<std::vector<Item>> full;
            if (!current_.empty() && running_ + itemCost > budget_) full = take();
            current_.push_back(std::move(item));
            running_ += itemCost;
            return full;
        }
        // The chunk being filled, perhaps empty; the next item starts a new one.
        std::vector<Item> take() {
            running_ = 0;
            return std::exchange(current_, {});
        }

    private:
        std::optional<Bytes> Item::*picture_;
        std::int64_t budget_;
        std::vector<Item> current_;
        std::int64_t running_ = 0;
    };

    // Items keep their order and each lands in exactly one chunk. A chunk of more than one item
    // never costs more than `budget`. The result is never empty: an empty list gives one empty
    // chunk.
    template <class Item>
    static std::vector<std::vector<Item>> split(std::vector<Item> items, std::optional<Bytes> Item::*picture,
                                                std::int64_t budget) {
        Filler<Item> filler(picture, budget);
        std::vector<std::vector<Item>> chunks;
        for (auto& item : items) {
            if (auto full = filler.add(std::move(item))) chunks.push_back(std::move(*full));
        }
        auto last = filler.take();
        if (!last.empty() || chunks.empty()) chunks.push_back(std::move(last));
        return chunks;
    }

    // The chunks as payloads, in order: `make(items, index)` builds payload `index` around its
    // items; each payload then gets its index as `sequence`, and the last one `isFinal`.
    template <class Payload, class Item, class Make>
    static std::vector<Payload> numbered(std::vector<std::vector<Item>> chunks, Make make) {
        std::vector<Payload> payloads;
        payloads.reserve(chunks.size());
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            Payload payload = make(std::move(chunks[i]), i);
            payload.sequence = static_cast<std::int64_t>(i);
            payload.isFinal = i + 1 == chunks.size();
            payloads.push_back(std::move(payload));
        }
        return payloads;
    }
};

}  // namespace quib
