// The Windows console lines: a stream that takes nothing never makes a caller wait, and every
// line is either written whole and in order or counted as dropped.

#include "platform/console.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>

namespace
{
using Clock = std::chrono::steady_clock;

// Appends what the pipe holds now to `text`, without waiting for more.
void readAvailable(HANDLE pipe, std::string& text)
{
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0)
    {
        char buffer[4096];
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer < available ? sizeof buffer : available, &got,
                      nullptr))
        {
            return;
        }
        text.append(buffer, got);
    }
}

int countLines(const std::string& text)
{
    int lines = 0;
    for (char c : text)
    {
        lines += c == '\n' ? 1 : 0;
    }
    return lines;
}
} // namespace

TEST(ConsoleLines, AStreamNobodyReadsStallsNoCallerAndDroppedLinesAreCounted)
{
    // Both streams become pipes of this test before the first line, which is when the
    // console takes its handles. Nobody reads standard output until every line is written.
    HANDLE outRead = nullptr;
    HANDLE outWrite = nullptr;
    HANDLE errRead = nullptr;
    HANDLE errWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&outRead, &outWrite, nullptr, 4096));
    ASSERT_TRUE(CreatePipe(&errRead, &errWrite, nullptr, 64 * 1024));
    ASSERT_TRUE(SetStdHandle(STD_OUTPUT_HANDLE, outWrite));
    ASSERT_TRUE(SetStdHandle(STD_ERROR_HANDLE, errWrite));

    // Far more than any pipe holds without a reader, so most lines must find the queue full.
    constexpr int LINES = 200;
    constexpr size_t LINE_LENGTH = 1000;
    std::atomic<bool> done{false};
    std::thread caller(
        [&done]()
        {
            for (int i = 0; i < LINES; ++i)
            {
                std::string line = "line " + std::to_string(1000 + i) + " ";
                line.resize(LINE_LENGTH, '.');
                writeStatusLine(line.c_str());
            }
            done = true;
        });
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    while (!done && Clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!done)
    {
        caller.detach(); // it is stuck in a write; the test process ends with it
        FAIL() << "writing a line waited for a stream nobody reads";
    }
    caller.join();

    // Once standard output is read, what was queued goes out, and the error stream says how
    // many lines found the queue full each time the output took lines again: every line is
    // either on standard output or in a count.
    std::string out;
    std::string err;
    int dropped = 0;
    while (Clock::now() < deadline)
    {
        readAvailable(outRead, out);
        readAvailable(errRead, err);
        dropped = 0;
        for (size_t at = err.find("gantrix: "); at != std::string::npos;
             at = err.find("gantrix: ", at + 1))
        {
            dropped += std::atoi(err.c_str() + at + 9);
        }
        if (countLines(out) + dropped >= LINES)
        {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(dropped, LINES / 2);
    ASSERT_EQ(countLines(out) + dropped, LINES) << err;
    size_t at = 0;
    while (at < err.size())
    {
        const size_t end = err.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << err;
        const std::string notice = err.substr(at, end - at);
        const int count = std::atoi(notice.c_str() + 9);
        EXPECT_EQ(notice, "gantrix: " + std::to_string(count) +
                              (count == 1 ? " console line dropped" : " console lines dropped"));
        at = end + 2;
    }

    // Whole lines, in the order they were written, each one no more than once.
    int previous = -1;
    at = 0;
    for (int line = 0; line < countLines(out); ++line)
    {
        const size_t end = out.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const int number = std::atoi(out.c_str() + at + 5);
        EXPECT_GT(number, previous);
        EXPECT_EQ(end - at, LINE_LENGTH) << out.substr(at, 20);
        previous = number;
        at = end + 2;
    }
}

namespace
{
// Matches a captured stream in which `text` does not appear.
class LacksText : public testing::MatcherInterface<const std::string&>
{
  public:
    explicit LacksText(std::string text) : text_(std::move(text)) {}
    bool MatchAndExplain(const std::string& captured,
                         testing::MatchResultListener* listener) const override
    {
        *listener << "which is \"" << captured << "\"";
        return captured.find(text_) == std::string::npos;
    }
    void DescribeTo(std::ostream* os) const override
    {
        *os << "lacks \"" << text_ << "\"";
    }

  private:
    std::string text_;
};

// Writes many lines with neither standard stream there, in a process of its own so that the
// console meets the missing streams at its first line; ends with 0 once every call returned,
// or 2 when one has not returned after 30 seconds.
void writeWithoutStreams()
{
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
    std::atomic<bool> done{false};
    std::thread caller(
        [&done]()
        {
            startConsoleLines();
            for (int i = 0; i < 200; ++i)
            {
                writeStatusLine("SAVED!");
                writeErrorLine(std::string("gantrix: no stream ") + std::to_string(i));
                writeErrorLine("gantrix: no stream at all");
            }
            done = true;
        });
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    while (!done && Clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!done)
    {
        std::_Exit(2);
    }
    caller.join();
    std::exit(0);
}
} // namespace

// A program started without standard streams (or with them closed) drops its lines: no call
// waits or fails, the exit is not held up, and no line turns up on the C runtime's error
// stream, which still leads where the program's stream first led.
TEST(ConsoleLinesDeathTest, WithoutStreamsLinesAreDroppedAndNothingWaits)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(writeWithoutStreams(), testing::ExitedWithCode(0),
                testing::Matcher<const std::string&>(new LacksText("no stream")));
}
