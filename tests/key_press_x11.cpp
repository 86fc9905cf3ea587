#include "tests/glut_window.h"
#include "tests/key_press.h"

#include <GL/glx.h>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

// The commands under test ask the key state as the editor does at an event, so these programs
// open the editor's window on their own X server.
static ::testing::Environment* const editorWindow =
    ::testing::AddGlobalTestEnvironment(new EditorWindowEnvironment);

// The key goes down or up on the X server, as a user's would, and the editor learns it from the
// server's keymap, as it does at every event. The events the key sends the window are dropped:
// the test calls the commands itself.
void pressKey(Key key, bool down)
{
    Display* display = glXGetCurrentDisplay();
    ASSERT_NE(display, nullptr) << "no editor window";
    const KeySym sym = key == Key::Shift ? XK_Shift_L : key == Key::Control ? XK_Control_L : XK_Tab;
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, sym), down ? True : False, CurrentTime);
    XSync(display, True);
    sampleKeysForEvent();
}
