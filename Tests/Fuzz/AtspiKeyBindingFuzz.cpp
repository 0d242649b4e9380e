// Reads the input as a menu item's key binding and title. A binding taken gives one character
// or one key code, and modifier bits the menu reader knows, the no-Command bit among them.
#include "FuzzSupport.hpp"
#include "Platform/Linux/Atspi/AtspiKeyBinding.hpp"
#include "Platform/MenuReader.hpp"
#include "Runtime/UnicodeText.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    if (size < 1) return 0;
    const std::string_view text = fuzz::text(data + 1, size - 1);
    const std::size_t cut = std::min<std::size_t>(data[0], text.size());
    const auto equivalent = AtspiKeyBinding::parse(text.substr(cut), text.substr(0, cut));
    if (!equivalent) return 0;
    fuzz::require(equivalent->character.has_value() || equivalent->virtualKey.has_value());
    if (equivalent->character)
        fuzz::require(unicode::isValidUtf8(*equivalent->character) &&
                      unicode::codePoints(*equivalent->character).size() == 1);
    constexpr std::int64_t known = MenuReader::shiftModifier | MenuReader::optionModifier |
                                   MenuReader::controlModifier | MenuReader::noCommandModifier;
    fuzz::require((equivalent->modifiers & ~known) == 0 &&
                  (equivalent->modifiers & MenuReader::noCommandModifier) != 0);
    return 0;
}
