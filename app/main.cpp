#include "app/callbacks.h"
#include "platform/display.h"
#include "render/scene.h"

#include <GL/freeglut.h>

#include <csignal>
#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    // A file-size limit must fail the save that hits it, not kill the editor.
    std::signal(SIGXFSZ, SIG_IGN);

    // The toolkit would end the program with a terse message of its own; say what to do.
    std::string reason;
    if (!displayReachable(argc, argv, reason))
    {
        std::fprintf(stderr, "gantrix: %s\n", reason.c_str());
        return 1;
    }

    createEditorWindow(&argc, argv);

    glutKeyboardFunc(onKeyboard);
    glutDisplayFunc(onDisplay);
    glutReshapeFunc(onReshape);
    glutMouseFunc(onMouse);
    glutMotionFunc(onMotion);

    // Key releases and modifier presses, so the key state stays true between events.
    glutKeyboardUpFunc(onKeyboardUp);
    glutSpecialFunc(onSpecial);
    glutSpecialUpFunc(onSpecialUp);
    glutEntryFunc(onEntry);

    glutMainLoop();
    return 0;
}
