#include "Platform/Linux/X11/X11ClipboardTypes.hpp"

#include <algorithm>
#include <array>

#include "Runtime/UnicodeText.hpp"

namespace quib::X11ClipboardTypes {
namespace {

constexpr std::string_view utf8String = "UTF8_STRING";
constexpr std::string_view plainText = "text/plain;charset=utf-8";
constexpr std::string_view uriList = "text/uri-list";

// The targets the host answers from its own text and images, in the order they are read back.
constexpr std::array<std::string_view, 6> servedBack{utf8String,  plainText,    "STRING",
                                                     "image/png", "image/jpeg", uriList};
// An owner's answers about the selection itself, not its contents.
constexpr std::array<std::string_view, 6> protocolTargets{"TARGETS",      "MULTIPLE", "TIMESTAMP",
                                                          "SAVE_TARGETS", "DELETE",   "INCR"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::ranges::find(names, name) != names.end();
}

std::shared_ptr<const Bytes> shared(Bytes bytes) { return std::make_shared<const Bytes>(std::move(bytes)); }

void addOnce(std::vector<Offer>& offers, Offer offer) {
    const bool known = std::ranges::any_of(offers, [&](const Offer& had) { return had.target == offer.target; });
    if (!known) offers.push_back(std::move(offer));
}

void addText(std::vector<Offer>& offers, const Bytes& utf8) {
    const auto text = shared(utf8);
    addOnce(offers, {std::string(utf8String), {std::string(utf8String), 8}, text});
    addOnce(offers, {std::string(plainText), {std::string(plainText), 8}, text});
    addOnce(offers, {"TEXT", {std::string(utf8String), 8}, text});
    addOnce(offers, {"STRING",
                     {"STRING", 8},
                     shared(latin1(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size())))});
}

// A file URL as a one-line URI list: each line ends in CR LF.
Bytes uriLine(const Bytes& url) {
    Bytes line = url;
    line.push_back('\r');
    line.push_back('\n');
    return line;
}

void addRepresentation(std::vector<Offer>& offers, const std::string& type, const Bytes& bytes, const Forms& read) {
    if (type == PasteboardType::string) return addText(offers, bytes);
    if (type == PasteboardType::png) return addOnce(offers, {"image/png", {"image/png", 8}, shared(bytes)});
    if (type == PasteboardType::jpeg) return addOnce(offers, {"image/jpeg", {"image/jpeg", 8}, shared(bytes)});
    if (type == PasteboardType::fileURL) {
        return addOnce(offers, {std::string(uriList), {std::string(uriList), 8}, shared(uriLine(bytes))});
    }
    const auto form = read.find(type);
    addOnce(offers, {type, form != read.end() ? form->second : Form{type, 8}, shared(bytes)});
}

}  // namespace

std::vector<Offer> offers(const std::vector<PasteboardItem>& items, const Forms& read) {
    std::vector<Offer> offers;
    for (const auto& item : items) {
        for (const auto& [type, bytes] : item.representations) addRepresentation(offers, type, bytes, read);
    }
    return offers;
}

std::vector<std::string> readingOrder(const std::vector<std::string>& offered) {
    std::vector<std::string> order;
    for (const auto name : servedBack) {
        if (std::ranges::find(offered, name) != offered.end()) order.emplace_back(name);
    }
    for (const auto& name : offered) {
        if (contains(protocolTargets, name) || std::ranges::find(order, name) != order.end()) continue;
        order.push_back(name);
    }
    return order;
}

Bytes latin1(std::string_view utf8) {
    Bytes text;
    text.reserve(utf8.size());
    for (const char32_t c : unicode::codePoints(utf8)) text.push_back(c <= 0xFF ? static_cast<std::uint8_t>(c) : '?');
    return text;
}

}  // namespace quib::X11ClipboardTypes
