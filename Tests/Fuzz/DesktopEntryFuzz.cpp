// Reads the input as a desktop entry and, when it is one, splits its command line and names it.
// Whatever the file holds, one that starts with the main group is an entry, and a command line
// that splits names a program.
#include "FuzzSupport.hpp"
#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Platform/Freedesktop/ExecLine.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    fuzz::silenceLog();
    const std::string_view text = fuzz::text(data, size);
    const auto entry = DesktopEntry::parse(text, "org.example.Fuzz", "/tmp/org.example.Fuzz.desktop");
    if (!entry) {
        fuzz::require(!text.starts_with("[Desktop Entry]\n"));
        return 0;
    }
    (void)entry->program();
    (void)entry->isTerminalEmulator();
    for (const auto& [locale, name] : entry->localizedNames) (void)entry->localizedName(locale);
    (void)entry->localizedName("de_AT.UTF-8@euro");
    if (const auto words = ExecLine::arguments(*entry)) fuzz::require(!words->empty() && !words->front().empty());
    // The command line alone, as another entry's Exec, splits the same way whatever surrounds it.
    DesktopEntry bare;
    bare.exec = std::string(text);
    (void)ExecLine::arguments(bare);
    return 0;
}
