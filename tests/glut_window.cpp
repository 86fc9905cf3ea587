#include "tests/glut_window.h"

#include "app/callbacks.h"
#include "model/ship.h"

#include <GL/freeglut.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
// A private X server for this process, found through -displayfd so that parallel test
// processes never compete for a display number.
pid_t xServer = -1;
bool windowShown = false;
bool windowReshaped = false;

bool startXServer(std::string& error)
{
    int fds[2];
    if (pipe(fds) != 0)
    {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
    {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0)
    {
        // The server must not outlive a test process that crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
        {
            _exit(1);
        }
        close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        freopen("/dev/null", "w", stderr);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    xServer = pid;
    close(fds[1]);

    std::string display;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (display.empty() || display.back() != '\n')
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
        {
            error = "Xvfb did not report a display within 20 s";
            close(fds[0]);
            return false;
        }
        char c;
        if (read(fds[0], &c, 1) != 1)
        {
            error = "Xvfb exited before reporting a display";
            close(fds[0]);
            return false;
        }
        display += c;
    }
    close(fds[0]);
    display.pop_back();
    setenv("DISPLAY", (":" + display).c_str(), 1);
    return true;
}

void stopXServer()
{
    if (xServer <= 0)
    {
        return;
    }
    kill(xServer, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(xServer, nullptr, WNOHANG) == 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(xServer, SIGKILL);
            waitpid(xServer, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    xServer = -1;
}

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
    std::string error;
    ASSERT_TRUE(startXServer(error)) << error;
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
    stopXServer();
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
