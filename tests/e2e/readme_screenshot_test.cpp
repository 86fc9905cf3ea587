// The picture in the README: a small ship loaded from a file, with attachments of both
// colours and their labels, and a triangle in progress. The test checks that each of
// those shows, and writes the picture to $GANTRIX_SCREENSHOT when that is set:
//   GANTRIX_SCREENSHOT=$PWD/docs/screenshot.png build/tests/e2e/readme_screenshot_test

#include "editor_session.h"

#include <X11/keysym.h>
#include <cstdlib>
#include <png.h>
#include <vector>

namespace
{
constexpr int RIGHT = 3;

// A hull, a nose and two fins; attachments E and L with the flag set (magenta), G and the
// section sign with it clear (red), each near an outer edge.
const char* const SHIP =
    "5\r\n"
    "-37.500000 -50.000000 37.500000 -50.000000 37.500000 25.000000 28.125000\r\n"
    "-37.500000 -50.000000 37.500000 25.000000 -37.500000 25.000000 28.125000\r\n"
    "-37.500000 25.000000 37.500000 25.000000 0.000000 75.000000 18.750000\r\n"
    "-37.500000 -50.000000 -37.500000 0.000000 -75.000000 -62.500000 9.375000\r\n"
    "37.500000 -50.000000 75.000000 -62.500000 37.500000 0.000000 9.375000\r\n"
    "4\r\n"
    "0.000000 -65.000000 69 9999 9999 1\r\n"
    "31.250000 58.000000 71 9999 9999 0\r\n"
    "-70.000000 -22.000000 76 9999 9999 1\r\n"
    "70.000000 -22.000000 167 9999 9999 0\r\n";

// Window pixel of a world position in the first view.
int px(double wx)
{
    return static_cast<int>((wx + 150.0) * 3.0);
}
int py(double wy)
{
    return static_cast<int>((150.0 - wy) * 3.0);
}

int countColour(const WindowImage& image, const Rgb& colour)
{
    int count = 0;
    for (int y = 0; y < image.height; ++y)
    {
        for (int x = 0; x < image.width; ++x)
        {
            count += image.pixel(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}
} // namespace

TEST_F(EditorTest, ReadmeScreenshotShowsAShipWithMarkersAndLabels)
{
    ASSERT_TRUE(editor.writeWorkFile("ship.hul", SHIP));
    ASSERT_TRUE(editor.keyTap(XK_0));
    ASSERT_TRUE(editor.waitForStdout("LOADED!"));
    // Two points of the next triangle.
    ASSERT_TRUE(editor.click(RIGHT, px(100), py(50)));
    ASSERT_TRUE(editor.click(RIGHT, px(125), py(50)));
    // Clear of the window's bottom-right corner, where the frame probe paints.
    ASSERT_TRUE(editor.moveTo(px(110), py(-100)));
    ASSERT_TRUE(editor.waitForFrames(3));
    const WindowImage image = editor.grab();
    ASSERT_EQ(image.width, 900);
    ASSERT_EQ(image.height, 900);

    // Pending points yellow, bound markers magenta and red with cyan links, white labels.
    EXPECT_EQ(image.pixel(px(100), py(50)), (Rgb{255, 255, 0}));
    EXPECT_EQ(image.pixel(px(125), py(50)), (Rgb{255, 255, 0}));
    EXPECT_GT(countColour(image, {255, 0, 255}), 200);
    EXPECT_GT(countColour(image, {255, 0, 0}), 200);
    EXPECT_GT(countColour(image, {0, 255, 255}), 200);
    EXPECT_GT(countColour(image, {255, 255, 255}), 20);
    // Inside the hull the fill is green.
    const Rgb hull = image.pixel(px(-10), py(-20));
    EXPECT_GT(hull.g, 100) << hull;
    EXPECT_EQ(hull.r, 0) << hull;
    EXPECT_EQ(hull.b, 0) << hull;

    const char* path = std::getenv("GANTRIX_SCREENSHOT");
    const std::string target =
        path != nullptr && *path != '\0' ? path : editor.workDir() + "/screenshot.png";
    ASSERT_TRUE(image.writePng(target)) << target;

    // The file holds exactly the window's picture.
    png_image read = {};
    read.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&read, target.c_str()), 0) << read.message;
    read.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(read));
    ASSERT_NE(png_image_finish_read(&read, nullptr, pixels.data(), 0, nullptr), 0) << read.message;
    EXPECT_EQ(static_cast<int>(read.width), image.width);
    EXPECT_EQ(static_cast<int>(read.height), image.height);
    EXPECT_TRUE(pixels == image.rgb);
}
