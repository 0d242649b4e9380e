#include <gtest/gtest.h>

#include <map>

#include "QuibHost/App/SessionCaveat.hpp"

namespace quib {
namespace {

SessionCaveat::Environment environment(std::map<std::string, std::string> variables) {
    return [variables](const char* name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        if (found == variables.end()) return std::nullopt;
        return found->second;
    };
}

// Either sign of a Wayland session is enough; an X11 session, or none at all, has no caveat.
TEST(SessionCaveat, WaylandSessionsAreToldThatOnlyX11AppsAreReached) {
    const std::optional<std::string> wayland = SessionCaveat::waylandText;
    EXPECT_EQ(SessionCaveat::of(environment({{"XDG_SESSION_TYPE", "wayland"}})), wayland);
    EXPECT_EQ(SessionCaveat::of(environment({{"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", "wayland-0"}})), wayland);
    EXPECT_EQ(SessionCaveat::of(environment({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}})), std::nullopt);
    EXPECT_EQ(SessionCaveat::of(environment({{"WAYLAND_DISPLAY", ""}})), std::nullopt);
    EXPECT_EQ(SessionCaveat::of(environment({})), std::nullopt);
    EXPECT_NE(wayland->find("reach only X11 apps"), std::string::npos);
}

}  // namespace
}  // namespace quib
