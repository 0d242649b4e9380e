#include "Shared/MacApp.hpp"

#include "Runtime/SecureRandom.hpp"

namespace quib {

QuibTarget MacApp::asTarget() const {
    QuibTarget t;
    t.id = newUuidString();
    t.name = name;
    t.kind = QuibTarget::Kind::app;
    t.bundleID = bundleID;
    t.symbol = symbol;
    return t;
}

MacApp MacApp::fromJson(const Json& json) {
    const JsonReader r(json);
    MacApp app;
    app.bundleID = r.value<std::string>("bundleID", "");
    app.name = r.value<std::string>("name", "");
    app.icon = r.optional<Bytes>("icon");
    app.symbol = r.value<std::string>("symbol", "app");
    app.isRunning = r.value("isRunning", false);
    app.isAdded = r.value("isAdded", false);
    app.useCount = r.value<std::int64_t>("useCount", 0);
    app.lastUsedEpochMillis = r.optional<std::int64_t>("lastUsedEpochMillis");
    return app;
}

Json MacApp::toJson() const {
    return JsonWriter()
        .put("bundleID", bundleID)
        .put("name", name)
        .put("icon", icon)
        .put("symbol", symbol)
        .put("isRunning", isRunning)
        .put("isAdded", isAdded)
        .put("useCount", useCount)
        .put("lastUsedEpochMillis", lastUsedEpochMillis)
        .take();
}

}  // namespace quib
