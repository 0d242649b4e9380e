#include <gtest/gtest.h>

#include <fstream>

#include "QuibHost/Panel/MenuDump.hpp"
#include "QuibHost/Panel/MenuFrame.hpp"
#include "QuibHost/Panel/MenuViewModelSource.hpp"
#include "QuibHost/Server/ServerSettings.hpp"
#include "Tests/QuibHost/Panel/PanelHost.hpp"

namespace quib {
namespace {

using testing::PanelHost;
using testing::ScratchFolder;

std::string headerText(const MenuViewModel& model) {
    const auto* header = model.section(MenuSection::header);
    return header && header->items.size() > 2 ? header->items[2].text : "";
}

// A service name of blanks only is no name: the panel shows the computer's own name instead.
TEST(MenuViewModelSource, ABlankServiceNameShowsTheComputersName) {
    ScratchFolder machine{"panel-machine"};
    const auto machineInfo = machine.path / "machine-info";
    std::ofstream(machineInfo) << "PRETTY_HOSTNAME=\"Ada's Desk\"\n";
    PanelHost host([&](HostServer::Config& config) { config.machineInfo = machineInfo; });
    (void)host.settings->setString(std::string(ServerSettings::serviceNameKey), " \t ");
    host.onMain([&] { host.server->isListening().set(true); });
    EXPECT_EQ(headerText(host.source().current()), "Listening as Ada's Desk");
    (void)host.settings->setString(std::string(ServerSettings::serviceNameKey), "Studio");
    host.onMain([&] { host.server->lastActivity().set("Typed"); });
    EXPECT_EQ(headerText(host.source().current()), "Listening as Studio");
}

// Changes made in one task of the main loop come out as one new model, once the task is done.
TEST(MenuViewModelSource, ChangesInOneTurnGiveOneRebuild) {
    PanelHost host;
    auto& source = host.source();
    host.main->runPending();
    std::vector<MenuViewModel> published;
    auto subscription = source.model().subscribe([&](const MenuViewModel& model) { published.push_back(model); },
                                                 {.skipCurrent = true});
    const auto shown = source.show();
    host.onMain([&] {
        host.server->isListening().set(true);
        host.server->connectedDevices().set({{"W-1", "Ada's phone", false, false}});
        host.server->lastActivity().set("Typed");
        EXPECT_TRUE(published.empty());
    });
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(headerText(published[0]), "Listening as " + host.server->hostDisplayName());
    EXPECT_EQ(published[0].menuBarSymbol, "cursorarrow.click.badge.clock");

    // A change that leaves the panel as it was publishes nothing new: the login item's state
    // shows only where the login item is offered.
    host.onMain([&] { host.state->launchAtLogin().set(true); });
    EXPECT_EQ(published.size(), 1u);
    host.onMain([&] { host.server->isListening().set(false); });
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(headerText(published[1]), "Not listening");
}

// With nothing showing the model, changes build nothing; what reads it then, or shows it again,
// gets every change.
TEST(MenuViewModelSource, NothingIsBuiltWhileNothingShowsTheModel) {
    PanelHost host;
    auto& source = host.source();
    host.main->runPending();
    int published = 0;
    auto subscription = source.model().subscribe([&](const MenuViewModel&) { ++published; }, {.skipCurrent = true});
    host.onMain([&] { host.server->isListening().set(true); });
    host.onMain([&] { host.server->connectedDevices().set({{"W-1", "Ada's phone", false, false}}); });
    EXPECT_EQ(published, 0);
    host.onMain([&] { EXPECT_EQ(headerText(source.current()), "Listening as " + host.server->hostDisplayName()); });
    EXPECT_EQ(published, 1);

    host.onMain([&] { host.server->isListening().set(false); });
    EXPECT_EQ(published, 1);
    Subscription shown;
    host.onMain([&] { shown = source.show(); });
    EXPECT_EQ(published, 2);
    EXPECT_EQ(headerText(source.model().value()), "Not listening");
    host.onMain([&] { host.server->isListening().set(true); });
    EXPECT_EQ(published, 3);
    shown.reset();
    host.onMain([&] { host.server->isListening().set(false); });
    EXPECT_EQ(published, 3);
}

// The panel's appearing asks for the push summary again and settles once it has arrived; with
// the answer late, it settles after a second all the same.
TEST(MenuViewModelSource, AppearingSettlesOnTheAnswerOrAfterTheLimit) {
    PanelHost host;
    int settled = 0;
    host.onMain([&] { host.source().appeared([&] { ++settled; }); });
    for (int i = 0; i < 200 && settled == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        host.main->runPending();
    }
    EXPECT_EQ(settled, 1);
    EXPECT_EQ(host.source().snapshot().push, "Not set up");
    host.clock->advance(MenuViewModelSource::settleLimit);
    host.main->runPending();
    EXPECT_EQ(settled, 1);

    PanelHost silent([](HostServer::Config&) {});
    silent.actions = nullptr;
    silent.onMain([&] {
        MenuViewModelSource::create({.main = silent.main,
                                     .server = silent.server,
                                     .store = silent.store,
                                     .state = silent.state,
                                     .registry = silent.registry})
            ->appeared([&] { ++settled; });
    });
    EXPECT_EQ(settled, 2);
}

// Reads a dump's text back by the rules it was written with.
std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        if (next == 'n') out.push_back('\n');
        else if (next == 'r') out.push_back('\r');
        else if (next == 't') out.push_back('\t');
        else if (next == 'u') {
            out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 4)), nullptr, 16)));
            i += 4;
        } else out.push_back(next);
    }
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        parts.push_back(line.substr(start, tab - start));
    parts.push_back(line.substr(start));
    return parts;
}

TEST(MenuDump, EscapesEveryTextSoThatItReadsBackExactly) {
    const std::string awkward = std::string("a\\b\tc\nd\re") + '\x01' + "f" + '\x7f' + "\\n";
    MenuViewState state;
    state.isListening = true;
    state.hostDisplayName = awkward;
    const auto lines = MenuDump::lines(buildMenuView(state));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "menubar\tsymbol\tcursorarrow.click");
    EXPECT_EQ(lines.back(), "end");
    EXPECT_EQ(lines[1], "header\tsymbol\tcursorarrow.click\tfont=title3");
    EXPECT_EQ(lines[2], "header\ttitle\tQuib\tfont=headline");
    const auto caption = fields(lines[3]);
    ASSERT_EQ(caption.size(), 5u) << lines[3];
    EXPECT_EQ(caption[0], "header");
    EXPECT_EQ(caption[1], "text");
    EXPECT_EQ(caption[2], "Listening as a\\\\b\\tc\\nd\\re\\u0001f\\u007F\\\\n");
    EXPECT_EQ(unescape(caption[2]), "Listening as " + awkward);
    EXPECT_EQ(caption[3], "tone=secondary");
    EXPECT_EQ(caption[4], "font=caption");
    EXPECT_EQ(lines[4], "header\tdot\t\ttone=green");
    for (const auto& line : lines)
        for (const char c : line) EXPECT_FALSE((c >= 0 && c < 0x20 && c != '\t') || c == 0x7f) << line;
}

// Each fixed text of the panel, with a state that shows it, held by the model character for
// character.
TEST(MenuViewTexts, TheModelHoldsEachFixedTextExactly) {
    struct Row {
        std::string text;
        std::function<void(MenuViewState&)> state;
    };
    const std::vector<Row> table{
        {"Quib", [](MenuViewState&) {}},
        {"Listening as Studio", [](MenuViewState& s) { s.isListening = true, s.hostDisplayName = "Studio"; }},
        {"Not listening", [](MenuViewState& s) { s.isListening = false; }},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.text);
        MenuViewState state;
        row.state(state);
        const auto model = buildMenuView(state);
        bool found = false;
        for (const auto& section : model.sections)
            for (const auto& item : section.items) found = found || item.text == row.text;
        EXPECT_TRUE(found);
    }
}

}  // namespace
}  // namespace quib

namespace quib {
namespace {

// A banner's button changes nothing by itself; the banner goes when the host state's timer next
// reads the permission as granted.
TEST(MenuViewModelSource, ABannerGoesWhenTheTimerNextReadsItsPermission) {
    testing::PanelHost host;
    host.onMain([&] { host.state->beginWatchingAccessibility(); });
    auto& source = host.source();
    const auto shown = source.show();
    auto banners = [&] {
        const auto model = source.model().value();
        return (model.section(MenuSection::accessibilityBanner) ? 1 : 0) +
               (model.section(MenuSection::screenRecordingBanner) ? 1 : 0);
    };
    host.permissions->setAccessibilityTrusted(false);
    host.permissions->setScreenRecordingGranted(false);
    host.clock->advance(HostState::permissionInterval);
    host.main->runPending();
    EXPECT_EQ(banners(), 2);
    host.perform(MenuControl::OpenAccessibilitySettings{});
    host.perform(MenuControl::OpenScreenRecordingSettings{});
    host.permissions->setAccessibilityTrusted(true);
    host.permissions->setScreenRecordingGranted(true);
    host.main->runPending();
    EXPECT_EQ(banners(), 2);
    host.clock->advance(HostState::permissionInterval);
    host.main->runPending();
    EXPECT_EQ(banners(), 0);
}

}  // namespace
}  // namespace quib
