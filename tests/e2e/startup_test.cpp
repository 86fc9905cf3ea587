#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
struct Outcome
{
    int exitCode = -1;
    std::string output; // stdout and stderr together
};

// Runs the editor (or `program`, which runs it) with the given environment prefix and
// collects what it prints.
Outcome runEditor(const std::string& environment, const std::string& arguments = "",
                  const std::string& program = GANTRIX_BINARY)
{
    const std::string command =
        "env " + environment + " timeout 20 " + program + " " + arguments + " 2>&1";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
    {
        return outcome;
    }
    std::array<char, 256> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    {
        outcome.output.append(buffer.data(), n);
    }
    const int status = pclose(pipe);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}
} // namespace

// Without a reachable display the editor says so in one line and exits with failure,
// instead of leaving the user with the toolkit's terse message.
TEST(Startup, NoDisplayIsOneClearLine)
{
    const Outcome unset = runEditor("-u DISPLAY");
    EXPECT_EQ(unset.exitCode, 1);
    EXPECT_EQ(unset.output,
              "gantrix: no X display: DISPLAY is not set (start it from a desktop session, or "
              "headless with xvfb-run from the xvfb and xauth packages)\n");

    // A display number far above what the tests' own servers take.
    const Outcome absent = runEditor("DISPLAY=:4093");
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.output, "gantrix: cannot open X display ':4093': is an X server running "
                             "there and may this user connect?\n");

    // A -display argument is what the toolkit would open, so it is the one checked.
    const Outcome argument = runEditor("-u DISPLAY", "-display :4094");
    EXPECT_EQ(argument.exitCode, 1);
    EXPECT_NE(argument.output.find("':4094'"), std::string::npos) << argument.output;
}

// A display that cannot give the window OpenGL is named in one line too, without the toolkit's
// own message or a dump of the failed X request: an 8-bit screen has no GLX visual, and a server
// without indirect GLX refuses the context indirect rendering asks for, by the environment or by
// the toolkit's argument. A run without a window keeps no recovery copies: its state folder is not
// even made.
TEST(Startup, DisplayWithoutUsableOpenGlIsOneClearLine)
{
    const std::string onServer = GANTRIX_WITH_XVFB " " GANTRIX_BINARY;
    char scratch[] = "/tmp/gantrix-startup-XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    const std::string state = std::string(scratch) + "/state";
    const Outcome eightBit =
        runEditor("XDG_STATE_HOME=" + state + " WITH_XVFB_DEPTH=8", "", onServer);
    EXPECT_NE(access(state.c_str(), F_OK), 0) << state;
    std::filesystem::remove_all(scratch);
    const Outcome indirect = runEditor("LIBGL_ALWAYS_INDIRECT=1", "", onServer);
    const Outcome asked = runEditor("", "-indirect", onServer);
    for (const Outcome& refused : {eightBit, indirect, asked})
    {
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_EQ(refused.output.rfind("gantrix: cannot open the window on X display ':", 0), 0u)
            << refused.output;
        EXPECT_NE(refused.output.find("(no OpenGL there: use a screen depth of 24"),
                  std::string::npos)
            << refused.output;
        EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1);
    }
    EXPECT_NE(eightBit.output.find("GLX"), std::string::npos) << eightBit.output;
    EXPECT_NE(indirect.output.find("context"), std::string::npos) << indirect.output;
}
