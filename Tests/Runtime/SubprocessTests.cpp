#include "Runtime/Subprocess.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

const std::filesystem::path sh = "/bin/sh";

Subprocess::Result shell(const std::string& script, std::chrono::duration<double> timeout = 10s,
                         std::optional<std::string_view> input = std::nullopt) {
    return Subprocess::run(sh, {"-c", script}, input, timeout);
}

double secondsSince(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

using testing::fileContents;
using testing::linesOf;

// Ended: gone, or a zombie waiting for whoever adopted it.
bool hasEnded(pid_t pid) {
    const std::string stat = fileContents("/proc/" + std::to_string(pid) + "/stat");
    if (stat.empty()) return true;
    const auto state = stat.find(") ");
    return state != std::string::npos && (stat[state + 2] == 'Z' || stat[state + 2] == 'X');
}

bool eventuallyEnded(pid_t pid) {
    const auto end = Steady::now() + 5s;
    while (!hasEnded(pid) && Steady::now() < end) std::this_thread::sleep_for(10ms);
    return hasEnded(pid);
}

TEST(Subprocess, AToolThatCannotStartFailsAtOnceWithTheReason) {
    const auto start = Steady::now();
    EXPECT_EQ(Subprocess::run("/nonexistent/tool", {}, std::nullopt, 30s),
              (Subprocess::Result{false, "No such file or directory"}));
    EXPECT_EQ(Subprocess::run("/etc/passwd", {}, std::nullopt, 30s), (Subprocess::Result{false, "Permission denied"}));
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(Subprocess, OutputAndErrorShareOnePipeAndComeBackTrimmed) {
    EXPECT_EQ(shell("echo '  one line  '"), (Subprocess::Result{true, "one line"}));
    EXPECT_EQ(shell("echo 'no such pane' >&2; exit 1"), (Subprocess::Result{false, "no such pane"}));
    EXPECT_EQ(shell("echo a; echo b >&2; echo c"), (Subprocess::Result{true, "a\nb\nc"}));
    EXPECT_EQ(shell("printf 'caf\\303\\251'"), (Subprocess::Result{true, "caf\u00e9"}));
    EXPECT_EQ(shell("printf 'ok\\377\\376'"), (Subprocess::Result{true, ""}));
    EXPECT_EQ(shell("printf '\\377'; exit 3"), (Subprocess::Result{false, ""}));
    EXPECT_EQ(Subprocess::runBytes(sh, {"-c", "printf ' ok\\377\\n'"}, std::nullopt, 10s),
              (Subprocess::Result{true, " ok\xFF\n"}));
}

TEST(Subprocess, WithoutInputTheToolReadsEndOfFileAtOnce) {
    EXPECT_EQ(Subprocess::run("/bin/cat", {}, std::nullopt, 10s), (Subprocess::Result{true, ""}));
}

TEST(Subprocess, InputArrivesExactlyAndALargeEchoDoesNotDeadlock) {
    EXPECT_EQ(shell("wc -c", 10s, std::string_view("  a\n\n")), (Subprocess::Result{true, "5"}));
    EXPECT_EQ(shell("cat; echo end", 10s, std::string_view("")), (Subprocess::Result{true, "end"}));
    std::string large(1 << 20, 'x');
    for (std::size_t i = 0; i < large.size(); i += 997) large[i] = static_cast<char>('a' + i % 26);
    const auto echoed = Subprocess::run("/bin/cat", {}, large, 30s);
    EXPECT_TRUE(echoed.ok);
    EXPECT_TRUE(echoed.output == large) << echoed.output.size() << " bytes came back";
}

// The write fails with a broken pipe; the process must not end with SIGPIPE.
TEST(Subprocess, AToolThatStopsReadingLosesTheRestOfItsInput) {
    const std::string input(4 << 20, 'x');
    EXPECT_EQ(Subprocess::run("/bin/true", {}, input, 10s), (Subprocess::Result{true, ""}));
    EXPECT_EQ(shell("head -c 3", 10s, input), (Subprocess::Result{true, "xxx"}));
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

// An endless listing is cut at the limit and the tool stopped long before its time runs out;
// output that ends exactly at the limit, or within it, is whole.
TEST(Subprocess, OutputPastTheLimitIsCutAndTheToolStopped) {
    const auto start = Steady::now();
    const auto endless = Subprocess::runBytes("/usr/bin/yes", {"name.ts"}, std::nullopt, 30s, 100'000);
    EXPECT_LT(secondsSince(start), 10.0);
    EXPECT_FALSE(endless.ok);
    EXPECT_TRUE(endless.cut);
    ASSERT_EQ(endless.output.size(), 100'000u);
    EXPECT_EQ(endless.output.substr(0, 16), "name.ts\nname.ts\n");

    // Trapping SIGPIPE and TERM does not keep a tool alive past the cut.
    const auto stubborn =
        Subprocess::runBytes(sh, {"-c", "trap '' PIPE TERM; while :; do echo x; done"}, std::nullopt, 30s, 10);
    EXPECT_EQ(stubborn, (Subprocess::Result{false, "x\nx\nx\nx\nx\n", true}));

    EXPECT_EQ(Subprocess::runBytes(sh, {"-c", "printf 12345"}, std::nullopt, 10s, 5),
              (Subprocess::Result{true, "12345"}));
    EXPECT_EQ(Subprocess::runBytes(sh, {"-c", "printf 123"}, std::nullopt, 10s, 5), (Subprocess::Result{true, "123"}));
    EXPECT_EQ(Subprocess::runBytes(sh, {"-c", "printf 123456"}, std::nullopt, 10s, 5),
              (Subprocess::Result{false, "12345", true}));
    EXPECT_LT(secondsSince(start), 20.0);
}

TEST(Subprocess, ATimeOutEndsTheToolAndNamesTheWholeSeconds) {
    const auto start = Steady::now();
    EXPECT_EQ(Subprocess::run("/bin/sleep", {"10"}, std::nullopt, 2.9s),
              (Subprocess::Result{false, "sleep timed out after 2s"}));
    const double took = secondsSince(start);
    EXPECT_GE(took, 2.9);
    EXPECT_LT(took, 3.9);
}

// It ignores SIGTERM, and so does the sleep it runs; both are killed and the tool is reaped.
TEST(Subprocess, AToolThatIgnoresTheRequestToStopIsKilled) {
    testing::ScratchFolder scratch("spawn");
    const auto pidFile = scratch.path / "pid";
    const auto result = shell("trap '' TERM; echo $$ > '" + pidFile.string() + "'; sleep 30; echo late", 1s);
    EXPECT_EQ(result, (Subprocess::Result{false, "sh timed out after 1s"}));
    const pid_t pid = std::stoi(fileContents(pidFile));
    EXPECT_EQ(::kill(pid, 0), -1) << "the tool was not reaped";
    EXPECT_EQ(errno, ESRCH);
}

TEST(Subprocess, AGrandchildHoldingTheOutputEndsAtTheDeadline) {
    testing::ScratchFolder scratch("spawn");
    const auto pidFile = scratch.path / "pid";
    const auto start = Steady::now();
    EXPECT_EQ(shell("sleep 30 & echo $! > '" + pidFile.string() + "'; exit 0", 1s),
              (Subprocess::Result{false, "sh timed out after 1s"}));
    EXPECT_LT(secondsSince(start), 1.9);
    EXPECT_TRUE(eventuallyEnded(std::stoi(fileContents(pidFile))));
}

TEST(Subprocess, AToolThatClosesItsOutputButRunsOnStillTimesOut) {
    EXPECT_EQ(shell("exec >/dev/null 2>&1; sleep 30", 1s), (Subprocess::Result{false, "sh timed out after 1s"}));
}

// The host blocks SIGTERM in every thread for its signal watcher; the tool must not inherit that.
TEST(Subprocess, TheToolStartsWithNoSignalBlocked) {
    testing::ScratchFolder scratch("spawn");
    const auto mark = scratch.path / "mark";
    sigset_t term, previous;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &previous);
    const auto result = shell("trap 'echo stopped > \"" + mark.string() + "\"; exit 0' TERM; sleep 30 & wait", 1s);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(fileContents(mark), "stopped\n");
}

TEST(Subprocess, TheToolInheritsNoDescriptorButTheStandardThree) {
    const int opened = ::open("/dev/null", O_RDONLY);  // without close-on-exec
    ASSERT_GE(opened, 0);
    const int high = ::dup2(opened, 203);
    ASSERT_EQ(high, 203);
    const auto listed = Subprocess::run("/bin/ls", {"/proc/self/fd"}, std::nullopt, 10s);
    ::close(high);
    ::close(opened);
    ASSERT_TRUE(listed.ok) << listed.output;
    // ls's own handle on the folder is the only one above 2.
    const auto fds = linesOf(listed.output);
    EXPECT_LE(fds.size(), 4u) << listed.output;
    EXPECT_EQ(std::ranges::count(fds, "203"), 0);
}

// The host blocks SIGINT and SIGTERM and ignores SIGPIPE; an app it launches must not keep that,
// nor its session, its descriptors or a parent that never reaps it.
TEST(Subprocess, ADetachedProgramGetsASessionOfItsOwnAndNothingOfTheHostsSignals) {
    testing::ScratchFolder scratch("detached");
    const auto out = scratch.path / "out";
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR1, &ignore, &before);
    const std::string script =
        "grep -E '^Sig(Blk|Ign)' /proc/self/status > \"$0.tmp\"; cut -d' ' -f6 /proc/self/stat >> \"$0.tmp\"; "
        "echo $$ >> \"$0.tmp\"; readlink /proc/self/fd/0 >> \"$0.tmp\"; readlink /proc/$$/fd/2 >> \"$0.tmp\"; "
        "ls /proc/self/fd > \"$0.fds\"; mv \"$0.tmp\" \"$0\"";
    const auto failure = Subprocess::startDetached(sh, {"sh", "-c", script, out.string()});
    sigaction(SIGUSR1, &before, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ASSERT_EQ(failure, std::nullopt);

    const auto end = Steady::now() + 5s;
    while (!std::filesystem::exists(out) && Steady::now() < end) std::this_thread::sleep_for(10ms);
    const auto seen = linesOf(fileContents(out));
    ASSERT_EQ(seen.size(), 6u) << fileContents(out);
    EXPECT_EQ(seen[0], "SigBlk:\t0000000000000000");
    EXPECT_EQ(seen[1], "SigIgn:\t0000000000000000");
    EXPECT_EQ(seen[2], seen[3]) << "the program leads a session of its own";
    EXPECT_NE(std::stol(seen[2]), static_cast<long>(::getsid(0)));
    EXPECT_EQ(seen[4], "/dev/null");
    EXPECT_EQ(seen[5], "/dev/null");
    // ls's own handle on the folder is the only one above 2.
    const auto open = linesOf(fileContents(out.string() + ".fds"));
    EXPECT_LE(open.size(), 4u) << fileContents(out.string() + ".fds");
    // The host is nobody's parent: nothing is left for it to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(Subprocess, ADetachedProgramThatCannotStartFailsWithTheReason) {
    EXPECT_EQ(Subprocess::startDetached("/nonexistent/bars", {"bars"}), "No such file or directory");
    EXPECT_EQ(Subprocess::startDetached("/etc/passwd", {"passwd"}), "Permission denied");
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(Subprocess, FindsAProgramOnTheSearchPath) {
    EXPECT_EQ(Subprocess::onPath("sh", "/nonexistent::/bin"), std::filesystem::path("/bin/sh"));
    EXPECT_EQ(Subprocess::onPath("/bin/sh", ""), std::filesystem::path("/bin/sh"));
    EXPECT_EQ(Subprocess::onPath("passwd", "/etc"), std::nullopt);  // not executable
    EXPECT_EQ(Subprocess::onPath("no-such-program", "/bin:/usr/bin"), std::nullopt);
}

}  // namespace
}  // namespace quib
