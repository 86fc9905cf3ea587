// libFuzzer target over the ship file reader. Any input the reader accepts must save back
// to a file that loads again, and a rejected input must change nothing. A broken property
// aborts, which libFuzzer reports as a crash and keeps the input that caused it.

#include "edit/save_load.h"
#include "model/ship.h"
#include "shipfile/ship_file.h"
#include "tests/ship_setup.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

static void require(bool condition, const char* property, std::string_view input)
{
    if (!condition)
    {
        std::fprintf(stderr, "ship_file_fuzz: property broken: %s\n", property);
        std::fprintf(stderr, "ship_file_fuzz: input (%zu bytes): [%.*s]\n", input.size(),
                     static_cast<int>(input.size()), input.data());
        std::abort();
    }
}

static bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The reader keeps single precision, widened to double.
static bool isWidenedFloat(double v)
{
    return std::isfinite(v) && sameBits(static_cast<double>(static_cast<float>(v)), v);
}

// "%f" keeps six decimals. A binary fraction with at most six bits after the point has at
// most six decimals, so a whole multiple of 1/64 (every grid coordinate among them) must come
// back to the bit; the scaling by a power of two is exact.
static bool heldBySixDecimals(double v)
{
    const double scaled = v * 64.0;
    return scaled == std::floor(scaled);
}

// Any other value comes back as the single-precision number nearest to its six-decimal text:
// off by at most half a unit of the sixth decimal plus half a float step.
static bool closeAfterSave(double before, double after)
{
    if (heldBySixDecimals(before))
    {
        return sameBits(before, after);
    }
    const float larger = static_cast<float>(std::fmax(std::fabs(before), std::fabs(after)));
    const double floatStep =
        static_cast<double>(std::nextafter(larger, INFINITY)) - static_cast<double>(larger);
    return std::fabs(after - before) <= 0.5e-6 + 0.5 * floatStep;
}

enum class Coordinates
{
    bitForBit,
    closeAfterSave,
};

static bool sameCoordinate(double a, double b, Coordinates rule)
{
    return rule == Coordinates::bitForBit ? sameBits(a, b) : closeAfterSave(a, b);
}

static bool sameShip(const ShipFileContent& a, const ShipFileContent& b, Coordinates rule)
{
    bool same =
        a.triangles.size() == b.triangles.size() && a.attachments.size() == b.attachments.size();
    for (size_t i = 0; same && i < a.triangles.size(); ++i)
    {
        for (int k = 0; k < 3; ++k)
        {
            same = same &&
                   sameCoordinate(a.triangles[i].corners[k].x, b.triangles[i].corners[k].x, rule) &&
                   sameCoordinate(a.triangles[i].corners[k].y, b.triangles[i].corners[k].y, rule);
        }
    }
    for (size_t j = 0; same && j < a.attachments.size(); ++j)
    {
        const Attachment& p = a.attachments[j];
        const Attachment& q = b.attachments[j];
        same = p.key == q.key && p.modeFlag == q.modeFlag && sameCoordinate(p.x, q.x, rule) &&
               sameCoordinate(p.y, q.y, rule) && p.triangle == q.triangle && p.edge == q.edge;
    }
    return same;
}

static bool wellFormed(const ShipFileContent& c)
{
    bool ok = true;
    for (const Triangle& t : c.triangles)
    {
        for (const Vec2& corner : t.corners)
        {
            ok = ok && isWidenedFloat(corner.x) && isWidenedFloat(corner.y);
        }
    }
    for (const Attachment& a : c.attachments)
    {
        ok = ok && isWidenedFloat(a.x) && isWidenedFloat(a.y) && a.triangle == NO_EDGE &&
             a.edge == NO_EDGE;
    }
    return ok;
}

static bool oneLine(const std::string& error)
{
    return !error.empty() && error.find('\n') == std::string::npos &&
           error.find('\0') == std::string::npos;
}

// Something for a parse to overwrite, so that "left empty" is seen to be done by the reader.
static ShipFileContent leftovers()
{
    ShipFileContent c;
    c.triangles.resize(1);
    c.triangles[0].corners[1].x = 3.125;
    c.attachments.resize(1);
    c.attachments[0].key = 'q';
    return c;
}

// The ship in memory before a load: a bound attachment and a half-built triangle, which a
// rejected load must keep and a good load must replace and discard.
static void setEditorShip()
{
    Ship& s = ship;
    s = Ship{};
    Triangle t;
    t.corners[0] = {0.0, 0.0};
    t.corners[1] = {25.0, 0.0};
    t.corners[2] = {0.0, 25.0};
    s.triangles.push_back(t);
    Attachment a;
    a.key = 0xA7;
    a.x = 12.5;
    a.y = -1.0 / 3.0;
    a.triangle = 0;
    a.edge = 1;
    a.modeFlag = true;
    s.attachments.push_back(a);
    s.pendingPoints.push_back({6.25, 9.375});
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    ShipFileContent content = leftovers();
    std::string error = "stale";
    const bool accepted = parseShipFile(input, content, error);

    // The in-memory load must agree with the reader and touch the ship only on success.
    setEditorShip();
    const Ship before = ship;
    const EditorState editorBefore = editor;
    std::string loadError;
    const bool loaded = loadShipFromText(input, loadError);
    require(loaded == accepted, "loadShipFromText accepts exactly what parseShipFile accepts",
            input);
    require(editor.viewOrigin.x == editorBefore.viewOrigin.x &&
                editor.viewOrigin.y == editorBefore.viewOrigin.y &&
                editor.currentKey == editorBefore.currentKey &&
                editor.modeFlag == editorBefore.modeFlag,
            "a load leaves the editor state alone", input);

    ShipFileContent inMemory;
    inMemory.triangles = ship.triangles;
    inMemory.attachments = ship.attachments;

    if (!accepted)
    {
        require(content.triangles.empty() && content.attachments.empty(),
                "a rejected input leaves the parse result empty", input);
        require(oneLine(error), "a rejected input gives a one-line reason", input);
        require(loadError == error, "the load reports the reader's reason", input);

        ShipFileContent kept;
        kept.triangles = before.triangles;
        kept.attachments = before.attachments;
        require(sameShip(inMemory, kept, Coordinates::bitForBit) &&
                    ship.pendingPoints.size() == 1 &&
                    sameBits(ship.pendingPoints[0].x, before.pendingPoints[0].x) &&
                    sameBits(ship.pendingPoints[0].y, before.pendingPoints[0].y),
                "a rejected input leaves the ship as it was", input);
        return 0;
    }

    require(wellFormed(content), "an accepted ship holds finite floats and unbound attachments",
            input);
    require(sameShip(inMemory, content, Coordinates::bitForBit) && ship.pendingPoints.empty(),
            "a good load puts the parsed ship in memory and drops the pending points", input);

    // Save, then load the saved text.
    const std::string saved = formatShipFile(content.triangles, content.attachments);
    ShipFileContent reloaded = leftovers();
    std::string reloadError;
    require(parseShipFile(saved, reloaded, reloadError), "a saved ship loads again", input);
    require(sameShip(content, reloaded, Coordinates::closeAfterSave),
            "a saved ship loads back as the same ship (six decimals kept)", input);

    // From the first save on, a save and a load change nothing at all.
    const std::string savedAgain = formatShipFile(reloaded.triangles, reloaded.attachments);
    ShipFileContent third;
    require(parseShipFile(savedAgain, third, reloadError), "a saved ship loads again", input);
    require(sameShip(reloaded, third, Coordinates::bitForBit),
            "a ship that was saved once survives save and load to the bit", input);
    require(formatShipFile(third.triangles, third.attachments) == savedAgain,
            "a ship that was saved once saves to the same bytes", input);
    return 0;
}
