// zoka animate's worker processes: they never hang, never lose a frame
// silently, and die with their parent.

#include <algorithm>
#include <atomic>
#include <optional>

#include "tests/support/cli_fixtures.h"

namespace zoka_cli {
namespace {

using namespace testing_cli;

// ---- zoka animate: worker processes that never hang, never lose a frame
// silently, and die with their parent ----


TEST_F(Animate, ShortRunsNeverHang) {
    // Large enough for the image library to read it with its thread pool.
    const std::string input = Write("layer.png", Image(256, 256, Pixel{255, 100, 150, 200}));
    for (const int jobs : {1, 2}) {
        for (int run = 0; run < 12; ++run) {
            const std::string command = "timeout -s KILL 120 " + std::string(ZOKA_CLI_PATH) +
                                        " animate antimatter " + input + " " + Path("f_%d.png") +
                                        " --frames 0-5 -j " + std::to_string(jobs) + " >/dev/null";
            const int status = std::system(command.c_str());
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "run " << run << " at -j " << jobs << " ended with " << status;
        }
    }
}

TEST_F(Animate, TheFinalLineCountsFramesWorkersAndMemory) {
    const std::string input = Write("layer.png", Image(8, 8, Pixel{255, 1, 2, 3}));
    Outcome run = Zoka("animate antimatter " + input + " " + Path("f_%d.png") + " --frames 7");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(Path("f_7.png")));
    int megabytes = 0;
    EXPECT_EQ(std::sscanf(run.out.c_str(),
                          "1 frame written (1 worker, peak memory per worker %d MB)", &megabytes),
              1)
        << run.out;
    EXPECT_GT(megabytes, 0);
    EXPECT_TRUE(run.out.ends_with(" MB)\n")) << run.out;
    run = Zoka("animate antimatter " + input + " " + Path("f_%d.png") + " --frames 0-4 -j 3");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("5 frames written (3 workers, peak memory per worker "))
        << run.out;
}

TEST_F(Animate, FrameRangesAndJobCountsOutsideTheirBoundsAreRefused) {
    const std::string input = Write("layer.png", Image(4, 4));
    for (const char* range : {"-", "0-", "", "5-4", "+1", " 1", "1-2-3", "1.5", "0-1000001",
                              "99999999999999999999"}) {
        const Outcome run = Zoka("animate antimatter " + input + " " + Path("f_%d.png") +
                                 " --frames \"" + range + "\"");
        EXPECT_EQ(run.status, 2) << "--frames \"" << range << "\"";
        EXPECT_NE(run.err.find("--frames takes A or A-B"), std::string::npos) << run.err;
    }
    const std::string animate = "animate antimatter " + input + " " + Path("f_%d.png");
    Outcome run = Zoka(animate + " --frames 0-1 -j 100000");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("-j takes at most"), std::string::npos) << run.err;
    // Checked by the first worker alone: one line, not one per worker.
    run = Zoka(animate + " --frames 0-9 -j 4 --set Amount=101");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: Antimatter: \"Amount\" takes a number from 0 to 100, not \"101\"\n");
    EXPECT_EQ(FileCount(), 1u) << "nothing written";
}

TEST_F(Animate, AFrameThatCannotBeWrittenIsAFileErrorNamingTheFramesLeft) {
    const std::string input = Write("layer.png", Image(8, 8, Pixel{255, 1, 2, 3}));
    fs::create_directory(Path("f_0007.png"));  // in the way of frame 7
    Outcome run =
        Zoka("animate antimatter " + input + " " + Path("f_%04d.png") + " --frames 0-19 -j 2");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.out, "");
    fs::remove(Path("f_0007.png"));
    ExpectMissingNamed(run.err, 19);
    EXPECT_TRUE(NamedMissing(run.err).contains(7));
    EXPECT_TRUE(fs::exists(Path("f_0008.png"))) << "the other worker went on";

    // Past the file-size limit (8 KB; a frame of noise is larger): the write
    // fails or the worker is killed by SIGXFSZ, a file error either way.
    const std::string big = Write("big.png", Image(200, 200, Pixel{255, 1, 2, 3}));
    const int limited = std::system(("sh -c 'ulimit -f 16; exec " + std::string(ZOKA_CLI_PATH) +
                                     " animate hsbnoise " + big + " " + Path("h_%04d.png") +
                                     " --frames 0-3 -j 2 >/dev/null 2>&1'")
                                        .c_str());
    EXPECT_TRUE(WIFEXITED(limited) && WEXITSTATUS(limited) == 3) << limited;
    EXPECT_FALSE(fs::exists(Path("h_0000.png")));
}

TEST_F(Animate, AKilledWorkerIsNamedWithTheFramesItLeft) {
    std::vector<pid_t> workers;
    const pid_t parent = StartLongRun(workers, 1999);
    ASSERT_EQ(workers.size(), 2u);
    kill(workers[0], SIGKILL);
    const int status = Finish(parent);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = Text("stderr.txt");
    EXPECT_NE(err.find("was killed by signal 9"), std::string::npos) << err;
    EXPECT_EQ(Text("stdout.txt"), "") << "no success line";
    ExpectMissingNamed(err, 1999, 1);
}

TEST_F(Animate, AWorkerThatMakesNoProgressIsStoppedAndNamed) {
    std::vector<pid_t> workers;
    const pid_t parent = StartLongRun(workers, 1999, "--frame-timeout 3");
    ASSERT_EQ(workers.size(), 2u);
    kill(workers[1], SIGSTOP);
    const int status = Finish(parent);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = Text("stderr.txt");
    EXPECT_NE(err.find("wrote no frame in 3 seconds and was stopped"), std::string::npos) << err;
    ExpectMissingNamed(err, 1999, 1);
    EXPECT_FALSE(Alive(workers[1]));
}

TEST_F(Animate, WorkersDieWithTheirParentAndPublishNothingAfter) {
    for (const int signal : {SIGTERM, SIGKILL, SIGHUP}) {
        // Far more frames than the workers could render within the wait below.
        std::vector<pid_t> workers;
        const pid_t parent = StartLongRun(workers, 999999);
        ASSERT_EQ(workers.size(), 2u) << strsignal(signal);
        // Held still, most likely inside a frame, so that the count below is
        // final: a worker that outlived its parent would finish that frame
        // once continued.
        for (const pid_t w : workers) kill(w, SIGSTOP);
        EXPECT_TRUE(Within([&] { return Stopped(workers[0]) && Stopped(workers[1]); }));
        const size_t frames = FramesWritten();
        kill(parent, signal);
        const int status = Finish(parent);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal);
        for (const pid_t w : workers) kill(w, SIGCONT);
        EXPECT_TRUE(Within([&] { return !Alive(workers[0]) && !Alive(workers[1]); }))
            << strsignal(signal) << ": a worker outlived its parent";
        EXPECT_EQ(FramesWritten(), frames) << strsignal(signal) << ": a frame appeared afterwards";
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename() != "layer.png") fs::remove(entry.path());
        }
    }
}

// The tests above watch workers through /proc while they end. A process that
// ends, even between opening its entry and reading it (the read then fails
// with ESRCH), is gone, never an error, and listing /proc while processes
// come and go never throws.
TEST(ProcEntries, AProcessThatEndsWhileLookedAtIsGoneNotAnError) {
    const pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    const std::optional<zoka_test_proc::Stat> live = zoka_test_proc::ReadStat(child);
    ASSERT_TRUE(live);
    EXPECT_EQ(live->parent, getpid());
    const auto lists = [&](bool withZombies) {
        const std::vector<pid_t> children = zoka_test_proc::ChildrenOf(getpid(), withZombies);
        return std::find(children.begin(), children.end(), child) != children.end();
    };
    EXPECT_TRUE(lists(false));
    const int opened = open(("/proc/" + std::to_string(child) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(opened, 0);

    kill(child, SIGKILL);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);  // a zombie, not reaped
    EXPECT_EQ(zoka_test_proc::ReadStat(child)->state, 'Z');
    EXPECT_FALSE(lists(false));
    EXPECT_TRUE(lists(true));

    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    char byte = 0;
    EXPECT_EQ(read(opened, &byte, 1), -1);
    EXPECT_EQ(errno, ESRCH) << "what an ifstream turned into an exception";
    close(opened);
    EXPECT_FALSE(zoka_test_proc::ReadStat(child));
    EXPECT_FALSE(zoka_test_proc::ReadEntry(child, "cmdline"));
    EXPECT_FALSE(zoka_test_proc::Listed(child));

    std::atomic<bool> done{false};
    std::thread churn([&] {
        for (int i = 0; i < 40; ++i) {
            const pid_t brief = fork();
            if (brief == 0) _exit(0);
            if (brief > 0) waitpid(brief, nullptr, 0);
        }
        done = true;
    });
    size_t looks = 0;
    while (!done) {
        EXPECT_NO_THROW(zoka_test_proc::ChildrenOf(getpid(), true));
        ++looks;
    }
    churn.join();
    EXPECT_GT(looks, 0u);
}

}  // namespace
}  // namespace zoka_cli
