// A soak: the running editor gets a long, seeded stream of real input (clicks, drags with
// and without modifiers, pans, Tab and Shift characters, the section sign, saves, loads of
// sound and damaged files) and must come out alive, without a sanitizer report, with
// bounded memory, and with a ship that saves and loads back to itself.
//
//   GANTRIX_SOAK_SECONDS  how long the input runs (default 45)
//   GANTRIX_SOAK_SEED     the seed of the input stream (default 1)

#include "editor_session.h"
#include "shipfile/ship_file.h"

#include <X11/keysym.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace
{
constexpr int LEFT = 1;
constexpr int MIDDLE = 2;
constexpr int RIGHT = 3;

// The ship is put back to this one whenever it has grown past these sizes, so that the
// run measures the editor's own memory rather than a ship that keeps growing.
constexpr size_t MOST_TRIANGLES = 120;
constexpr size_t MOST_ATTACHMENTS = 40;
// Resident memory may grow this much beyond the greater of the two, after warm-up. A
// leak of even a few hundred bytes per input event passes these over a long run.
constexpr long RSS_SLACK_KIB = 48 * 1024;
constexpr double RSS_SLACK_FACTOR = 0.5;

int environmentNumber(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// VmRSS of a process, in KiB; -1 when it cannot be read.
long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
    {
        if (line.rfind("VmRSS:", 0) == 0)
        {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// Every field the file keeps, as text, so two loaded ships compare in one assertion.
std::string describe(const ShipFileContent& c)
{
    return describe({}, c.triangles, c.attachments);
}

ShipFileContent baseShip()
{
    ShipFileContent s;
    const double corners[][6] = {
        {0, 0, 25, 0, 0, 25}, {25, 0, 50, 0, 25, 25}, {-50, -50, -25, -50, -50, -25}};
    for (const auto& c : corners)
    {
        Triangle t;
        for (int k = 0; k < 3; ++k)
        {
            t.corners[k] = {c[2 * k], c[2 * k + 1]};
        }
        s.triangles.push_back(t);
    }
    const unsigned char keys[] = {'A', 0xA7, '7'};
    for (int i = 0; i < 3; ++i)
    {
        Attachment a;
        a.key = keys[i];
        a.x = 12.5 * i;
        a.y = -3.0;
        a.modeFlag = i != 1;
        s.attachments.push_back(a);
    }
    return s;
}

class SoakTest : public EditorTest
{
  protected:
    // Each X input event sent goes through these, so that they can be counted.
    void move(int x, int y)
    {
        ASSERT_TRUE(editor.moveTo(x, y));
        events++;
    }
    void button(int which, bool down)
    {
        ASSERT_TRUE(editor.button(which, down));
        events++;
    }
    void down(unsigned long keysym)
    {
        ASSERT_TRUE(editor.keyDown(keysym));
        events++;
    }
    void up(unsigned long keysym)
    {
        ASSERT_TRUE(editor.keyUp(keysym));
        events++;
    }
    void tap(unsigned long keysym)
    {
        down(keysym);
        up(keysym);
    }

    int coordinate(int low, int high)
    {
        return std::uniform_int_distribution<int>(low, high)(random);
    }

    bool chance(int percent)
    {
        return coordinate(0, 99) < percent;
    }

    // A drag of button `which` through a few random steps, with Control pressed after the press
    // when `controlMidway`.
    void dragFrom(int which, int x, int y, bool controlMidway)
    {
        move(x, y);
        button(which, true);
        const int steps = coordinate(1, 8);
        for (int i = 0; i < steps; ++i)
        {
            if (controlMidway && i == steps / 2)
            {
                down(XK_Control_L);
            }
            x = std::max(0, std::min(899, x + coordinate(-40, 40)));
            y = std::max(0, std::min(899, y + coordinate(-40, 40)));
            move(x, y);
        }
        button(which, false);
        if (controlMidway)
        {
            up(XK_Control_L);
        }
    }

    std::string save()
    {
        saves++;
        tap(XK_1);
        EXPECT_TRUE(editor.waitForStdout("SAVED!", saves));
        return editor.readWorkFile("ship.hul");
    }

    void load()
    {
        loads++;
        tap(XK_0);
        EXPECT_TRUE(editor.waitForStdout("LOADED!", loads));
    }

    // A save, a load of a damaged file, and a second save that must match the first:
    // the failed load changed nothing. The saved bindings are those of the last frame, so
    // the first save waits for a frame that began after the last input was handled; one
    // frame may already have been under way when the input came.
    void damagedLoad()
    {
        ASSERT_TRUE(editor.waitForFrames(2));
        const std::string sound = save();
        std::string damaged;
        switch (coordinate(0, 4))
        {
            case 0: // cut anywhere before the last value
                damaged = sound.substr(
                    0, static_cast<size_t>(coordinate(0, static_cast<int>(sound.size()) - 3)));
                break;
            case 1: // a count no file backs
                damaged = "2147483647" + sound.substr(sound.find('\r'));
                break;
            case 2: // a value no float holds
                damaged = sound.substr(0, sound.find('\n') + 1) + "nan " +
                          sound.substr(sound.find('\n') + 1);
                break;
            case 3: // not a ship file at all
                damaged = "#";
                for (int i = 0; i < 200; ++i)
                {
                    damaged += static_cast<char>(coordinate(0, 255));
                }
                break;
            default:
                damaged = "";
                break;
        }
        ASSERT_TRUE(editor.writeWorkFile("ship.hul", damaged));
        failedLoads++;
        tap(XK_0);
        ASSERT_TRUE(editor.waitForStderr("cannot load ship.hul", failedLoads));
        EXPECT_EQ(save(), sound) << "a failed load changed the ship; damaged file: [" << damaged
                                 << "]";
    }

    // Saves, and puts the base ship back when the saved one has grown too large.
    void saveAndCheck()
    {
        const std::string file = save();
        ShipFileContent content;
        std::string error;
        ASSERT_TRUE(parseShipFile(file, content, error)) << error << "\n" << file;
        if (content.triangles.size() > MOST_TRIANGLES ||
            content.attachments.size() > MOST_ATTACHMENTS)
        {
            resets++;
            const ShipFileContent base = baseShip();
            ASSERT_TRUE(
                editor.writeWorkFile("ship.hul", formatShipFile(base.triangles, base.attachments)));
            load();
        }
    }

    void randomAction()
    {
        const int x = coordinate(150, 750);
        const int y = coordinate(150, 750);
        const int pick = coordinate(0, 99);
        if (pick < 28)
        {
            move(x, y);
            button(RIGHT, true);
            button(RIGHT, false);
        }
        else if (pick < 34)
        {
            down(XK_Control_L);
            move(x, y);
            button(RIGHT, true);
            button(RIGHT, false);
            up(XK_Control_L);
        }
        else if (pick < 46)
        {
            dragFrom(LEFT, x, y, chance(30));
        }
        else if (pick < 52)
        {
            down(XK_Control_L);
            dragFrom(LEFT, x, y, false);
            up(XK_Control_L);
        }
        else if (pick < 56)
        {
            down(XK_Shift_L);
            dragFrom(LEFT, x, y, false);
            up(XK_Shift_L);
        }
        else if (pick < 58)
        {
            dragFrom(MIDDLE, x, y, false);
        }
        else if (pick < 63)
        {
            tap(XK_Tab);
        }
        else if (pick < 66)
        {
            down(XK_Tab);
            tap(static_cast<unsigned long>(XK_a + coordinate(0, 25)));
            up(XK_Tab);
        }
        else if (pick < 72)
        {
            down(XK_Shift_L);
            tap(static_cast<unsigned long>(chance(20) ? XK_section : XK_a + coordinate(0, 25)));
            up(XK_Shift_L);
        }
        else if (pick < 80)
        {
            tap(XK_section);
        }
        else if (pick < 86)
        {
            tap(static_cast<unsigned long>(XK_a + coordinate(0, 25)));
        }
        else if (pick < 92)
        {
            saveAndCheck();
        }
        else if (pick < 96)
        {
            // ship.hul holds the last sound save here.
            load();
        }
        else
        {
            damagedLoad();
        }
    }

    std::mt19937 random;
    long events = 0;
    int saves = 0;
    int loads = 0;
    int failedLoads = 0;
    int resets = 0; // loads of the base ship after the ship grew too large
};
} // namespace

TEST_F(SoakTest, RandomRealInputKeepsTheEditorSoundAndItsMemoryBounded)
{
    using Clock = std::chrono::steady_clock;
    const int seconds = environmentNumber("GANTRIX_SOAK_SECONDS", 45);
    const int seed = environmentNumber("GANTRIX_SOAK_SEED", 1);
    ASSERT_GT(seconds, 0);
    random.seed(static_cast<unsigned>(seed));
    editor.setInputPause(Millis(2));
    const pid_t pid = editor.pid();
    ASSERT_GT(pid, 0);
    const long startKiB = residentKiB(pid);

    // Warm-up: the first quarter, at most 15 s, lets the allocator and the toolkit reach
    // their working size before the baseline is taken.
    const auto begin = Clock::now();
    const auto warmUpEnd =
        begin + std::min(std::chrono::seconds(15), std::chrono::seconds(seconds) / 4);
    const auto end = begin + std::chrono::seconds(seconds);
    long warmKiB = -1;
    long actions = 0;
    // Starts from a known ship file, so that every plain load reads a sound one.
    saveAndCheck();
    while (Clock::now() < end && !HasFatalFailure())
    {
        randomAction();
        actions++;
        if (warmKiB < 0 && Clock::now() >= warmUpEnd)
        {
            warmKiB = residentKiB(pid);
        }
        if (actions % 50 == 0)
        {
            ASSERT_TRUE(editor.isAlive()) << "after " << actions << " actions";
        }
    }
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(editor.waitForFrames(2));
    const long endKiB = residentKiB(pid);
    const double ran = std::chrono::duration<double>(Clock::now() - begin).count();

    // The ship as it stands saves, loads and saves again to the same ship. A coordinate off
    // the grid is stored with six decimals and read back in single precision, so the
    // first load may round it; from there on the file is the same byte for byte.
    const std::string first = save();
    load();
    ASSERT_TRUE(editor.waitForFrames(2));
    const std::string second = save();
    load();
    ASSERT_TRUE(editor.waitForFrames(2));
    const std::string third = save();
    ShipFileContent firstShip;
    ShipFileContent secondShip;
    std::string error;
    ASSERT_TRUE(parseShipFile(first, firstShip, error)) << error;
    ASSERT_TRUE(parseShipFile(second, secondShip, error)) << error;
    EXPECT_EQ(describe(secondShip), describe(firstShip));
    EXPECT_EQ(third, second);

    EXPECT_TRUE(editor.isAlive());
    const std::string errors = editor.stderrText();
    EXPECT_FALSE(holdsSanitizerReport(errors)) << errors;
    // Nothing but the failed loads' own lines reached stderr.
    std::istringstream errorLines(errors);
    std::string line;
    int lines = 0;
    while (std::getline(errorLines, line))
    {
        EXPECT_EQ(line.rfind("gantrix: cannot load ship.hul in ", 0), 0u) << line;
        lines++;
    }
    EXPECT_EQ(lines, failedLoads);

    ASSERT_GT(warmKiB, 0) << "the run ended before its warm-up did";
    ASSERT_GT(endKiB, 0);
    const long allowed =
        warmKiB + std::max(RSS_SLACK_KIB, static_cast<long>(warmKiB * RSS_SLACK_FACTOR));
    EXPECT_LE(endKiB, allowed) << "resident memory grew from " << warmKiB
                               << " KiB after warm-up to " << endKiB << " KiB at the end";

    std::printf("soak: seed %d, %.1f s, %ld actions, %ld input events, %d saves, %d loads (%d "
                "of them back to the base ship), %d failed loads; final ship %zu triangles, %zu "
                "attachments; resident memory %ld KiB at start, %ld KiB after warm-up, %ld KiB "
                "at the end\n",
                seed, ran, actions, events, saves, loads, resets, failedLoads,
                firstShip.triangles.size(), firstShip.attachments.size(), startKiB, warmKiB,
                endKiB);
}
