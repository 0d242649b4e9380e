#pragma once

#include <filesystem>
#include <string_view>

#include "Platform/AppUsage.hpp"

namespace quib {

// How much the user has used each app, from the file where GNOME Shell keeps it:
//
//   <application-state>
//     <context id="">
//       <application id="org.gnome.Terminal.desktop" open-window-count="1" score="40.5"
//                    last-seen="1765150000"/>
//     </context>
//   </application-state>
//
// An app's count is its score rounded down, and its last use the "last-seen" seconds since 1970
// when above 0. An app in several contexts takes its highest score and its latest date. IDs are
// kept lower-cased and without ".desktop". A file that is missing, unreadable or not such a
// document counts no use at all.
class GnomeUsage final : public AppUsage {
public:
    // $XDG_DATA_HOME/gnome-shell/application_state
    static std::filesystem::path defaultPath();

    explicit GnomeUsage(std::filesystem::path file = defaultPath()) : file_(std::move(file)) {}

    Table uses() const override;

    // The uses that the text of such a file records; empty when the text is not one.
    static Table parse(std::string_view xml);

private:
    std::filesystem::path file_;
};

}  // namespace quib
