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

    // Items keep their order and each lands in exactly one chunk. A chunk of more than one item
    // never costs more than `budget`. The result is never empty: an empty list gives one empty
    // chunk.
    template <class Item>
    static std::vector<std::vector<Item>> split(std::vector<Item> items, std::optional<Bytes> Item::*picture,
                                                std::int64_t budget) {
        std::vector<std::vector<Item>> chunks;
        std::vector<Item> current;
        std::int64_t running = 0;
        for (auto& item : items) {
            const auto& image = item.*picture;
            std::int64_t itemCost = cost(image ? image->size() : 0);
            if (itemCost > budget) {
                (item.*picture).reset();
                itemCost = itemAllowance;
            }
            if (!current.empty() && running + itemCost > budget) {
                chunks.push_back(std::move(current));
                current.clear();
                running = 0;
            }
            current.push_back(std::move(item));
            running += itemCost;
        }
        if (!current.empty() || chunks.empty()) chunks.push_back(std::move(current));
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
