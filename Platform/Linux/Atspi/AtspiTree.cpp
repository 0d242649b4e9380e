#include "Platform/Linux/Atspi/AtspiTree.hpp"

#include <algorithm>
#include <deque>
#include <thread>
#include <utility>

namespace quib::AtspiTree {
namespace {

// Collects the error of one read; the reads report nothing, so it is only dropped.
class ReadError {
public:
    ReadError() = default;
    ~ReadError() {
        if (error_) g_error_free(error_);
    }
    ReadError(const ReadError&) = delete;
    ReadError& operator=(const ReadError&) = delete;
    GError** out() { return &error_; }
    bool failed() const { return error_ != nullptr; }

private:
    GError* error_ = nullptr;
};

constexpr auto retryInterval = std::chrono::milliseconds(100);

bool isActive(AtspiAccessible* node) {
    AtspiObject<AtspiStateSet> states(atspi_accessible_get_state_set(node));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE);
}

// libatspi keeps the desktop's list of apps current from the registry's signals, which the
// AT-SPI thread takes in between reads: an app started since the last read is there too.
AtspiNode applicationNow(std::int64_t processID) {
    AtspiNode desktop(atspi_get_desktop(0));
    if (!desktop) return {};
    for (auto& app : children(desktop.get())) {
        ReadError error;
        const guint process = atspi_accessible_get_process_id(app.get(), error.out());
        if (!error.failed() && static_cast<std::int64_t>(process) == processID) return std::move(app);
    }
    return {};
}

}  // namespace

std::vector<AtspiNode> children(AtspiAccessible* node, int most) {
    ReadError countError;
    const gint count = std::min<gint>(atspi_accessible_get_child_count(node, countError.out()), most);
    std::vector<AtspiNode> found;
    if (countError.failed() || count <= 0) return found;
    found.reserve(static_cast<std::size_t>(count));
    for (gint index = 0; index < count; ++index) {
        ReadError error;
        AtspiNode child(atspi_accessible_get_child_at_index(node, index, error.out()));
        if (child && !error.failed()) found.push_back(std::move(child));
    }
    return found;
}

std::optional<AtspiRole> role(AtspiAccessible* node) {
    ReadError error;
    const AtspiRole read = atspi_accessible_get_role(node, error.out());
    if (error.failed()) return std::nullopt;
    return read;
}

std::optional<std::string> name(AtspiAccessible* node) {
    ReadError error;
    gchar* read = atspi_accessible_get_name(node, error.out());
    if (error.failed() || !read) {
        g_free(read);
        return std::nullopt;
    }
    std::string text(read);
    g_free(read);
    return text;
}

AtspiNode application(std::int64_t processID, std::chrono::steady_clock::time_point waitUntil) {
    for (;;) {
        AtspiNode app = applicationNow(processID);
        if (app || std::chrono::steady_clock::now() >= waitUntil) return app;
        std::this_thread::sleep_for(retryInterval);
    }
}

std::vector<AtspiNode> frames(AtspiAccessible* application) {
    AtspiNode first;
    for (auto& window : children(application)) {
        if (role(window.get()) != ATSPI_ROLE_FRAME) continue;
        if (isActive(window.get())) {
            std::vector<AtspiNode> best;
            best.push_back(std::move(window));
            if (first) best.push_back(std::move(first));
            return best;
        }
        if (!first) first = std::move(window);
    }
    std::vector<AtspiNode> best;
    if (first) best.push_back(std::move(first));
    return best;
}

AtspiNode firstBelow(AtspiAccessible* root, int levels, int limit,
                     const std::function<bool(AtspiAccessible*)>& matches) {
    std::deque<std::pair<AtspiNode, int>> pending;  // each node with its level
    pending.emplace_back(AtspiNode(static_cast<AtspiAccessible*>(g_object_ref(root))), 0);
    int seen = 0;
    while (!pending.empty()) {
        auto [node, level] = std::move(pending.front());
        pending.pop_front();
        if (level >= levels) continue;
        // A node may claim more children than the walk may still look at; only those are read.
        for (auto& child : children(node.get(), std::max(0, limit - seen) + 1)) {
            if (++seen > limit) return {};
            if (matches(child.get())) return std::move(child);
            pending.emplace_back(std::move(child), level + 1);
        }
    }
    return {};
}

}  // namespace quib::AtspiTree
