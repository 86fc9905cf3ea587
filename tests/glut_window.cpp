#include "tests/glut_window.h"

#include "app/callbacks.h"
#include "model/ship.h"

#include <GL/freeglut.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace
{
bool windowShown = false;
bool windowReshaped = false;

void noteShown()
{
    windowShown = true;
}

// The editor's own reshape, noting that it ran.
void reshapeAndNote(int width, int height)
{
    onReshape(width, height);
    windowReshaped = true;
}
} // namespace

void EditorWindowEnvironment::SetUp()
{
    // CTest runs these programs through scripts/with-xvfb, which gives each its own server.
    const char* display = std::getenv("DISPLAY");
    ASSERT_TRUE(display != nullptr && display[0] != '\0')
        << "no X display: run it through scripts/with-xvfb";
    int argc = 1;
    char name[] = "gl_test";
    char* argv[] = {name, nullptr};
    window = createEditorWindow(&argc, argv);
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_CONTINUE_EXECUTION);
    glutDisplayFunc(noteShown);
    glutReshapeFunc(reshapeAndNote);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(windowShown && windowReshaped) && std::chrono::steady_clock::now() < deadline)
    {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(windowShown && windowReshaped) << "the window was not shown within 10 s";
    ASSERT_EQ(editor.windowWidth, WINDOW_SIZE);
    ASSERT_EQ(editor.windowHeight, WINDOW_SIZE);
}

void EditorWindowEnvironment::TearDown()
{
    if (window != 0)
    {
        glutDestroyWindow(window);
        glutExit();
    }
}

bool resizeEditorWindow(int width, int height)
{
    glutReshapeWindow(width, height);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(editor.windowWidth == width && editor.windowHeight == height) &&
           std::chrono::steady_clock::now() < deadline)
    {
        glutMainLoopEvent();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return editor.windowWidth == width && editor.windowHeight == height;
}
