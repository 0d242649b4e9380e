// Reads the input as a theme's index.theme. Every folder kept stays inside the theme and has a
// size, and judging each folder against the wanted size is defined whatever numbers it names.
#include "FuzzSupport.hpp"
#include "Platform/Freedesktop/IconTheme.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    const auto index = IconTheme::parseIndex(fuzz::text(data, size));
    for (const auto& directory : index.directories) {
        fuzz::require(!directory.path.empty() && !directory.path.starts_with('/'));
        fuzz::require(directory.path != ".." && !directory.path.starts_with("../") &&
                      directory.path.find("/../") == std::string::npos && !directory.path.ends_with("/.."));
        fuzz::require(directory.size >= 0 && directory.scale >= 1);
        const int distance = directory.sizeDistance();
        fuzz::require(distance >= 0);
        if (directory.matchesSize()) fuzz::require(distance == 0);
    }
    // A name given whole as gsettings prints it never leaves the base folders either.
    if (const auto theme = IconTheme::parseThemeName(fuzz::text(data, size)))
        fuzz::require(!theme->empty() && theme->find('/') == std::string::npos && *theme != "." && *theme != "..");
    return 0;
}
