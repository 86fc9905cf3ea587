#include "tests/glut_window.h"
#include "tests/key_press.h"

#include <GL/glx.h>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

// The key state is the editor window's, on the test's own X server.
static ::testing::Environment* const editorWindow =
    ::testing::AddGlobalTestEnvironment(new EditorWindowEnvironment);

// A real key on the server, which the editor learns from the keymap as at every event; the
// window's events are dropped, as the test calls the commands itself. They are read and let
// go rather than discarded with XSync: a discarded input-extension event (the window's
// pointer crossings) keeps the data Xlib made for it, and that would be reported as a leak.
void pressKey(Key key, bool down)
{
    Display* display = glXGetCurrentDisplay();
    ASSERT_NE(display, nullptr) << "no editor window";
    const KeySym sym = key == Key::Shift ? XK_Shift_L : key == Key::Control ? XK_Control_L : XK_Tab;
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), down ? True : False, CurrentTime);
    XSync(display, False);
    XEvent event;
    while (XPending(display) > 0)
    {
        XNextEvent(display, &event);
    }
    sampleKeysForEvent();
}
