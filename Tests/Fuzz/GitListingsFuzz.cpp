// Reads the input as git's branch listing and as a listing of file names. Every name kept is a
// whole UTF-8 line of the input, never empty, never quoted, never a detached HEAD's line, and a
// limit keeps the first names of the whole listing.
#include <string>
#include <vector>

#include "FuzzSupport.hpp"
#include "QuibHost/Apps/Git.hpp"
#include "Runtime/UnicodeText.hpp"

namespace {

using namespace quib;

void requireLines(const std::vector<std::string>& names, std::string_view listing) {
    for (const auto& name : names) {
        fuzz::require(!name.empty() && name.find('\n') == std::string::npos && unicode::isValidUtf8(name));
        fuzz::require(listing.find(name) != std::string_view::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t limit = data[0] % 8;
    const std::string_view listing = fuzz::text(data + 1, size - 1);

    const auto branches = Git::parseBranches(listing);
    requireLines(branches, listing);
    for (const auto& branch : branches) fuzz::require(!branch.starts_with('('));

    const auto files = Git::parseFileNames(listing);
    requireLines(files, listing);
    for (const auto& file : files) fuzz::require(!file.starts_with('"'));
    const auto first = Git::parseFileNames(listing, limit);
    fuzz::require(first.size() == std::min(limit, files.size()) &&
                  std::equal(first.begin(), first.end(), files.begin()));
    return 0;
}
