#include "app/callbacks.h"

#include "app/frame.h"
#include "app/input.h"
#include "bind/binding.h"
#include "edit/corner_index.h"
#include "edit/keyboard.h"
#include "edit/recovery.h"
#include "platform/console.h"
#include "platform/display.h"
#include "platform/frame_yield.h"
#include "platform/key_state.h"
#include "platform/run_end.h"

#include <GL/freeglut.h>

int createEditorWindow(int* argc, char** argv)
{
    glutInit(argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    glutInitWindowSize(WINDOW_SIZE, WINDOW_SIZE);
    glutInitWindowPosition(0, 0);
    return glutCreateWindow("Gantrix");
}

void onDisplay()
{
    Ship& s = ship;
    // Binding belongs to the frame, so a save between frames writes what the last frame
    // found; it redoes only what the edits since that frame can have changed.
    bindFrame(s);
    followCornerChanges(s);
    drawFrame(s, editorView(editor));
    // The binding and the drawing have caught up with every change so far; the record
    // starts anew.
    forgetShipChanges(s);
    // The frame asks for the next one at once; yielding lets the rest of the system run.
    glutSwapBuffers();
    recoveryAfterFrame();
    glutPostRedisplay();
    yieldAfterFrame();
}

void onKeyboard(unsigned char character, int, int)
{
    sampleKeysForEvent();
    keyboardCommand(character);
}

void onReshape(int width, int height)
{
    EditorState& e = editor;
    e.windowWidth = width;
    e.windowHeight = height;
}

void onMotion(int x, int y)
{
    sampleKeysForEvent();
    handlePointerMotion(x, y);
}

void onMouse(int button, int state, int x, int y)
{
    // The toolkit's button numbers become the editor's here, and only here.
    if (button != GLUT_LEFT_BUTTON && button != GLUT_RIGHT_BUTTON)
    {
        return;
    }
    sampleKeysForEvent();
    const PointerButton pointer =
        button == GLUT_LEFT_BUTTON ? PointerButton::Left : PointerButton::Right;
    handlePointerButton(pointer, state == GLUT_DOWN, x, y);
}

void onRunEndCheck(int)
{
    // Between two frames nothing is half done: a save has finished, and the ship is whole.
    if (runEndAsked())
    {
        writeRecoveryLastWords();
        endRunAsAsked();
    }
    glutTimerFunc(RUN_END_CHECK_MILLISECONDS, onRunEndCheck, 0);
}

void onClose()
{
    // The toolkit ends the process once this returns.
    writeRecoveryLastWords();
}

void onWindowStatus(int state)
{
    if (state == GLUT_HIDDEN)
    {
        exitIfWindowDestroyed();
    }
}
