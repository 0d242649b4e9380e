#include "QuibHost/App/TargetLookup.hpp"

#include <algorithm>

namespace quib {
namespace {

std::vector<QuibTarget> matching(const std::vector<QuibTarget>& saved, auto&& fits) {
    std::vector<QuibTarget> found;
    std::copy_if(saved.begin(), saved.end(), std::back_inserter(found), fits);
    return found;
}

Error ambiguous(const std::string& given, const std::vector<QuibTarget>& found) {
    std::string ids;
    for (const auto& target : found) ids += (ids.empty() ? "" : ", ") + target.id + " (" + target.name + ")";
    return fail("\"" + given + "\" fits more than one saved target: " + ids + "; give more of the identifier.");
}

}  // namespace

Result<QuibTarget> TargetLookup::find(const TargetStoreService& store, const std::string& given) {
    if (auto exact = store.target(given)) return *exact;
    return find(store.snapshot().saved, given);
}

Result<QuibTarget> TargetLookup::find(const std::vector<QuibTarget>& saved, const std::string& given) {
    const auto byID = std::find_if(saved.begin(), saved.end(), [&](const auto& target) { return target.id == given; });
    if (byID != saved.end()) return *byID;
    for (const auto& found : {matching(saved, [&](const auto& target) { return target.name == given; }),
                              matching(saved, [&](const auto& target) { return target.id.starts_with(given); })}) {
        if (given.empty()) break;
        if (found.size() == 1) return found.front();
        if (found.size() > 1) return ambiguous(given, found);
    }
    return fail("No saved target has the identifier " + given + " (quibctl targets lists them).");
}

}  // namespace quib
