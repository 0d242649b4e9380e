// The vocabulary's weights, filters and ranking, its cache, and the working folder of each kind
// of target, on repositories the tests make with the real git.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/Headless/HeadlessDesktop.hpp"
#include "QuibHost/Apps/MenuScanner.hpp"
#include "QuibHost/Apps/VocabularyFixture.hpp"
#include "Tests/Support/TmuxServer.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;
using Terms = std::vector<std::string>;

class Vocabulary : public VocabularyFixture {
protected:
    static quib::Vocabulary::ScoreTable table(const std::vector<std::pair<std::string, double>>& entries) {
        quib::Vocabulary::ScoreTable scores;
        for (const auto& [term, weight] : entries) scores.add(term, weight);
        return scores;
    }
};

QuibTarget pane(const std::string& spec) {
    QuibTarget target;
    target.id = "P";
    target.name = "Pane";
    target.kind = QuibTarget::Kind::tmux;
    target.tmuxTarget = spec;
    return target;
}

TEST_F(Vocabulary, APaneNamedByItsIdentifierGivesItsBranchesAndTheirParts) {
    TmuxServer tmux;
    const TestRepository repository(scratch.path / "app");
    repository.commit({"README"});
    repository.run({"branch", "feature/login-form"});
    ASSERT_TRUE(tmux.startSession("work", repository.root()));

    const auto scores = vocabulary().candidates(repository.root().string());
    EXPECT_EQ(scores.weight("feature/login-form"), 5.0);
    EXPECT_EQ(scores.weight("login"), 4.0);
    EXPECT_EQ(scores.weight("form"), 4.0);

    const Terms terms = vocabulary().terms(pane(tmux.idOf("work:0.0")));
    ASSERT_FALSE(terms.empty());
    EXPECT_EQ(terms.front(), "feature/login-form");
    EXPECT_TRUE(holds(terms, "login"));
    EXPECT_TRUE(holds(terms, "form"));
    EXPECT_FALSE(holds(terms, "feature"));  // a dictionary word
    EXPECT_FALSE(holds(terms, "main"));
    EXPECT_TRUE(holds(terms, "README"));

    // An address may name another pane by now: it gives no folder at all.
    EXPECT_EQ(vocabulary().terms(pane("work:0.0")), Terms{});
}

TEST_F(Vocabulary, RecentFilesWeighByTheirPlaceAndTheirIdentifiersThreeQuartersOfThat) {
    const TestRepository repository(scratch.path / "app");
    repository.write("src/UserProfileView.ts", "export function fetchUserProfile(id) { return id; }\n");
    repository.commitAll();
    const std::string root = repository.root().string();

    auto scores = vocabulary().candidates(root);
    for (const char* term : {"UserProfileView.ts", "UserProfileView", "User", "Profile", "View"})
        EXPECT_EQ(scores.weight(term), 4.0) << term;
    EXPECT_EQ(scores.weight("fetchUserProfile"), 3.0);
    EXPECT_EQ(scores.weight("fetch"), 3.0);
    EXPECT_EQ(scores.weight("export"), 3.0);
    EXPECT_EQ(scores.weight("id"), std::nullopt);

    // Twelve files changed since come first: the file is now the thirteenth.
    std::vector<std::string> later;
    for (int i = 10; i < 22; ++i) later.push_back("notes/n" + std::to_string(i) + ".txt");
    repository.commit(later);
    scores = vocabulary().candidates(root);
    EXPECT_DOUBLE_EQ(scores.weight("UserProfileView.ts").value_or(0), 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(scores.weight("Profile").value_or(0), 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(scores.weight("fetchUserProfile").value_or(0), 1.0);
    EXPECT_EQ(scores.weight("n10.txt"), 4.0);
    EXPECT_EQ(scores.weight("n15.txt"), 2.0);
}

TEST_F(Vocabulary, TheBestWeightWinsAndEachWordComesBackInOneLetterCase) {
    auto scores = table({{"login", 0.5},
                         {"login", 4.0},
                         {"login", 2.0},
                         {"Login", 3.0},
                         {"FORM", 0.5},
                         {"Form", 2.0},
                         {"Cafe\xCC\x81", 1.0},
                         {"Caf\xC3\xA9", 1.5}});
    EXPECT_EQ(scores.weight("login"), 4.0);
    // Composed and decomposed forms are one term, in the form first given.
    EXPECT_EQ(scores.weight("Caf\xC3\xA9"), 1.5);
    EXPECT_EQ(vocabulary().rank(scores), (Terms{"login", "Form", "Cafe\xCC\x81"}));
}

TEST_F(Vocabulary, RankDropsNumbersHashesAndPlainDictionaryWords) {
    const Terms terms = vocabulary().rank(table({
        {"deadbeef1", 1},
        {"facade42", 1},
        {"\uFF24\uFF25\uFF21\uFF24\uFF22\uFF25\uFF25\uFF26", 1},  // full-width
        {"3dModel", 1},
        {"\uFF13dModel", 1},
        {"abcdefg", 1},
        {"abc123", 1},
        {"cafe", 1},
        {"Cafe", 1},
        {"beef", 1},
        {"main", 1},
        {"feature", 1},
        {"features", 1},
        {"main2", 1},
        {"caf\xC3\xA9", 1},
        {"ab", 1},
        {"dead_beef", 1},
    }));
    EXPECT_EQ(terms, (Terms{"Cafe", "abc123", "abcdefg", "beef", "caf\xC3\xA9", "dead_beef", "features", "main2"}));
}

TEST_F(Vocabulary, RankKeepsTheTwoThousandBestAndCapitalsSortFirst) {
    quib::Vocabulary::ScoreTable scores;
    for (int i = 0; i < 2500; ++i) scores.add("term" + std::to_string(10000 + i), i < 100 ? 1.0 : 0.5);
    scores.add("alpha", 2.0);
    scores.add("Zeta", 2.0);
    const Terms terms = vocabulary().rank(scores);
    ASSERT_EQ(terms.size(), 2000u);
    EXPECT_EQ(terms[0], "Zeta");
    EXPECT_EQ(terms[1], "alpha");
    EXPECT_EQ(terms[2], "term10000");
    EXPECT_EQ(terms[102], "term10100");
    EXPECT_EQ(terms.back(), "term11997");
}

TEST_F(Vocabulary, PartsSplitAtSeparatorsAndWhereACapitalFollowsASmallLetter) {
    const std::vector<std::pair<std::string, Terms>> cases = {
        {"fooBarBaz", {"foo", "Bar", "Baz"}},
        {"my_var-name", {"my", "var", "name"}},
        {"file.test", {"file", "test"}},
        {"feature/login-form", {"feature", "login", "form"}},
        {"parseHTTPRequest", {"parse", "HTTPRequest"}},
        {"__init__", {}},
        {"JSONParser", {}},
        {"v2Api", {}},
        {"na\xC3\xAFveParser", {"na\xC3\xAFve", "Parser"}},
        {"\xC3\xA9t\xC3\xA9\xC3\x89t\xC3\xA9", {"\xC3\xA9t\xC3\xA9", "\xC3\x89t\xC3\xA9"}},
    };
    for (const auto& [word, parts] : cases) EXPECT_EQ(quib::Vocabulary::parts(word), parts) << word;
}

TEST_F(Vocabulary, IdentifiersComeFromSourceFilesOfAtMost256KiB) {
    const auto file = [&](const std::string& name, const std::string& text) {
        std::ofstream(scratch.path / name, std::ios::binary) << text;
        return quib::Vocabulary::identifiers(scratch.path / name);
    };
    EXPECT_EQ(file("a.ts", "let userName = na\xC3\xAFveParser(x1, _tmp);\nuserName;"),
              (Terms{"let", "userName", "user", "Name", "na\xC3\xAFveParser", "na\xC3\xAFve", "Parser", "_tmp",
                     "userName", "user", "Name"}));
    EXPECT_EQ(file("Main.SWIFT", "struct Main {}"), (Terms{"struct", "Main"}));

    const std::string line = "const alpha = 1;";
    EXPECT_EQ(file("full.js", line + std::string(262144 - line.size(), ' ')), (Terms{"const", "alpha"}));
    EXPECT_EQ(file("over.js", line + std::string(262145 - line.size(), ' ')), Terms{});
    EXPECT_EQ(file("logo.png", line), Terms{});
    EXPECT_EQ(file("Makefile", line), Terms{});
    EXPECT_EQ(file("latin1.c", "int caf\xE9;"), Terms{});
    EXPECT_EQ(quib::Vocabulary::identifiers(scratch.path / "missing.ts"), Terms{});
}

TEST_F(Vocabulary, AFolderIsServedFromMemoryFor60SecondsAnEmptyOneToo) {
    countGitRuns();
    const TestRepository repository(scratch.path / "app");
    repository.commit({"src/Parser.ts", "docs/Guide.md"});
    const std::string url = "file://" + repository.root().string();
    const QuibTarget top = appShowing("org.example.editor", url + "/README");
    const QuibTarget docs = appShowing("org.example.viewer", url + "/docs/Guide.md");
    const QuibTarget elsewhere = appShowing("org.example.notes", "file://" + scratch.path.string() + "/notes.txt");

    const Terms first = vocabulary().terms(top);
    EXPECT_TRUE(holds(first, "Parser"));
    const std::size_t perExtraction = gitRuns();
    EXPECT_EQ(perExtraction, 4u);
    clock->advance(59s);
    EXPECT_EQ(vocabulary().terms(top), first);
    EXPECT_EQ(gitRuns(), perExtraction);

    // Another folder of the same repository is looked at afresh.
    EXPECT_EQ(vocabulary().terms(docs), first);
    EXPECT_EQ(gitRuns(), 2 * perExtraction);

    clock->advance(1s);
    EXPECT_EQ(vocabulary().terms(top), first);
    EXPECT_EQ(gitRuns(), 3 * perExtraction);

    // Outside a repository: one run finds no top folder, and the empty result is kept as well.
    EXPECT_EQ(vocabulary().terms(elsewhere), Terms{});
    EXPECT_EQ(gitRuns(), 3 * perExtraction + 1);
    EXPECT_EQ(vocabulary().terms(elsewhere), Terms{});
    EXPECT_EQ(gitRuns(), 3 * perExtraction + 1);
}

TEST_F(Vocabulary, AppsGiveTheFolderOfTheDocumentInTheirFocusedWindowWhileTrusted) {
    const TestRepository repository(scratch.path / "my app");
    repository.commit({"src/Parser.ts"});
    const std::string url = "file://" + scratch.path.string() + "/my%20app/src/Parser.ts";

    const QuibTarget editor = appShowing("org.example.editor", url);
    EXPECT_EQ(vocabulary().workingDirectory(editor), (repository.root() / "src").string());
    EXPECT_TRUE(holds(vocabulary().terms(editor), "Parser"));

    desktop->focus("org.example.editor");
    QuibTarget front;
    front.kind = QuibTarget::Kind::frontmost;
    EXPECT_EQ(vocabulary().workingDirectory(front), (repository.root() / "src").string());

    EXPECT_EQ(vocabulary().terms(appShowing("org.example.blank", std::nullopt)), Terms{});
    EXPECT_EQ(vocabulary().terms(appShowing("org.example.web", "https://example.com/a/b")), Terms{});
    QuibTarget notRunning = editor;
    notRunning.bundleID = "org.example.absent";
    EXPECT_EQ(vocabulary().workingDirectory(notRunning), std::nullopt);
    notRunning.bundleID.reset();
    EXPECT_EQ(vocabulary().workingDirectory(notRunning), std::nullopt);

    // Untrusted, the desktop is not asked at all.
    desktop->setTrusted(false);
    const std::size_t asked = desktop->documentQueries();
    EXPECT_EQ(vocabulary().workingDirectory(editor), std::nullopt);
    EXPECT_EQ(vocabulary().workingDirectory(front), std::nullopt);
    EXPECT_EQ(desktop->documentQueries(), asked);
}

// The vocabulary and the menu scanner stop at once, naming what they were made without, rather
// than ask for a folder or a menu bar nobody can give.
TEST(VocabularyDeathTest, StopsWhenMadeWithoutWhatItAsks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(quib::Vocabulary({.desktop = HeadlessDesktop::services()}),
                 "Vocabulary was made without its pane folders");
    EXPECT_DEATH(
        {
            auto desktop = HeadlessDesktop::services();
            desktop.documents = nullptr;
            quib::Vocabulary(
                {.desktop = desktop, .paneFolder = [](const std::string&) { return std::optional<std::string>(); }});
        },
        "Vocabulary was made without its open documents");
    EXPECT_DEATH(
        {
            auto desktop = HeadlessDesktop::services();
            desktop.menus = nullptr;
            (void)MenuScanner::Config::onDesktop(desktop, std::make_shared<FakeClock>(), nullptr);
        },
        "MenuScanner was made without its menu reader");
}

}  // namespace
}  // namespace quib::testing
