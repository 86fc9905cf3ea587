#include "app/callbacks.h"
#include "edit/recovery.h"
#include "platform/console.h"
#include "platform/display.h"
#include "platform/process.h"
#include "platform/run_end.h"

#include <GL/freeglut.h>

#include <string>

int main(int argc, char** argv)
{
    prepareProcess();
    startConsoleLines();

    // The toolkit would end the program with a terse message of its own; say what to do.
    std::string reason;
    if (!prepareDisplay(argc, argv, reason))
    {
        writeErrorLine("gantrix: " + reason);
        return 1;
    }

    setDisplayLostLastWords(writeRecoveryLastWords);
    watchRunEnd();

    createEditorWindow(&argc, argv);
    finishDisplay();
    // Once the window is open, so that a window that cannot open ends with its one line, and
    // the line about unsaved work of an earlier run speaks of a window the user has.
    startRecovery(RECOVERY_QUIET_MILLISECONDS);

    glutKeyboardFunc(onKeyboard);
    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);
    glutWindowStatusFunc(onWindowStatus);
    glutCloseFunc(onClose);
    // A timer, not the frame, so an end asked for reaches a window that draws no frames.
    glutTimerFunc(RUN_END_CHECK_MILLISECONDS, onRunEndCheck, 0);

    glutMainLoop();
    return 0;
}
