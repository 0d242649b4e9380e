#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "QuibHost/App/ControlSocket.hpp"
#include "QuibHost/Panel/TargetEditorActions.hpp"
#include "Shared/Json.hpp"

namespace quib {

// The target editor as control-socket requests, for a machine without the settings window and
// for tests: each request opens a new editor on one saved target and works its controls as the
// form's would be worked, through the same actions.
//
//   {"command":"target","target":ID}    the editor as "lines" (MenuDump's format, sections
//                                       editor1 to editor3), once its lists are refreshed
//   {"command":"target","target":ID,"set":FIELD,"value":TEXT}
//                                       one control: name, symbol, kind (app, tmux or
//                                       frontmost), bundle (the text field), app or pane (a
//                                       picker's row, by its tag), allow-return or press-return
//                                       (on or off)
//   {"command":"target","target":ID,"chooseApp":PATH}
//                                       "Choose an app…" with that file
//   {"command":"target","target":ID,"refresh":true}
//                                       "Refresh panes", then the lines
class TargetEditorCommands : public std::enable_shared_from_this<TargetEditorCommands> {
public:
    struct Config {
        // What every editor is made with; its chooser is the request's file.
        TargetEditorActions::Config editor = {};
    };

    // How long a request waits for the pane listing; the lists are printed as they are after
    // that. Shorter than the control tool's own patience, which a slow tmux would outlast.
    static constexpr std::chrono::seconds listingLimit{4};

    explicit TargetEditorCommands(Config config) : config_(std::move(config)) {}

    // Main executor.
    void run(const Json& request, const std::shared_ptr<ControlSocket::Reply>& reply);

private:
    std::shared_ptr<TargetEditorActions> open(const QuibTarget& target,
                                              std::optional<std::filesystem::path> chosen) const;
    // Runs `work` with the editor once its lists are refreshed (or the limit has passed).
    void whenListed(const std::shared_ptr<TargetEditorActions>& editor, bool panesOnly,
                    std::function<void(TargetEditorActions&)> work) const;
    void set(const std::shared_ptr<TargetEditorActions>& editor, const std::string& field, const std::string& value,
             const std::shared_ptr<ControlSocket::Reply>& reply) const;

    Config config_;
};

}  // namespace quib
