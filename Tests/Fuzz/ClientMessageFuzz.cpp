// Decodes the input as a line from a phone; whatever decodes must encode again and read back
// to the same line. The bounded reader must read what the plain parser reads, to the same tree,
// unless a bound stops it; and the quick reader of pointer lines must agree with the full decode.
#include "FuzzSupport.hpp"
#include "Runtime/BoundedJson.hpp"
#include "Shared/ClientMessage.hpp"
#include "Shared/PointerLineReader.hpp"

namespace {

bool withinBounds(const std::string& why) { return why == "The given data was not valid JSON."; }

void requireTheTreeOfThePlainParser(std::string_view text) {
    auto bounded = quib::BoundedJson::parse(text);
    const bool hasNul = text.find('\0') != std::string_view::npos;
    auto plain = quib::Json::parse(text.begin(), text.end(), nullptr, false);
    if (bounded) {
        quib::fuzz::require(!plain.is_discarded() && bounded->dump() == plain.dump());
    } else if (withinBounds(bounded.error().message)) {
        quib::fuzz::require(plain.is_discarded() || hasNul);
    }
}

void requireTheFullDecodesAnswer(std::string_view text) {
    auto quick = quib::PointerLineReader::read(text, quib::BoundedJson::Limits{});
    if (!quick) return;
    auto json = quib::BoundedJson::parse(text);
    quib::fuzz::require(json.ok());
    auto full = quib::ClientMessage::fromJson(*json);  // throws, and the fuzzer stops, if it fails
    quib::fuzz::require(quib::QuibCoder::encode(*quick).valueOr("") == quib::QuibCoder::encode(full).valueOr(""));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = quib::fuzz::text(data, size);
    quib::fuzz::requireRoundTrip<quib::ClientMessage>(text);
    requireTheTreeOfThePlainParser(text);
    requireTheFullDecodesAnswer(text);
    return 0;
}
