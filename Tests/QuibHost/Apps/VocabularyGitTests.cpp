// The git queries behind the vocabulary, against repositories made with the real git: the top
// folder, branches (a detached HEAD names none), recently changed and tracked files (names
// outside ASCII come back as they are), and recent files that cannot be read as text.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "QuibHost/Apps/VocabularyFixture.hpp"

namespace quib::testing {
namespace {

using Names = std::vector<std::string>;
namespace fs = std::filesystem;

class VocabularyGit : public VocabularyFixture {
protected:
    TestRepository repository{scratch.path / "app"};
    std::string root = repository.root().string();
};

TEST_F(VocabularyGit, FindsTheTopFolderFromBelowAndNothingWithoutARepositoryOrGit) {
    repository.commit({"src/deep/a.ts"});
    const Git git(gitPaths);
    EXPECT_EQ(git.root(root + "/src/deep"), root);
    EXPECT_EQ(git.root(scratch.path.string()), std::nullopt);
    EXPECT_EQ(git.root(root + "/no/such/folder"), std::nullopt);

    const Git missing({scratch.path / "no-git", "/nonexistent/git"});
    EXPECT_EQ(missing.executableURL(), std::nullopt);
    EXPECT_EQ(missing.root(root), std::nullopt);
    EXPECT_EQ(missing.branches(root), Names{});
    EXPECT_EQ(missing.trackedFiles(root), Names{});
    // Looked up at each query: a git that appears later is found.
    const Git later({scratch.path / "no-git", std::string(TestRepository::git)});
    EXPECT_EQ(later.root(root), root);
}

TEST_F(VocabularyGit, ADetachedHeadNamesNoBranch) {
    repository.commit({"a.ts"});
    repository.run({"branch", "feature/login-form"});
    repository.run({"checkout", "-q", "--detach"});
    const Git git(gitPaths);
    EXPECT_EQ(git.branches(root), (Names{"feature/login-form", "main"}));
    for (const auto& term : vocabulary().extract(root)) EXPECT_FALSE(term.starts_with('(')) << term;
}

// A name in Latin-1 is not UTF-8: only it is left out, not the names beside it.
TEST_F(VocabularyGit, NamesOutsideAsciiComeBackAsTheyAreAndQuotedOnesAreLeftOut) {
    repository.commit(
        {"caf\xC3\xA9.txt", "na\xC3\xAFve file.md", "say\"hi\".txt", "tab\there.txt", "plain.txt", "latin\xE9.ts"});
    const Git git(gitPaths);
    const Names expected{"caf\xC3\xA9.txt", "na\xC3\xAFve file.md", "plain.txt"};
    EXPECT_EQ(git.recentlyChangedFiles(root), expected);
    EXPECT_EQ(git.trackedFiles(root), expected);
    const auto terms = vocabulary().extract(root);
    EXPECT_TRUE(holds(terms, "caf\xC3\xA9"));
    EXPECT_TRUE(holds(terms, "na\xC3\xAFve file.md"));
    for (const auto& term : terms) EXPECT_EQ(term.find('"'), std::string::npos) << term;
}

// A huge repository lists more than git's time allows, and more than is worth holding: its
// listing is read only as far as the names wanted, and git is stopped there.
TEST_F(VocabularyGit, TrackedFilesAreReadNoFurtherThanTheNamesWanted) {
    repository.commit({"first.ts", "second.ts", "third.ts"});
    EXPECT_EQ(Git(gitPaths).trackedFiles(root, 2), (Names{"first.ts", "second.ts"}));

    // 64 MB of names, then a wait past the time limit, from a git that is real for the rest.
    const auto huge = scratch.path / "bin" / "git";
    std::filesystem::create_directories(huge.parent_path());
    std::ofstream(huge)
        << "#!/bin/sh\ncase \"$*\" in *ls-files*) yes src/HugeListing.ts | head -c 67108864; exec sleep 30;; "
           "esac\nexec "
        << TestRepository::git << " \"$@\"\n";
    std::filesystem::permissions(huge, std::filesystem::perms::owner_all);
    gitPaths.insert(gitPaths.begin(), huge);

    const auto names = Git(gitPaths).trackedFiles(root, Vocabulary::trackedFileLimit);
    ASSERT_EQ(names.size(), Vocabulary::trackedFileLimit);
    EXPECT_EQ(names.back(), "src/HugeListing.ts");
    const auto terms = vocabulary().extract(root);
    EXPECT_TRUE(holds(terms, "HugeListing.ts"));
    EXPECT_TRUE(holds(terms, "third.ts"));
}

TEST_F(VocabularyGit, RecentFilesComeNewestFirstOnceEachAndOnlyWhileTheyExist) {
    repository.commit({"old.ts", "gone.ts"});
    repository.commit({"new.ts"});
    repository.write("old.ts", "changed");
    repository.commitAll();
    std::filesystem::remove(repository.root() / "gone.ts");
    EXPECT_EQ(Git(gitPaths).recentlyChangedFiles(root), (Names{"old.ts", "new.ts"}));
}

// A recent file that is now a FIFO would block a plain read for ever, and a link to /dev/zero
// would never end; neither is read, and the rest of the result stands.
TEST_F(VocabularyGit, RecentFilesThatAreNotRegularFilesAreNotRead) {
    repository.write("x.ts", "const lostWord = 1;");
    repository.write("kept.ts", "const keptWord = 1;");
    repository.write("real.ts", "const linkedWord = 1;");
    std::filesystem::create_symlink("/dev/zero", repository.root() / "zero.ts");
    std::filesystem::create_symlink("real.ts", repository.root() / "link.ts");
    repository.commitAll();
    std::filesystem::remove(repository.root() / "x.ts");
    ASSERT_EQ(::mkfifo((repository.root() / "x.ts").c_str(), 0600), 0);

    const auto recent = Git(gitPaths).recentlyChangedFiles(root);
    EXPECT_TRUE(holds(recent, "x.ts"));
    EXPECT_TRUE(holds(recent, "zero.ts"));
    const auto terms = vocabulary().extract(root);
    EXPECT_TRUE(holds(terms, "keptWord"));
    EXPECT_TRUE(holds(terms, "linkedWord"));  // links to regular files are followed
    EXPECT_TRUE(holds(terms, "x.ts"));
    EXPECT_TRUE(holds(terms, "zero.ts"));
    EXPECT_FALSE(holds(terms, "lostWord"));
}

// A repository's own configuration names programs that git runs on its behalf; the queries
// behind the vocabulary must never start them.
TEST_F(VocabularyGit, ProgramsNamedInTheRepositorysConfigurationNeverRun) {
    const fs::path ran = scratch.path / "ran";
    const auto plant = [&](const std::string& name, const std::string& body) {
        const fs::path script = scratch.path / name;
        std::ofstream(script) << "#!/bin/sh\necho " << name << " >> '" << ran.string() << "'\n" << body;
        fs::permissions(script, fs::perms::owner_all);
        return script.string();
    };
    // A commit signed by a stand-in for the signing program, so that showing signatures has one.
    const std::string signer =
        plant("signer",
              "cat >/dev/null\necho '[GNUPG:] SIG_CREATED ' >&2\necho '-----BEGIN PGP SIGNATURE-----'\necho x\n"
              "echo '-----END PGP SIGNATURE-----'\n");
    repository.write("a.ts");
    repository.run({"add", "-A"});
    repository.run({"-c", "gpg.program=" + signer, "commit", "-q", "-S", "-m", "signed"});
    fs::remove(ran);
    repository.run({"config", "core.fsmonitor", plant("monitor", "")});
    repository.run({"config", "log.showSignature", "true"});
    repository.run({"config", "gpg.program", plant("checker", "")});

    const Git git(gitPaths);
    EXPECT_EQ(git.root(root), root);
    EXPECT_EQ(git.recentlyChangedFiles(root), Names{"a.ts"});
    EXPECT_EQ(git.trackedFiles(root), Names{"a.ts"});
    EXPECT_EQ(git.branches(root), Names{"main"});
    (void)vocabulary().extract(root);
    EXPECT_FALSE(fs::exists(ran)) << "ran: " << fileContents(ran);
    // The stand-ins do run when git is asked plainly, so the test would see them.
    (void)Subprocess::run(std::string(TestRepository::git), {"-C", root, "log", "-1"}, std::nullopt,
                          std::chrono::seconds(30));
    EXPECT_TRUE(fs::exists(ran));
}

}  // namespace
}  // namespace quib::testing
