#include "address_limit.h"
#include "edit/save_load.h"
#include "shipfile/file_replacement.h"
#include "shipfile/ship_file.h"
#include "shipfile/text_reader.h"
#include "test_support.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

static Triangle triangle(double ax, double ay, double bx, double by, double cx, double cy)
{
    Triangle t;
    t.corners[0] = {ax, ay};
    t.corners[1] = {bx, by};
    t.corners[2] = {cx, cy};
    return t;
}

static Attachment attachment(unsigned char key, double x, double y, int tri, int edge, bool flag)
{
    Attachment a;
    a.key = key;
    a.x = x;
    a.y = y;
    a.triangle = tri;
    a.edge = edge;
    a.modeFlag = flag;
    return a;
}

static std::string describe(const ShipFileContent& c)
{
    return describe({}, c.triangles, c.attachments);
}

static mode_t permissionsOf(const std::string& path)
{
    struct stat st = {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

struct Output
{
    std::string out;
    std::string err;
};

static Output captured(void (*action)())
{
    CaptureStdout();
    CaptureStderr();
    action();
    Output o;
    o.out = GetCapturedStdout();
    o.err = GetCapturedStderr();
    return o;
}

// Runs `action` in a child process whose output goes to the captured streams, so that
// limits and identities set there do not leak into the other tests. Returns the child's
// exit status as waitpid reports it.
static int inChild(const std::function<void()>& action, Output& output)
{
    CaptureStdout();
    CaptureStderr();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
    {
        action();
        _exit(0);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    output.out = GetCapturedStdout();
    output.err = GetCapturedStderr();
    return status;
}

static const char* const EXAMPLE_FILE =
    "1\r\n"
    "0.000000 0.000000 25.000000 0.000000 0.000000 25.000000 3.125000\r\n"
    "1\r\n"
    "12.500000 0.000000 97 0 0 1\r\n";

class ShipFileTest : public ScratchFolderTest
{
};

TEST_F(ShipFileTest, WritesTheStoredLayoutByteForByte)
{
    ship.triangles = {triangle(0, 0, 25, 0, 0, 25)};
    ship.attachments = {attachment(97, 12.5, 0, 0, 0, true)};
    ship.pendingPoints = {{3.125, 6.25}};
    const Output o = captured(saveShip);
    EXPECT_EQ(o.out, "SAVED!\n");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(readFile("ship.hul"), EXAMPLE_FILE);
    EXPECT_EQ(readFile("ship.hul").size(), 101u);

    EXPECT_EQ(formatShipFile({}, {}), "0\r\n0\r\n");

    // Keys above 127 are unsigned; unbound attachments carry 9999; a clear flag is 0.
    EXPECT_EQ(formatShipFile({}, {attachment(0xA7, -3.125, 2097150, NO_EDGE, NO_EDGE, false),
                                  attachment(255, 0.1, -0.0, 3, 2, true)}),
              "0\r\n2\r\n"
              "-3.125000 2097150.000000 167 9999 9999 0\r\n"
              "0.100000 -0.000000 255 3 2 1\r\n");

    // The area does not depend on the corner order.
    EXPECT_EQ(
        formatShipFile({triangle(0, 25, 25, 0, 0, 0), triangle(-3.125, -3.125, 0, 0, 0, 0)}, {}),
        "2\r\n"
        "0.000000 25.000000 25.000000 0.000000 0.000000 0.000000 3.125000\r\n"
        "-3.125000 -3.125000 0.000000 0.000000 0.000000 0.000000 0.000000\r\n"
        "0\r\n");

    // Cross terms 2^53, 1 and -2^53: adding the first two before the third loses the 1, so
    // the stored area is 0 although the exact one is 0.005.
    const double c = -1.0 / 67108864.0;
    EXPECT_EQ(formatShipFile({triangle(134217728.0, 0, 0, 67108864.0, c, 67108864.0)}, {}),
              "1\r\n134217728.000000 0.000000 0.000000 67108864.000000 -0.000000 67108864.000000 "
              "0.000000\r\n0\r\n");
}

static void appendPrintf(std::string& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

static void appendPrintf(std::string& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    va_start(args, format);
    std::vsnprintf(&out[start], static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    out.resize(start + static_cast<size_t>(length));
}

// The writer done with the C library's printf, the plain reference for the faster one.
static std::string printfShipFile(const std::vector<Triangle>& triangles,
                                  const std::vector<Attachment>& attachments)
{
    std::string out;
    appendPrintf(out, "%i\r\n", static_cast<int>(triangles.size()));
    for (const Triangle& t : triangles)
    {
        for (const Vec2& corner : t.corners)
        {
            appendPrintf(out, "%f %f ", corner.x, corner.y);
        }
        appendPrintf(out, "%f\r\n", (std::fabs(doubleSignedArea(t)) * 0.5) / 100.0);
    }
    appendPrintf(out, "%i\r\n", static_cast<int>(attachments.size()));
    for (const Attachment& a : attachments)
    {
        appendPrintf(out, "%f %f %i %i %i %i\r\n", a.x, a.y, static_cast<int>(a.key), a.triangle,
                     a.edge, a.modeFlag ? 1 : 0);
    }
    return out;
}

// Doubles of every kind "%f" must write exactly: any bit pattern (huge values with hundreds of
// digits, subnormals, inf and nan), ties at the sixth decimal (odd multiples of 2^-7) and
// their neighbours, values near half a millionth, grid and everyday values.
static double testDouble(std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const uint64_t bits = rng();
    const double sign = (bits & 1) ? -1.0 : 1.0;
    double value = 0.0;
    switch (rng() % 8)
    {
        case 0:
            std::memcpy(&value, &bits, sizeof value);
            break;
        case 1:
        {
            // An exact tie: an odd number of 128ths.
            const double tie = std::ldexp(static_cast<double>((bits >> 12) | 1), -7) * sign;
            const int step = static_cast<int>(rng() % 3) - 1;
            value = step == 0 ? tie : std::nextafter(tie, step * INFINITY);
            break;
        }
        case 2:
            value =
                sign * std::ldexp(static_cast<double>(bits >> 11), -static_cast<int>(rng() % 80));
            break;
        case 3:
            value = sign * (static_cast<double>(rng() % 10000000) + 0.5) * 1e-6 *
                    (1.0 + (unit(rng) - 0.5) * 1e-12);
            break;
        case 4:
            value = sign * 5e-7 * (1.0 + (unit(rng) - 0.5) * 1e-9) *
                    std::ldexp(1.0, -static_cast<int>(rng() % 3));
            break;
        case 5:
            value = sign * std::pow(10.0, unit(rng) * 60.0 - 30.0);
            break;
        case 6:
            value = sign * 3.125 * static_cast<double>(rng() % 1342178);
            break;
        default:
        {
            const double special[] = {0.0, DBL_MAX,  DBL_MIN, DBL_TRUE_MIN,       1e-6,  0.5e-6,
                                      0.1, INFINITY, NAN,     9007199254740991.0, 4.5e15};
            value = sign * special[rng() % (sizeof special / sizeof special[0])];
            break;
        }
    }
    return value;
}

// The writer gives the bytes of the printf one, checked on 1.35 million doubles.
TEST_F(ShipFileTest, WritesWhatPrintfWrites)
{
    std::mt19937_64 rng(20240611);
    for (int ship = 0; ship < 100; ++ship)
    {
        std::vector<Triangle> triangles(1500);
        for (Triangle& t : triangles)
        {
            for (Vec2& corner : t.corners)
            {
                corner = {testDouble(rng), testDouble(rng)};
            }
        }
        std::vector<Attachment> attachments(1500);
        for (Attachment& a : attachments)
        {
            a = attachment(static_cast<unsigned char>(rng()), testDouble(rng), testDouble(rng),
                           static_cast<int>(rng() % 4000) - 2000, static_cast<int>(rng()),
                           rng() % 2);
        }
        attachments[0].triangle = INT_MIN;
        attachments[0].edge = INT_MAX;
        const std::string fast = formatShipFile(triangles, attachments);
        const std::string reference = printfShipFile(triangles, attachments);
        if (fast != reference)
        {
            const size_t at = static_cast<size_t>(
                std::mismatch(fast.begin(), fast.end(), reference.begin(), reference.end()).first -
                fast.begin());
            const size_t line = reference.rfind('\n', at) + 1;
            FAIL() << "ship " << ship << " differs at byte " << at << ":\n"
                   << fast.substr(line, reference.find('\n', at) - line) << "\n"
                   << reference.substr(line, reference.find('\n', at) - line);
        }
    }
}

TEST_F(ShipFileTest, SaveThenLoadKeepsTheShip)
{
    ship.triangles = {triangle(0, 0, 25, 0, 0, 25), triangle(0, 0, 0, 25, 25, 0),
                      triangle(-2097150, 2097150, 2097146.875, -3.125, 6.25, -2097150)};
    ship.attachments = {attachment(97, 12.5, 0, 0, 0, true),
                        attachment(0xA7, -6.25, 2097150, 2, 1, false),
                        attachment(0, 0.1, 1234.56789, NO_EDGE, NO_EDGE, true)};
    const Ship saved = ship;
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    const std::string firstFile = readFile("ship.hul");

    ship.pendingPoints = {{3.125, 3.125}, {6.25, 6.25}};
    ship.triangles.push_back(triangle(1, 2, 3, 4, 5, 6));
    ship.attachments.clear();
    const Output o = captured(loadShip);
    EXPECT_EQ(o.out, "LOADED!\n");
    EXPECT_EQ(o.err, "");

    EXPECT_TRUE(ship.pendingPoints.empty());
    ASSERT_EQ(ship.triangles.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
    {
        for (int k = 0; k < 3; ++k)
        {
            EXPECT_EQ(ship.triangles[i].corners[k].x, saved.triangles[i].corners[k].x) << i;
            EXPECT_EQ(ship.triangles[i].corners[k].y, saved.triangles[i].corners[k].y) << i;
        }
    }
    ASSERT_EQ(ship.attachments.size(), 3u);
    const unsigned char keys[] = {97, 0xA7, 0};
    const bool flags[] = {true, false, true};
    for (size_t j = 0; j < 3; ++j)
    {
        EXPECT_EQ(ship.attachments[j].key, keys[j]) << j;
        EXPECT_EQ(ship.attachments[j].modeFlag, flags[j]) << j;
        EXPECT_EQ(ship.attachments[j].triangle, NO_EDGE) << j;
        EXPECT_EQ(ship.attachments[j].edge, NO_EDGE) << j;
    }
    EXPECT_EQ(ship.attachments[1].x, -6.25);
    EXPECT_EQ(ship.attachments[1].y, 2097150.0);
    // Off the grid, a position comes back as the float nearest to its six-decimal text.
    EXPECT_EQ(ship.attachments[2].x, static_cast<double>(0.1f));
    EXPECT_EQ(ship.attachments[2].y, static_cast<double>(1234.56789f));
    EXPECT_NE(ship.attachments[2].x, 0.1);

    // Loading twice gives the same ship; the next save writes the loaded attachments unbound.
    const std::string once = describe(ship);
    ASSERT_EQ(captured(loadShip).out, "LOADED!\n");
    EXPECT_EQ(describe(ship), once);
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    const std::string secondFile = readFile("ship.hul");
    const size_t trianglesEnd = firstFile.find("\r\n3\r\n");
    ASSERT_NE(trianglesEnd, std::string::npos);
    EXPECT_EQ(secondFile.substr(0, trianglesEnd), firstFile.substr(0, trianglesEnd));
    EXPECT_NE(secondFile.find("\r\n12.500000 0.000000 97 9999 9999 1\r\n"), std::string::npos);
    EXPECT_NE(secondFile.find("\r\n-6.250000 2097150.000000 167 9999 9999 0\r\n"),
              std::string::npos);

    // A smaller ship leaves nothing of the larger one behind.
    ship = Ship{};
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    EXPECT_EQ(readFile("ship.hul"), "0\r\n0\r\n");
    ship.pendingPoints = {{1, 1}};
    ASSERT_EQ(captured(loadShip).out, "LOADED!\n");
    EXPECT_EQ(describe(ship), "");
}

// Corners near the float limit make the stored area, computed in double, larger than any
// float; the file must still load, to the same corners.
TEST_F(ShipFileTest, ShipWithCornersNearTheFloatLimitLoadsBack)
{
    const double big = static_cast<double>(3.0e38f);
    ship.triangles = {triangle(0, 0, big, 0, 0, big), triangle(0, 0, 25, 0, 0, 25)};
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    const std::string file = readFile("ship.hul");
    // The area, about 4.5e74, is written in full.
    ASSERT_NE(file.find(" 450000001649326706749279792891399032071050024130725600832632814148178"),
              std::string::npos)
        << file;

    ship = Ship{};
    const Output o = captured(loadShip);
    EXPECT_EQ(o.out, "LOADED!\n");
    EXPECT_EQ(o.err, "");
    ASSERT_EQ(ship.triangles.size(), 2u);
    EXPECT_EQ(ship.triangles[0].corners[1].x, big);
    EXPECT_EQ(ship.triangles[0].corners[2].y, big);
    EXPECT_EQ(ship.triangles[1].corners[2].y, 25.0);

    // Only the dropped area may be that large; a corner beyond the float limit is refused.
    writeFile("ship.hul", "1\r\n0 0 1e39 0 0 25 1\r\n0\r\n");
    EXPECT_EQ(captured(loadShip).err, failedLine("load") +
                                          "line 2: nan, infinity or a "
                                          "number beyond 3.4e38 (triangle 1 of 1)\n");
    EXPECT_EQ(ship.triangles.size(), 2u);
}

TEST_F(ShipFileTest, ReadsAnyWhiteSpaceAndEveryIntegerForm)
{
    ShipFileContent reference;
    std::string error;
    ASSERT_TRUE(parseShipFile(EXAMPLE_FILE, reference, error)) << error;
    EXPECT_EQ(describe(reference), "triangle 0x0p+0 0x0p+0 0x1.9p+4 0x0p+0 0x0p+0 0x1.9p+4\n"
                                   "attachment 97 0x1.9p+3 0x0p+0 9999 9999 1\n");
    const char* const layouts[] = {
        "1\n0 0 25 0 0 25 3.125\n1\n12.5 0 97 0 0 1\n",
        "1\t0\t0\t25\t0\t0\t25\t3.125\t1\t12.5\t0\t97\t0\t0\t1",
        "1 0.0 0 2.5e1 0 0 25.000 3.125000 1 12.5 0 97 0 0 1",
        "  \r\n\v\f 1 \r\r0 0\n\n25 0 0 25 99e9\t\t1 +12.5 0.0e0 0x61 00 0 1 \r\n\n\t ",
    };
    for (const char* text : layouts)
    {
        ShipFileContent content;
        EXPECT_TRUE(parseShipFile(text, content, error)) << text << ": " << error;
        EXPECT_EQ(describe(content), describe(reference)) << text;
    }

    // Counts and integers as scanf's %i reads them: octal after a 0, hexadecimal after 0x.
    // The key keeps its low 8 bits; any flag other than 0 is set. "1.5.25 08" reads as the
    // numbers 1.5, .25, 0 and 8, as scanf splits them.
    const std::string handWritten = "02\n"
                                    "0 0 25 0 0 25 1\n"
                                    "-0 -0 +3.125 0 0x1p2 -.5 0\n"
                                    "010\n"
                                    "1 2 010 0 0 2\n"
                                    "1 2 0x10 0 0 0x0\n"
                                    "1 2 353 0 0 -1\n"
                                    "1 2 -159 0 0 00\n"
                                    "1 2 0XfF 0 0 1\n"
                                    "1 2 0x 0 0 1\n"
                                    "1 2 +7 -2147483648 2147483647 1\n"
                                    "1.5.25 08 0 1\n";
    ShipFileContent content;
    ASSERT_TRUE(parseShipFile(handWritten, content, error)) << error;
    EXPECT_EQ(describe(content), "triangle 0x0p+0 0x0p+0 0x1.9p+4 0x0p+0 0x0p+0 0x1.9p+4\n"
                                 "triangle -0x0p+0 -0x0p+0 0x1.9p+1 0x0p+0 0x1p+2 -0x1p-1\n"
                                 "attachment 8 0x1p+0 0x1p+1 9999 9999 1\n"
                                 "attachment 16 0x1p+0 0x1p+1 9999 9999 0\n"
                                 "attachment 97 0x1p+0 0x1p+1 9999 9999 1\n"
                                 "attachment 97 0x1p+0 0x1p+1 9999 9999 0\n"
                                 "attachment 255 0x1p+0 0x1p+1 9999 9999 1\n"
                                 "attachment 0 0x1p+0 0x1p+1 9999 9999 1\n"
                                 "attachment 7 0x1p+0 0x1p+1 9999 9999 1\n"
                                 "attachment 0 0x1.8p+0 0x1p-2 9999 9999 1\n");

    ASSERT_TRUE(parseShipFile("0\r\n0\r\n", content, error)) << error;
    EXPECT_EQ(describe(content), "");

    // Through the file: a hand-written ship loads and is saved again in the writer's layout.
    writeFile("ship.hul", "1\n0\t0\t25 0 0 25 0\n1\n12.5 0 353 4 4 2");
    ASSERT_EQ(captured(loadShip).out, "LOADED!\n");
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    EXPECT_EQ(readFile("ship.hul"), "1\r\n"
                                    "0.000000 0.000000 25.000000 0.000000 0.000000 25.000000 "
                                    "3.125000\r\n"
                                    "1\r\n"
                                    "12.500000 0.000000 97 9999 9999 1\r\n");
}

// Hand-written files were read with the C library's scanf; tricky numbers must split and
// convert exactly as it does them.
TEST_F(ShipFileTest, SplitsNumbersWhereTheLibraryScanfDoes)
{
    const char* const floats[] = {
        "1e",    "1e+",    "1E-2x",    "0x",      "0x1p3",        "1e5.3",
        "5e-",   "0x1.p1", "0x1p+2.5", "0X1.8P1", "-.5",          "+.5e-1",
        ".",     "-",      "+-1",      "1.5.25",  "00012.5",      "1e5e3",
        ".e1",   "0x.8",   "0xg",      "3.",      "e5",           "1..2",
        "0x1e3", "0x1p",   "-0x",      "1e-50",   "3.4028235e38", "0x1P-149",
    };
    const char* const integers[] = {
        "0x", "0X1f", "-0x10", "017", "09",  "08",         "+",           "-",   "x1",
        "00", "1a",   "-0",    "+0x", "0xx", "0x7fffffff", "-2147483648", "+-1", "0x-1",
    };
    std::vector<std::string> texts;
    for (const char* f : floats)
    {
        texts.push_back(std::string("0 1 ") + f + " 7 9 0 0 1");
    }
    for (const char* i : integers)
    {
        texts.push_back(std::string("0 1 7 9 ") + i + " 0 0 1");
    }
    // Values longer than the reader's first copy of them, some with the exponent where that
    // copy ends, some with an exponent that has no digits.
    const std::string zeros(70, '0');
    const std::string cut(59, '0');
    for (const std::string& f : {"0." + cut + "1e+5", "0x" + cut + "1p+3", "0." + zeros + "5E-x",
                                 "0x" + zeros + "1p-", zeros + "1.5e", "-0x" + zeros + "."})
    {
        texts.push_back("0 1 " + f + " 7 9 0 0 1");
    }
    texts.push_back("0 1 7 9 " + zeros + "17 0 0 1");
    texts.push_back("0 1 7 9 0x" + zeros + "x 0 0 1");
    for (const std::string& text : texts)
    {
        int counts[2] = {};
        float position[2] = {};
        int values[4] = {};
        int used = -1;
        const int converted = std::sscanf(text.c_str(), "%i %i %f %f %i %i %i %i%n", &counts[0],
                                          &counts[1], &position[0], &position[1], &values[0],
                                          &values[1], &values[2], &values[3], &used);
        // A split that leaves a value over is text after the last record.
        const bool whole = converted == 8 && used == static_cast<int>(text.size());
        ShipFileContent content;
        std::string error;
        const bool parsed = parseShipFile(text, content, error);
        EXPECT_EQ(parsed, whole) << text << ": " << error;
        if (parsed && whole)
        {
            ASSERT_EQ(content.attachments.size(), 1u);
            const Attachment& a = content.attachments[0];
            EXPECT_EQ(a.x, static_cast<double>(position[0])) << text;
            EXPECT_EQ(a.y, static_cast<double>(position[1])) << text;
            EXPECT_EQ(a.key, static_cast<unsigned char>(values[0])) << text;
            EXPECT_EQ(a.modeFlag, values[3] != 0) << text;
        }
    }
}

TEST_F(ShipFileTest, RejectsDamagedFilesAndKeepsTheShip)
{
    ship.pendingPoints = {{3.125, 3.125}, {6.25, 0}};
    ship.triangles = {triangle(0, 0, 25, 0, 0, 25), triangle(0, 0, 0, -25, -25, 0)};
    ship.attachments = {attachment(97, 12.5, 0, 0, 0, true), attachment(0xA7, 1, 1, 1, 2, false)};
    const std::string before = describe(ship);

    const std::string tri = "0 0 25 0 0 25 3.125\r\n";
    const struct
    {
        std::string text;
        std::string reason;
    } damaged[] = {
        {"", "line 1: file ends early (triangle count)"},
        {"\r\n\r\n", "line 3: file ends early (triangle count)"},
        {"one\r\n0\r\n", "line 1: expected an integer (triangle count)"},
        {"-\r\n0\r\n", "line 1: expected an integer (triangle count)"},
        {"1\r\n0 0 25 zero 0 25 3.125\r\n0\r\n", "line 2: expected a number (triangle 1 of 1)"},
        {"2\n0 0 25 0 0 25 1\n0 0 25 0 0 x 1\n0\n", "line 3: expected a number (triangle 2 of 2)"},
        {"1\r\n0 0 25 0", "line 2: file ends early (triangle 1 of 1)"},
        {"2\r\n" + tri, "line 3: file ends early (triangle 2 of 2)"},
        {"1\r\n" + tri, "line 3: file ends early (attachment count)"},
        {"1\r\n" + tri + "x\r\n", "line 3: expected an integer (attachment count)"},
        {"0\r\n2\r\n12.5 0 97 0 0 1\r\n", "line 4: file ends early (attachment 2 of 2)"},
        {"0\r\n1\r\n12.5 0 97 0 0", "line 3: file ends early (attachment 1 of 1)"},
        {"0\r\n1\r\n12.5 0 a 0 0 1\r\n", "line 3: expected an integer (attachment 1 of 1)"},
        // A 0b prefix is no binary number: the 0 is the key, the b is not an integer.
        {"0\r\n1\r\n12.5 0 0b1 0 0 1\r\n", "line 3: expected an integer (attachment 1 of 1)"},
        {"0\r\n1\r\n12.5 - 97 0 0 1\r\n", "line 3: expected a number (attachment 1 of 1)"},
        {std::string("1\r\n0 0 25\0 0 0 25 3\r\n0\r\n", 23),
         "line 2: expected a number (triangle 1 of 1)"},
        // Values no float holds.
        {"1\r\nnan 0 25 0 0 25 1\r\n0\r\n",
         "line 2: nan, infinity or a number beyond 3.4e38 (triangle 1 of 1)"},
        {"1\r\n0 0 25 0 0 25 NaN\r\n0\r\n",
         "line 2: nan, infinity or a number beyond 3.4e38 (triangle 1 of 1)"},
        {"0\r\n1\r\n-inf 0 97 0 0 1\r\n",
         "line 3: nan, infinity or a number beyond 3.4e38 (attachment 1 of 1)"},
        {"0\r\n1\r\n0 INFINITY 97 0 0 1\r\n",
         "line 3: nan, infinity or a number beyond 3.4e38 (attachment 1 of 1)"},
        {"0\r\n1\r\n1e39 0 97 0 0 1\r\n",
         "line 3: nan, infinity or a number beyond 3.4e38 (attachment 1 of 1)"},
        {"1\r\n0 0 25 0 0 -4e38 1\r\n0\r\n",
         "line 2: nan, infinity or a number beyond 3.4e38 (triangle 1 of 1)"},
        // Integers beyond int.
        {"0\r\n1\r\n0 0 2147483648 0 0 1\r\n", "line 3: integer out of range (attachment 1 of 1)"},
        {"0\r\n1\r\n0 0 97 0 0 0x100000000\r\n",
         "line 3: integer out of range (attachment 1 of 1)"},
        {"-2147483649\r\n0\r\n", "line 1: integer out of range (triangle count)"},
        {"0\r\n99999999999999999999999\r\n", "line 2: integer out of range (attachment count)"},
        // A huge count backed by no records.
        {"2147483647\r\n" + tri + "0\r\n", "line 4: file ends early (triangle 2 of 2147483647)"},
        {"0\r\n2147483647\r\n", "line 3: file ends early (attachment 1 of 2147483647)"},
        // A count below zero, or text after the last record: a count was damaged and the
        // values that follow would land in the wrong fields.
        {"-3\n1\n1 2 97 5 1 0\n", "line 1: negative count (triangle count)"},
        {"0\r\n-2147483648\r\n", "line 2: negative count (attachment count)"},
        {"2\r\n" + tri + tri + "-50\r\n" + tri, "line 4: negative count (attachment count)"},
        {"0\r\n1\r\n12.5 0 97 0 0 1\r\n12.5 0 98 0 0 1\r\n", "line 4: text after the last record"},
        {"0\r\n0\r\n\x01", "line 3: text after the last record"},
    };
    for (const auto& d : damaged)
    {
        writeFile("ship.hul", d.text);
        const Output o = captured(loadShip);
        EXPECT_EQ(o.out, "") << d.text;
        EXPECT_EQ(o.err, failedLine("load") + d.reason + "\n") << d.text;
        EXPECT_EQ(describe(ship), before) << d.text;

        ShipFileContent content;
        content.triangles = {triangle(1, 1, 1, 1, 1, 1)};
        std::string error;
        EXPECT_FALSE(parseShipFile(d.text, content, error));
        EXPECT_EQ(describe(content), "") << d.text;
    }

    std::remove("ship.hul");
    Output o = captured(loadShip);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, failedLine("load") + "No such file or directory\n");
    EXPECT_EQ(describe(ship), before);

    ASSERT_EQ(mkdir("ship.hul", 0755), 0);
    o = captured(loadShip);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, failedLine("load") + "ship.hul is a folder, not a regular file\n");
    EXPECT_EQ(describe(ship), before);
    ASSERT_EQ(rmdir("ship.hul"), 0);

    // After all that, a sound file still loads.
    writeFile("ship.hul", EXAMPLE_FILE);
    EXPECT_EQ(captured(loadShip).out, "LOADED!\n");
    EXPECT_EQ(ship.triangles.size(), 1u);
}

// Damage a sound file one byte at a time: a deleted byte, or one replaced by a digit, a sign,
// a point, a letter or white space. Whatever loads must hold every record of the ship; a
// damaged count that quietly drops records would let the next save shrink the ship on disk.
TEST_F(ShipFileTest, NoOneByteDamageLoadsWithRecordsMissing)
{
    const std::vector<Triangle> triangles = {
        triangle(0, 0, 25, 0, 0, 25), triangle(25, 0, 25, 25, 0, 25),
        triangle(-50, -50, -25, -50, -50, -25), triangle(100, 3.125, 131.25, 3.125, 100, 40.625)};
    const std::vector<Attachment> attachments = {attachment(97, 12.5, -3, 0, 0, true),
                                                 attachment(0xA7, -40, -40, 2, 1, false),
                                                 attachment(65, 115, 0, 3, 0, true)};
    const std::string sound = formatShipFile(triangles, attachments);
    int variants = 0;
    int shrunk = 0;
    for (size_t at = 0; at < sound.size(); ++at)
    {
        std::vector<std::string> damaged = {sound.substr(0, at) + sound.substr(at + 1)};
        for (char c : std::string("0123456789-+.ex \n"))
        {
            if (sound[at] != c)
            {
                damaged.push_back(sound.substr(0, at) + c + sound.substr(at + 1));
            }
        }
        for (const std::string& text : damaged)
        {
            ShipFileContent content;
            std::string error;
            variants++;
            if (parseShipFile(text, content, error) &&
                (content.triangles.size() != triangles.size() ||
                 content.attachments.size() != attachments.size()))
            {
                shrunk++;
                ADD_FAILURE() << "loaded with records missing:\n" << text;
            }
        }
    }
    EXPECT_GT(variants, 6000);
    EXPECT_EQ(shrunk, 0) << "of " << variants << " one-byte variants";
}

TEST_F(ShipFileTest, SaveKeepsPermissionsAndLeavesNoTemporaryFile)
{
    writeFile("ship.hul", std::string(50000, 'x'));
    ASSERT_EQ(chmod("ship.hul", 0640), 0);
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    EXPECT_EQ(readFile("ship.hul"), "0\r\n0\r\n");
    EXPECT_EQ(permissionsOf("ship.hul"), 0640u);
    ASSERT_EQ(chmod("ship.hul", 0604), 0);
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    EXPECT_EQ(permissionsOf("ship.hul"), 0604u);
    EXPECT_EQ(sortedFolderEntries("."), std::vector<std::string>{"ship.hul"});

    // A new file gets what the user's umask leaves of 0666.
    const mode_t oldMask = umask(027);
    ASSERT_EQ(std::remove("ship.hul"), 0);
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    EXPECT_EQ(permissionsOf("ship.hul"), 0640u);
    umask(0);
    ASSERT_EQ(std::remove("ship.hul"), 0);
    ASSERT_EQ(captured(saveShip).out, "SAVED!\n");
    EXPECT_EQ(permissionsOf("ship.hul"), 0666u);
    umask(oldMask);

    // The temporary file is made in the target's own folder, so the rename stays atomic.
    ASSERT_EQ(mkdir("sub", 0755), 0);
    std::string error;
    EXPECT_TRUE(replaceFileContent("sub/ship.hul", "abc", error)) << error;
    EXPECT_EQ(readFile("sub/ship.hul"), "abc");
    EXPECT_EQ(sortedFolderEntries("sub"), std::vector<std::string>{"ship.hul"});
    EXPECT_FALSE(replaceFileContent("missing/ship.hul", "abc", error));
    EXPECT_EQ(error,
              "creating a temporary file beside missing/ship.hul: No such file or directory");
}

// The status lines must show when standard output is a pipe, even if the program is
// killed right after, so each is flushed where it is printed.
TEST_F(ShipFileTest, StatusLinesReachAPipeAtOnce)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
    {
        const auto mark = [](const char* text)
        {
            if (write(STDOUT_FILENO, text, 1) != 1)
            {
                _exit(4);
            }
        };
        dup2(ends[1], STDOUT_FILENO);
        close(ends[0]);
        // Unbuffered marks between the calls show that each line left at its own call.
        mark("[");
        saveShip();
        mark("|");
        loadShip();
        mark("]");
        _exit(0); // skips the flush that a normal exit would do
    }
    close(ends[1]);
    std::string received;
    char buffer[64];
    ssize_t n = 0;
    while ((n = read(ends[0], buffer, sizeof buffer)) > 0)
    {
        received.append(buffer, static_cast<size_t>(n));
    }
    close(ends[0]);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(received, "[SAVED!\n|LOADED!\n]");
}

// A load reads the file in pieces; every value must read as it does from the whole text in
// memory, wherever a piece ends inside it, and however long it is. Each text is moved by
// leading spaces so that each of its bytes in turn falls at the end of a piece.
TEST_F(ShipFileTest, LoadsInPiecesExactlyAsFromMemory)
{
    const std::string zeros(150000, '0');
    const std::vector<std::string> texts = {
        EXAMPLE_FILE,
        "0x1\r\n1e+5 0x1.8p3 -0x.8 1.5e-3 .25 +7 1e+\r\n0\r\n",
        "1\r\n0x. 0 1.5.25 0 0 -0 7E-\r\n1\r\n-1e1 2 0xa7 010 -0 0x\r\n",
        "1\r\n0x 0 0 0 0 0 0\r\n0\r\n",
        "1\r\n0 0 nan 0 0 0 0\r\n0\r\n",
        "2\r\n0 0 0 0 0 0 0\r\n",
        "0\r\n0\r\n   12",
        "1\r\n0." + zeros + "1 0 0 0 0 0 0\r\n0\r\n",
        "1\r\n1" + zeros + " 0 0 0 0 0 0\r\n0\r\n",
        "1\r\n0 0 0 0 0 0 0\r\n1\r\n1 2 3 4 5 0" + zeros + "1\r\n",
    };
    const Ship before = []
    {
        Ship s;
        s.triangles = {triangle(0, 0, 6.25, 0, 0, 6.25)};
        return s;
    }();
    for (const std::string& text : texts)
    {
        // A long text's own values cross many piece ends already.
        const size_t span = text.size() > 1000 ? 40 : text.size();
        for (size_t pad = READ_PIECE_SIZE - span - 2; pad <= READ_PIECE_SIZE + 1; ++pad)
        {
            const std::string file = std::string(pad, ' ') + text;
            writeFile("ship.hul", file);
            ShipFileContent expected;
            std::string error;
            const bool valid = parseShipFile(file, expected, error);
            ship = before;
            const Output o = captured(loadShip);
            const std::string where = "pad " + std::to_string(pad) + ": " + text.substr(0, 60);
            if (valid)
            {
                ASSERT_EQ(o.out, "LOADED!\n") << where << " " << o.err;
                EXPECT_EQ(formatShipFile(ship.triangles, ship.attachments),
                          formatShipFile(expected.triangles, expected.attachments))
                    << where;
            }
            else
            {
                ASSERT_EQ(o.err, failedLine("load") + error + "\n") << where;
                EXPECT_EQ(describe(ship), describe(before)) << where;
            }
        }
    }
}

// A load that cannot get the memory for the new ship, or for what the editor needs to show it,
// fails with one line and leaves the old ship. The address-space limit that provokes this
// cannot be set under AddressSanitizer, whose shadow memory alone is far larger.
TEST_F(ShipFileTest, LoadShortOfMemoryKeepsTheShip)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "an address-space limit does not work under AddressSanitizer";
#endif
    // Enough triangles that 8 MiB cannot hold them and 44 MiB cannot hold their binding too.
    const int count = 500000;
    std::string file = std::to_string(count) + "\r\n";
    for (int i = 0; i < count; ++i)
    {
        file += "0 0 1 0 0 1 0\r\n";
    }
    file += "0\r\n";
    writeFile("ship.hul", file);
    ship.triangles = {triangle(0, 0, 6.25, 0, 0, 6.25)};
    const std::string kept = describe(ship);
    struct Case
    {
        long spareMb; // address space left above what the process has mapped
        const char* error;
    };
    for (const Case c :
         {Case{8, "out of memory for a ship this large"},
          Case{44, "out of memory for a ship of 500000 triangles"}, Case{4096, nullptr}})
    {
        Output o;
        const int status = inChild(
            [&c, &kept]
            {
                if (!limitAddressSpaceAbove(c.spareMb * 1024 * 1024))
                {
                    _exit(3);
                }
                loadShip();
                const bool loaded = ship.triangles.size() == 500000;
                _exit(c.error == nullptr ? (loaded ? 0 : 4) : (describe(ship) == kept ? 0 : 5));
            },
            o);
        ASSERT_TRUE(WIFEXITED(status)) << c.spareMb << " MB: " << status;
        EXPECT_EQ(WEXITSTATUS(status), 0) << c.spareMb << " MB";
        if (c.error != nullptr)
        {
            EXPECT_EQ(o.out, "") << c.spareMb << " MB";
            EXPECT_EQ(o.err, failedLine("load") + c.error + "\n") << c.spareMb << " MB";
        }
        else
        {
            EXPECT_EQ(o.out, "LOADED!\n");
            EXPECT_EQ(o.err, "");
        }
    }
}
