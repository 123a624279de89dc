// `viewmere --import` as a script runs it: the built program, its lines and exit statuses, and
// ended by signals in the middle of a copy from a card (through FUSE) whose reads are held.
#include "import/Sha256.h"
#include "support/Clips.h"
#include "support/FailingFs.h"
#include "support/TempDir.h"
#include "platform/FileSystem.h"

#include <fcntl.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

extern char** environ;

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// The program with its output in files; killed if still running when it goes.
class ImportProgram {
public:
    ImportProgram(const TempDir& dir, std::vector<std::string> arguments) : out_(dir / "out.txt"), err_(dir / "err.txt")
    {
        arguments.insert(arguments.begin(), VIEWMERE_PROGRAM);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, VIEWMERE_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ImportProgram()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void Signal(int signal) { kill(pid_, signal); }
    // The wait status.
    int Wait()
    {
        int status = -1;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }
    std::string Out() const { return ReadFile(out_); }
    std::string Err() const { return ReadFile(err_); }

private:
    std::string out_, err_;
    pid_t pid_ = -1;
};

int ExitStatus(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Sha256Of(const std::string& bytes)
{
    CSha256 hash;
    hash.Add(bytes.data(), bytes.size());
    return CSha256::Hex(hash.Finish());
}

}  // namespace

TEST(ImportCommandTest, LinesExitStatusesAndSignalsThatLeaveNoTemporaryFile)
{
    if (!CanMount())
        GTEST_SKIP() << "mounting FUSE needs root and /dev/fuse";
    TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", dir / "data"), config("XDG_CONFIG_HOME", dir / "config"), home("HOME", dir.Path());
    ScopedEnv zone("TZ", "UTC");
    const std::string card = dir / "card", out = dir / "Videos";
    ASSERT_EQ(Shell("mkdir -p " + ShellQuote(card) + " && head -c 20000000 /dev/urandom > " + ShellQuote(card + "/00000.MTS") +
                    " && cp " + ShellQuote(TestClips().interlaced1080) + " " + ShellQuote(card + "/00001.MTS")),
              0);
    SetModificationTime(card + "/00000.MTS", 1300000000);
    SetModificationTime(card + "/00001.MTS", 1300000060);
    FailingFs fs(card, dir / "mnt");
    ASSERT_TRUE(fs.Mounted());

    // Bad arguments.
    EXPECT_EQ(ExitStatus(ImportProgram(dir, {"--import"}).Wait()), 2);
    ImportProgram missing(dir, {"--import", dir / "missing", out});
    EXPECT_EQ(ExitStatus(missing.Wait()), 2);
    EXPECT_EQ(missing.Err(), "viewmere: cannot read folder " + dir / "missing" + ": No such file or directory\n");
    ImportProgram help(dir, {"--help"});
    EXPECT_EQ(ExitStatus(help.Wait()), 0);
    EXPECT_NE(help.Out().find("viewmere --import FOLDER [DEST]"), std::string::npos);

    const std::string first = out + "/2011/2011-03-13/2011-03-13 07-06-40.mts";
    const std::string second = out + "/2011/2011-03-13/2011-03-13 07-07-40.mts";
    auto temporaryFiles = [&] { return Shell("find " + ShellQuote(out) + " -name '.viewmere-import-*' | grep -q ."); };
    // Ended by SIGTERM in the middle of the first recording: its temporary file goes, then the
    // program ends by the signal.
    fs.HoldAfter(4 * 1024 * 1024);
    {
        ImportProgram program(dir, {"--import", dir / "mnt", out});
        while (!fs.Holding())
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(temporaryFiles(), 0);
        program.Signal(SIGTERM);
        std::this_thread::sleep_for(200ms);
        fs.Release();
        const int status = program.Wait();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_NE(temporaryFiles(), 0);
        EXPECT_FALSE(platform::FileExists(first));
        EXPECT_EQ(program.Out().rfind("failed\t" + first + "\t20000000\t-\t1\n", 0), 0u) << program.Out();
    }
    // Killed outright (as by a power cut): the temporary file stays, and the next run removes it.
    fs.HoldAfter(4 * 1024 * 1024);
    {
        ImportProgram program(dir, {"--import", dir / "mnt", out});
        while (!fs.Holding())
            std::this_thread::sleep_for(10ms);
        program.Signal(SIGKILL);
        fs.Release();  // a process waiting on a file system's answer ends once it has it
        program.Wait();
        EXPECT_EQ(temporaryFiles(), 0);
    }
    // Each line is written as soon as its recording is settled: while the second is read, the
    // first's line is there (the card's reads before: up to 256 KB of each file's start, the
    // first's 20 MB, then its first and last MiB for the database).
    fs.HoldAfter(23000000);
    ImportProgram complete(dir, {"--import", dir / "mnt", out});
    while (!fs.Holding())
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(complete.Out(), "imported\t" + first + "\t20000000\t" + Sha256Of(ReadFile(card + "/00000.MTS")) + "\t1\n");
    fs.Release();
    EXPECT_EQ(ExitStatus(complete.Wait()), 0) << complete.Err();
    EXPECT_NE(temporaryFiles(), 0);
    const std::string clip = ReadFile(card + "/00001.MTS");
    EXPECT_EQ(complete.Out(), "imported\t" + first + "\t20000000\t" + Sha256Of(ReadFile(card + "/00000.MTS")) + "\t1\n" +
                                  "imported\t" + second + "\t" + std::to_string(clip.size()) + "\t" + Sha256Of(clip) + "\t1\n");
    EXPECT_EQ(ReadFile(second), clip);

    // Again: both are there. With one of them unreadable in a fresh destination, status 1.
    ImportProgram again(dir, {"--import", dir / "mnt", out});
    EXPECT_EQ(ExitStatus(again.Wait()), 0);
    EXPECT_EQ(again.Out().substr(0, 8), "already\t");
    fs.FailReadsOf("00001.MTS");
    ImportProgram failing(dir, {"--import", dir / "mnt", dir / "other"});
    EXPECT_EQ(ExitStatus(failing.Wait()), 1);
    EXPECT_NE(failing.Out().find("\nfailed\t" + dir / "other/2011/2011-03-13/2011-03-13 07-07-40.mts\t"), std::string::npos)
        << failing.Out();
    EXPECT_NE(failing.Err().find("00001.MTS (cannot read " + dir / "mnt/00001.MTS: Input/output error)"), std::string::npos)
        << failing.Err();
}
