#include "editor_session.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <png.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long a process gets to end after SIGTERM before it is killed.
static constexpr Millis TERM_GRACE{3000};
// How long the editor gets to exit after its window is closed; a sanitizer build checks for
// leaks on the way out.
static constexpr Millis CLOSE_GRACE{10000};
// How long a killed process gets before we give up waiting for it.
static constexpr Millis KILL_GRACE{5000};
static constexpr Millis POLL_STEP{5};
// The frame probe paints this many pixels square in the window's bottom-right corner.
static constexpr int PROBE_SIZE = 3;
// A colour the editor never draws in that corner; once it is gone, a frame has landed.
static constexpr Rgb PROBE_COLOUR = {0x13, 0xA7, 0x5B};
static const char* EDITOR_TITLE = "Gantrix";
// The editor's window opens this many pixels square.
static constexpr int EDITOR_WINDOW_SIZE = 900;

#ifndef GANTRIX_BINARY
#error "GANTRIX_BINARY must name the editor executable"
#endif

Rgb WindowImage::pixel(int x, int y) const
{
    assert(x >= 0 && x < width && y >= 0 && y < height);
    size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

bool WindowImage::writePng(const std::string& path) const
{
    if (width <= 0 || height <= 0)
    {
        return false;
    }
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) == 0)
    {
        ADD_FAILURE() << "cannot write " << path << ": " << image.message;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Processes

static std::string findInPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
    {
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
        {
            return candidate;
        }
    }
    return "";
}

static std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct SpawnRequest
{
    std::string program;
    std::vector<std::string> args; // argv[0] included
    std::vector<std::string> env;
    std::string cwd;
    std::string outputPath; // stdout
    std::string errorPath;  // stderr; may equal outputPath
    int keepFd = -1;        // a descriptor the child inherits, -1 for none
    EditorStream stdoutKind = EditorStream::captured;
    EditorStream stderrKind = EditorStream::captured;
    int fullPipes[2] = {-1, -1}; // write ends of full pipes for stdout and stderr
    int deathSignal = SIGKILL;
};

// A pipe written full without waiting, for a stream that nobody reads; the write end goes
// back to waiting writes, as a fresh pipe's has. Returns the bytes put in, or -1.
static long fillPipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC) != 0)
    {
        return -1;
    }
    const int flags = fcntl(fds[1], F_GETFL);
    fcntl(fds[1], F_SETFL, flags | O_NONBLOCK);
    long filled = 0;
    const std::string chunk(4096, '.');
    for (size_t size : {chunk.size(), size_t{1}})
    {
        ssize_t n;
        while ((n = write(fds[1], chunk.data(), size)) > 0)
        {
            filled += n;
        }
    }
    fcntl(fds[1], F_SETFL, flags);
    return filled;
}

// Forks and execs. Everything the child needs is prepared before the fork, so the child
// only makes system calls. The child gets `deathSignal` when the test process dies, so a
// crashed or timed-out test leaves nothing running.
static pid_t spawn(const SpawnRequest& request, std::string& error)
{
    std::vector<char*> argv;
    for (const std::string& a : request.args)
    {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : request.env)
    {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    int outFd = open(request.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int errFd =
        request.errorPath == request.outputPath
            ? outFd
            : open(request.errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (outFd < 0 || errFd < 0 || nullFd < 0)
    {
        error = "cannot open the output files for " + request.program + ": " + std::strerror(errno);
        for (int fd : {outFd, errFd, nullFd})
        {
            if (fd >= 0 && (fd != errFd || errFd != outFd))
            {
                close(fd);
            }
        }
        return -1;
    }

    int orphanPipe[2] = {-1, -1}; // for a stream whose reader has gone
    if ((request.stdoutKind == EditorStream::readerGone ||
         request.stderrKind == EditorStream::readerGone) &&
        pipe2(orphanPipe, O_CLOEXEC) != 0)
    {
        orphanPipe[0] = orphanPipe[1] = -1;
    }

    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0)
    {
        prctl(PR_SET_PDEATHSIG, request.deathSignal);
        if (getppid() != parent)
        {
            _exit(126);
        }
        if (!request.cwd.empty() && chdir(request.cwd.c_str()) != 0)
        {
            _exit(126);
        }
        dup2(nullFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        const EditorStream kinds[2] = {request.stdoutKind, request.stderrKind};
        for (int stream = 0; stream < 2; ++stream)
        {
            const int fd = stream + 1;
            if (kinds[stream] == EditorStream::closed)
            {
                close(fd);
            }
            else if (kinds[stream] == EditorStream::readerGone)
            {
                dup2(orphanPipe[1], fd);
            }
            else if (kinds[stream] == EditorStream::fullPipe)
            {
                dup2(request.fullPipes[stream], fd);
            }
        }
        if (request.keepFd >= 0)
        {
            fcntl(request.keepFd, F_SETFD, 0);
        }
        execve(request.program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int forkErrno = errno;
    for (int end : orphanPipe)
    {
        if (end >= 0)
        {
            close(end);
        }
    }
    close(nullFd);
    if (errFd != outFd)
    {
        close(errFd);
    }
    close(outFd);
    if (pid < 0)
    {
        error = std::string("fork failed: ") + std::strerror(forkErrno);
        return -1;
    }
    return pid;
}

// Reaps `pid` if it has ended within `limit`; returns true and fills `status` then.
static bool reapWithin(pid_t pid, Millis limit, int& status)
{
    Clock::time_point deadline = Clock::now() + limit;
    for (;;)
    {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD))
        {
            return true;
        }
        if (Clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(POLL_STEP);
    }
}

// Ends one process we started: SIGTERM, a bounded wait, then SIGKILL and a bounded wait.
static int endProcess(pid_t pid)
{
    int status = -1;
    kill(pid, SIGTERM);
    if (reapWithin(pid, TERM_GRACE, status))
    {
        return status;
    }
    kill(pid, SIGKILL);
    if (!reapWithin(pid, KILL_GRACE, status))
    {
        ADD_FAILURE() << "process " << pid << " did not end even after SIGKILL";
    }
    return status;
}

// Our environment with DISPLAY pointing at `display`, or with no DISPLAY when it is negative.
static std::vector<std::string> environmentWithDisplay(int display)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
    {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "XDG_STATE_HOME=", 15) != 0)
        {
            env.emplace_back(*e);
        }
    }
    if (display >= 0)
    {
        env.push_back("DISPLAY=:" + std::to_string(display));
    }
    return env;
}

// ---------------------------------------------------------------------------------------------
// X helpers

// Windows can vanish between a query and the next request; such errors must not end the
// test. The failing call returns nothing or zero, and its caller reports that.
static int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

static Display* asDisplay(void* display)
{
    return static_cast<Display*>(display);
}

static int maskShift(unsigned long mask)
{
    int shift = 0;
    while (mask != 0 && (mask & 1ul) == 0)
    {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

static int channelFromPixel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
    {
        return 0;
    }
    int shift = maskShift(mask);
    unsigned long maxValue = mask >> shift;
    unsigned long value = (pixel & mask) >> shift;
    return static_cast<int>((value * 255 + maxValue / 2) / maxValue);
}

static unsigned long channelToPixel(int channel, unsigned long mask)
{
    int shift = maskShift(mask);
    unsigned long maxValue = mask >> shift;
    return ((static_cast<unsigned long>(channel) * maxValue + 127) / 255) << shift;
}

// Reads a rectangle of the window; width 0 when the read failed.
static WindowImage readWindow(Display* display, Window window, int x, int y, int width, int height)
{
    WindowImage image;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0)
    {
        return image;
    }
    XImage* x11 = XGetImage(display, window, x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (x11 == nullptr)
    {
        return image;
    }
    Visual* visual = attributes.visual;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    size_t at = 0;
    for (int row = 0; row < height; ++row)
    {
        for (int column = 0; column < width; ++column)
        {
            unsigned long p = XGetPixel(x11, column, row);
            image.rgb[at++] = static_cast<uint8_t>(channelFromPixel(p, visual->red_mask));
            image.rgb[at++] = static_cast<uint8_t>(channelFromPixel(p, visual->green_mask));
            image.rgb[at++] = static_cast<uint8_t>(channelFromPixel(p, visual->blue_mask));
        }
    }
    XDestroyImage(x11);
    return image;
}

static std::vector<TopLevelWindow> listTopLevel(Display* display)
{
    std::vector<TopLevelWindow> found;
    Window root = DefaultRootWindow(display);
    Window rootReturn = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) == 0)
    {
        return found;
    }
    for (unsigned int i = 0; i < count; ++i)
    {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) == 0 ||
            attributes.map_state != IsViewable)
        {
            continue;
        }
        TopLevelWindow w;
        w.id = children[i];
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) != 0 && name != nullptr)
        {
            w.name = name;
            XFree(name);
        }
        Window child = 0;
        XTranslateCoordinates(display, children[i], root, 0, 0, &w.geometry.x, &w.geometry.y,
                              &child);
        w.geometry.width = attributes.width;
        w.geometry.height = attributes.height;
        found.push_back(w);
    }
    if (children != nullptr)
    {
        XFree(children);
    }
    return found;
}

// ---------------------------------------------------------------------------------------------
// Session

EditorSession::EditorSession() = default;

EditorSession::~EditorSession()
{
    stopEditor();
    Display* display = asDisplay(xDisplay);
    if (display != nullptr)
    {
        // Spare keycodes go back to holding nothing.
        for (const auto& entry : remappedKeys)
        {
            KeySym none[2] = {NoSymbol, NoSymbol};
            XChangeKeyboardMapping(display, static_cast<int>(entry.second), 2, none, 1);
        }
        XCloseDisplay(display);
        xDisplay = nullptr;
    }
    if (serverPid > 0)
    {
        endProcess(serverPid);
        serverPid = -1;
    }
    if (!rootDir.empty())
    {
        std::error_code ignored;
        fs::remove_all(rootDir, ignored);
    }
}

bool EditorSession::fail(const std::string& what)
{
    std::string message = what;
    if (editorPid > 0 || editorStatus != -1)
    {
        message += isAlive() ? "\n  editor: running"
                             : "\n  editor: ended, wait status " + std::to_string(editorStatus);
        message += "\n  editor stdout: [" + stdoutText() + "]";
        message += "\n  editor stderr: [" + stderrText() + "]";
    }
    ADD_FAILURE() << message;
    return false;
}

bool EditorSession::start(const std::vector<std::string>& extraArgs)
{
    return startServer() && startEditor(extraArgs);
}

bool EditorSession::startServer()
{
    if (serverPid > 0)
    {
        return true;
    }
    // A server started again after stopServer keeps the folders, and what the editor left there.
    if (!rootDir.empty())
    {
        return startXvfb();
    }
    std::string pattern = (fs::temp_directory_path() / "gantrix-e2e-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
    {
        return fail("cannot create a temporary folder from " + pattern);
    }
    rootDir = buffer.data();
    work = rootDir + "/work";
    std::error_code created;
    if (!fs::create_directory(work, created))
    {
        return fail("cannot create the work folder " + work);
    }
    return startXvfb();
}

bool EditorSession::startXvfb()
{
    if (findInPath("Xvfb").empty())
    {
        return fail("Xvfb is not on PATH; install the xvfb package");
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
    {
        return fail(std::string("pipe failed: ") + std::strerror(errno));
    }
    // The same launcher as the benchmarks', holding the server until it is ended.
    SpawnRequest request;
    request.program = GANTRIX_WITH_XVFB;
    request.args = {GANTRIX_WITH_XVFB, "sleep", "infinity"};
    request.env = environmentWithDisplay(-1);
    request.env.push_back("WITH_XVFB_REPORT_FD=" + std::to_string(fds[1]));
    request.outputPath = rootDir + "/xvfb.log";
    request.errorPath = request.outputPath;
    request.keepFd = fds[1];
    request.deathSignal = SIGTERM;
    std::string error;
    serverPid = spawn(request, error);
    close(fds[1]);
    if (serverPid < 0)
    {
        close(fds[0]);
        return fail("cannot start Xvfb: " + error);
    }

    // The launcher writes the display number, then a newline, once the server accepts clients.
    std::string number;
    Clock::time_point deadline = Clock::now() + SERVER_START_TIMEOUT;
    bool complete = false;
    while (!complete)
    {
        auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
        if (left <= 0)
        {
            break;
        }
        pollfd readable = {fds[0], POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left)) <= 0)
        {
            continue;
        }
        char c = 0;
        ssize_t got = read(fds[0], &c, 1);
        if (got <= 0)
        {
            break;
        }
        if (c == '\n')
        {
            complete = true;
        }
        else
        {
            number += c;
        }
    }
    close(fds[0]);
    if (!complete || number.empty())
    {
        return fail("Xvfb did not report a display within " +
                    std::to_string(SERVER_START_TIMEOUT.count()) + " ms; its log: [" +
                    readWholeFile(rootDir + "/xvfb.log") + "]");
    }
    displayNumber = std::atoi(number.c_str());
    return connectX();
}

bool EditorSession::connectX()
{
    if (xDisplay != nullptr)
    {
        return true;
    }
    XSetErrorHandler(ignoreXError);
    std::string name = ":" + std::to_string(displayNumber);
    Clock::time_point deadline = Clock::now() + SERVER_START_TIMEOUT;
    while (xDisplay == nullptr && Clock::now() < deadline)
    {
        xDisplay = XOpenDisplay(name.c_str());
        if (xDisplay == nullptr)
        {
            std::this_thread::sleep_for(Millis(50));
        }
    }
    if (xDisplay == nullptr)
    {
        return fail("cannot connect to Xvfb on display " + name);
    }
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(asDisplay(xDisplay), &eventBase, &errorBase, &major, &minor))
    {
        return fail("the X server on " + name + " lacks the XTEST extension");
    }
    return true;
}

bool EditorSession::startEditor(const std::vector<std::string>& extraArgs, EditorStream out,
                                EditorStream err)
{
    return launchEditor(extraArgs, out, err) && waitForEditorWindow();
}

bool EditorSession::waitForEditorWindow()
{
    // Wine takes seconds more to start, most of all on a loaded machine.
    const Millis timeout = windowsEditor.empty() ? WINDOW_TIMEOUT : 3 * WINDOW_TIMEOUT;
    return connectX() && waitForWindow(EDITOR_TITLE, timeout) && waitForFrames(1);
}

void EditorSession::disconnectX()
{
    if (xDisplay != nullptr)
    {
        // Keys moved to spare keycodes go with the server's reset.
        remappedKeys.clear();
        XCloseDisplay(asDisplay(xDisplay));
        xDisplay = nullptr;
    }
}

void EditorSession::stopServer()
{
    disconnectX();
    if (serverPid > 0)
    {
        endProcess(serverPid);
        serverPid = -1;
    }
}

bool EditorSession::waitForExit(Millis timeout)
{
    int status = -1;
    if (editorPid <= 0 || !reapWithin(editorPid, timeout, status))
    {
        return fail("the editor did not end within " + std::to_string(timeout.count()) + " ms");
    }
    editorStatus = status;
    editorPid = -1;
    editorWindow = 0;
    return true;
}

void EditorSession::useWindowsEditor(const std::string& exePath)
{
    windowsEditor = exePath;
    // Wine hands each X event on through its own server; events closer together than this
    // reached the window with the pointer of an earlier one.
    inputPause = std::max(inputPause, Millis(60));
}

bool EditorSession::launchEditor(const std::vector<std::string>& extraArgs, EditorStream out,
                                 EditorStream err)
{
    if (serverPid <= 0 && !startServer())
    {
        return false;
    }
    stopEditor();
    editorStatus = -1;
    editorWindow = 0;

    SpawnRequest request;
    request.program = GANTRIX_BINARY;
    request.args.push_back(GANTRIX_BINARY);
    if (!windowsEditor.empty())
    {
        request.program = GANTRIX_WITH_WINE;
        request.args = {GANTRIX_WITH_WINE, "--own-prefix", windowsEditor};
        request.deathSignal = SIGTERM; // the launcher then ends Wine and removes its prefix
        // Wine turns keys into characters only on the keycodes of a real keyboard, and reads
        // the mapping once, at its start: the section sign goes on the key left of 1 (where
        // some layouts have it, and whose own character the editor ignores) before the start.
        if (!connectX() || !putSectionSignOnGraveKey())
        {
            return fail("cannot put the section sign on the key left of 1");
        }
    }
    request.args.insert(request.args.end(), extraArgs.begin(), extraArgs.end());
    request.env = environmentWithDisplay(displayNumber);
    request.env.push_back("XDG_STATE_HOME=" + rootDir + "/state");
    // Wine sets LOCALAPPDATA itself; the launcher links the prefix's folder to this one.
    request.env.push_back("GANTRIX_WINE_LOCAL_APPDATA=" + rootDir + "/windows-state");
    request.cwd = work;
    request.outputPath = rootDir + "/stdout.txt";
    request.errorPath = rootDir + "/stderr.txt";
    request.stdoutKind = out;
    request.stderrKind = err;
    const EditorStream kinds[2] = {out, err};
    for (int stream = 0; stream < 2; ++stream)
    {
        if (kinds[stream] != EditorStream::fullPipe)
        {
            continue;
        }
        int fds[2];
        const long filled = fillPipe(fds);
        if (filled <= 0)
        {
            return fail("cannot fill a pipe for the editor's output");
        }
        fullPipeReader[stream] = fds[0];
        fullPipeFill[stream] = static_cast<size_t>(filled);
        request.fullPipes[stream] = fds[1];
    }
    std::string error;
    editorPid = spawn(request, error);
    for (int end : request.fullPipes)
    {
        if (end >= 0)
        {
            close(end);
        }
    }
    editorStderrChecked = editorPid < 0;
    if (editorPid < 0)
    {
        editorPid = -1;
        return fail("cannot start " + request.program + ": " + error);
    }
    return true;
}

void EditorSession::stopEditor()
{
    endEditor();
    stopDraining();
    for (int& reader : fullPipeReader)
    {
        if (reader >= 0)
        {
            close(reader);
            reader = -1;
        }
    }
    expectNoSanitizerReport();
}

void EditorSession::drainFullPipes()
{
    if (drainer.joinable())
    {
        return;
    }
    drainerStop = false;
    const std::string paths[2] = {rootDir + "/stdout.txt", rootDir + "/stderr.txt"};
    drainer = std::thread(
        [this, paths]()
        {
            size_t skip[2] = {fullPipeFill[0], fullPipeFill[1]};
            // A negative descriptor is one poll passes over: a pipe never held, or one whose
            // writers have all gone.
            pollfd readers[2] = {{fullPipeReader[0], POLLIN, 0}, {fullPipeReader[1], POLLIN, 0}};
            char buffer[4096];
            while (!drainerStop)
            {
                if (poll(readers, 2, 50) <= 0)
                {
                    continue;
                }
                for (int stream = 0; stream < 2; ++stream)
                {
                    if (readers[stream].revents == 0)
                    {
                        continue;
                    }
                    const ssize_t n = read(readers[stream].fd, buffer, sizeof buffer);
                    if (n <= 0)
                    {
                        readers[stream].fd = -1;
                        continue;
                    }
                    const size_t got = static_cast<size_t>(n);
                    const size_t skipped = std::min(got, skip[stream]);
                    skip[stream] -= skipped;
                    std::ofstream(paths[stream], std::ios::binary | std::ios::app)
                        .write(buffer + skipped, static_cast<std::streamsize>(got - skipped));
                }
            }
        });
}

void EditorSession::stopDraining()
{
    if (drainer.joinable())
    {
        drainerStop = true;
        drainer.join();
    }
}

// What the sanitizers print when they find something; with halt_on_error the process ends
// right after, so a test may have passed before the report.
static const char* const SANITIZER_MARKERS[] = {
    "ERROR: AddressSanitizer",
    "ERROR: LeakSanitizer",
    "ERROR: UndefinedBehaviorSanitizer",
    "runtime error:",
};

bool holdsFailureLine(const std::string& text, const std::string& what, const std::string& detail)
{
    const std::string start = "gantrix: cannot " + what + " ship.hul in ";
    const std::string end = ": " + detail;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        // The Windows editor ends its lines with a carriage return too.
        if (!line.empty() && line.back() == '\r')
        {
            line.pop_back();
        }
        if (line.rfind(start, 0) == 0 && line.size() >= start.size() + end.size() &&
            line.compare(line.size() - end.size(), end.size(), end) == 0)
        {
            return true;
        }
    }
    return false;
}

bool holdsSanitizerReport(const std::string& text)
{
    for (const char* marker : SANITIZER_MARKERS)
    {
        if (text.find(marker) != std::string::npos)
        {
            return true;
        }
    }
    return false;
}

void EditorSession::expectNoSanitizerReport()
{
    if (editorStderrChecked)
    {
        return;
    }
    editorStderrChecked = true;
    const std::string text = stderrText();
    if (holdsSanitizerReport(text))
    {
        ADD_FAILURE() << "the editor's stderr holds a sanitizer report (wait status "
                      << editorStatus << "):\n"
                      << text;
    }
}

// Sends the window manager's close request, as the window's close button would. The
// toolkit then ends the program through exit(), so the sanitizers' exit checks run.
bool EditorSession::closeWindowAndWait()
{
    Display* display = asDisplay(xDisplay);
    if (display == nullptr || editorWindow == 0)
    {
        return false;
    }
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = editorWindow;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    if (XSendEvent(display, editorWindow, False, NoEventMask, &event) == 0)
    {
        return false;
    }
    XFlush(display);
    int status = -1;
    if (!reapWithin(editorPid, CLOSE_GRACE, status))
    {
        return false;
    }
    editorStatus = status;
    return true;
}

void EditorSession::endEditor()
{
    if (editorPid <= 0)
    {
        return;
    }
    if (!closeWindowAndWait())
    {
        editorStatus = endProcess(editorPid);
    }
    editorPid = -1;

    // The server drops the window once it notices the closed connection; wait for that, so
    // that a restarted editor is never mistaken for the old window.
    Display* display = asDisplay(xDisplay);
    if (display == nullptr || editorWindow == 0)
    {
        return;
    }
    Clock::time_point deadline = Clock::now() + WINDOW_TIMEOUT;
    for (;;)
    {
        bool present = false;
        for (const TopLevelWindow& w : listTopLevel(display))
        {
            present = present || w.id == editorWindow;
        }
        if (!present)
        {
            break;
        }
        if (Clock::now() >= deadline)
        {
            ADD_FAILURE() << "the editor's window outlived the editor by " << WINDOW_TIMEOUT.count()
                          << " ms";
            break;
        }
        std::this_thread::sleep_for(POLL_STEP);
    }
    editorWindow = 0;
}

bool EditorSession::isAlive()
{
    if (editorPid <= 0)
    {
        return false;
    }
    int status = 0;
    pid_t done = waitpid(editorPid, &status, WNOHANG);
    if (done == editorPid)
    {
        editorStatus = status;
        editorPid = -1;
        return false;
    }
    return done == 0;
}

int EditorSession::exitStatus() const
{
    return editorStatus;
}

pid_t EditorSession::pid() const
{
    return editorPid;
}

std::string EditorSession::stdoutText() const
{
    return rootDir.empty() ? "" : readWholeFile(rootDir + "/stdout.txt");
}

std::string EditorSession::stderrText() const
{
    return rootDir.empty() ? "" : readWholeFile(rootDir + "/stderr.txt");
}

static int countOccurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size()))
    {
        ++count;
    }
    return count;
}

// Waits until `text` has appeared `occurrences` times in what `read` returns.
static bool waitForOutput(const std::function<std::string()>& read, const char* stream,
                          const std::string& text, int occurrences, Millis timeout,
                          std::string& failure)
{
    assert(!text.empty());
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;)
    {
        int seen = countOccurrences(read(), text);
        if (seen >= occurrences)
        {
            return true;
        }
        if (Clock::now() >= deadline)
        {
            failure = "waited " + std::to_string(timeout.count()) + " ms for \"" + text +
                      "\" to appear " + std::to_string(occurrences) + " times on " + stream +
                      "; it appeared " + std::to_string(seen) + " times";
            return false;
        }
        std::this_thread::sleep_for(Millis(10));
    }
}

bool EditorSession::waitForStdout(const std::string& text, int occurrences, Millis timeout)
{
    std::string failure;
    return waitForOutput([this] { return stdoutText(); }, "stdout", text, occurrences, timeout,
                         failure) ||
           fail(failure);
}

bool EditorSession::waitForStderr(const std::string& text, int occurrences, Millis timeout)
{
    std::string failure;
    return waitForOutput([this] { return stderrText(); }, "stderr", text, occurrences, timeout,
                         failure) ||
           fail(failure);
}

const std::string& EditorSession::workDir() const
{
    return work;
}

bool EditorSession::useWorkFolder(const std::string& name)
{
    std::error_code ignored;
    work = rootDir + "/" + name;
    fs::create_directory(work, ignored);
    return fs::is_directory(work, ignored) || fail("cannot create the work folder " + work);
}

std::vector<std::string> EditorSession::recoveryCopies() const
{
    std::vector<std::string> copies;
    std::error_code ignored;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(windowsEditor.empty() ? rootDir + "/state/gantrix/recovery"
                                                      : rootDir + "/windows-state/Gantrix/recovery",
                                ignored))
    {
        // A copy being written is a temporary file beside it until it is put in place.
        if (entry.path().extension() == ".hul")
        {
            copies.push_back(entry.path().string());
        }
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

// The Windows editor runs as the child of the script that gives it its Wine prefix.
pid_t EditorSession::programPid() const
{
    pid_t program = editorPid;
    if (!windowsEditor.empty() && editorPid > 0)
    {
        const std::string pid = std::to_string(editorPid);
        std::istringstream children(readWholeFile("/proc/" + pid + "/task/" + pid + "/children"));
        program = -1;
        children >> program;
    }
    return program;
}

bool EditorSession::signalEditor(int signal)
{
    const pid_t target = programPid();
    return (target > 0 && kill(target, signal) == 0) ||
           fail("cannot signal the editor " + std::to_string(target));
}

// Wine ends the session of the editor's own prefix as a log-off would: every window is asked
// whether it may end and then told that it does.
bool EditorSession::endWindowsSession()
{
    const pid_t program = programPid();
    const std::string environment =
        std::string(1, '\0') +
        (program > 0 ? readWholeFile("/proc/" + std::to_string(program) + "/environ") : "");
    const std::string key = std::string(1, '\0') + "WINEPREFIX=";
    const size_t at = environment.find(key);
    if (at == std::string::npos)
    {
        return fail("cannot find the Windows editor's Wine prefix");
    }
    const size_t from = at + key.size();
    const std::string prefix = environment.substr(from, environment.find('\0', from) - from);
    const std::string log = rootDir + "/wineboot.log";
    const std::string command = "WINEPREFIX='" + prefix +
                                "' timeout 60 /usr/lib/wine/wine64 wineboot -e >'" + log + "' 2>&1";
    // wineboot's own status says whether every program agreed to end, which Wine does not
    // always report the same way; what the session's end did is for the test to check. Only a
    // wineboot that could not run, or hung, fails here.
    const int status = std::system(command.c_str());
    return (status != -1 && !(WIFEXITED(status) && WEXITSTATUS(status) == 124)) ||
           fail("wineboot -e did not run: " + readWholeFile(log));
}

bool EditorSession::workFileExists(const std::string& name) const
{
    std::error_code ignored;
    return !work.empty() && fs::exists(work + "/" + name, ignored);
}

std::string EditorSession::readWorkFile(const std::string& name) const
{
    return readWholeFile(work + "/" + name);
}

bool EditorSession::writeWorkFile(const std::string& name, const std::string& content) const
{
    std::ofstream out(work + "/" + name, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out)
    {
        ADD_FAILURE() << "cannot write " << work << "/" << name;
        return false;
    }
    return true;
}

unsigned long EditorSession::window() const
{
    return editorWindow;
}

int EditorSession::display() const
{
    return displayNumber;
}

bool EditorSession::ensureX()
{
    if (xDisplay == nullptr || editorWindow == 0)
    {
        return fail("no editor window: start() did not succeed");
    }
    return true;
}

bool EditorSession::waitForWindow(const std::string& title, Millis timeout)
{
    Display* display = asDisplay(xDisplay);
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;)
    {
        for (const TopLevelWindow& w : listTopLevel(display))
        {
            const bool sized = windowsEditor.empty() || (w.geometry.width == EDITOR_WINDOW_SIZE &&
                                                         w.geometry.height == EDITOR_WINDOW_SIZE);
            if (w.name == title && sized)
            {
                editorWindow = w.id;
                return true;
            }
        }
        if (!isAlive())
        {
            return fail("the editor ended before it showed a window named \"" + title + "\"");
        }
        if (Clock::now() >= deadline)
        {
            return fail("no mapped window named \"" + title + "\" within " +
                        std::to_string(timeout.count()) + " ms");
        }
        std::this_thread::sleep_for(Millis(20));
    }
}

std::string EditorSession::windowTitle()
{
    if (!ensureX())
    {
        return "";
    }
    char* name = nullptr;
    std::string title;
    if (XFetchName(asDisplay(xDisplay), editorWindow, &name) != 0 && name != nullptr)
    {
        title = name;
        XFree(name);
    }
    return title;
}

std::string EditorSession::windowClass()
{
    std::string both;
    XClassHint hint = {nullptr, nullptr};
    if (ensureX() && XGetClassHint(asDisplay(xDisplay), editorWindow, &hint) != 0)
    {
        both = std::string(hint.res_name != nullptr ? hint.res_name : "") + "/" +
               (hint.res_class != nullptr ? hint.res_class : "");
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return both;
}

// The 32-bit CARDINAL values of the window's property `name`, at most `longest` of them;
// empty when the property is missing, of another type, or longer than that.
static std::vector<unsigned long> cardinalProperty(Display* display, unsigned long window,
                                                   const char* name, long longest)
{
    std::vector<unsigned long> values;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const Atom property = XInternAtom(display, name, False);
    if (XGetWindowProperty(display, window, property, 0, longest, False, XA_CARDINAL, &type,
                           &format, &count, &after, &data) == Success &&
        data != nullptr && format == 32 && after == 0)
    {
        // Xlib hands 32-bit items over as longs.
        const long* items = reinterpret_cast<const long*>(data);
        for (unsigned long i = 0; i < count; ++i)
        {
            values.push_back(static_cast<unsigned long>(items[i]) & 0xFFFFFFFFul);
        }
    }
    XFree(data);
    return values;
}

long EditorSession::windowPid()
{
    if (!ensureX())
    {
        return -1;
    }
    const std::vector<unsigned long> pid =
        cardinalProperty(asDisplay(xDisplay), editorWindow, "_NET_WM_PID", 1);
    return pid.size() == 1 ? static_cast<long>(pid[0]) : -1;
}

std::vector<unsigned long> installedIcon(int size)
{
    const std::string path =
        std::string(GANTRIX_ICON_DIR) + "/gantrix-" + std::to_string(size) + ".png";
    png_image read = {};
    read.version = PNG_IMAGE_VERSION;
    std::vector<unsigned long> argb;
    if (png_image_begin_read_from_file(&read, path.c_str()) == 0)
    {
        return argb;
    }
    read.format = PNG_FORMAT_ARGB;
    std::vector<uint8_t> bytes(PNG_IMAGE_SIZE(read));
    if (png_image_finish_read(&read, nullptr, bytes.data(), 0, nullptr) == 0 ||
        read.width != static_cast<png_uint_32>(size) || read.height != read.width)
    {
        return argb;
    }
    for (size_t i = 0; i + 3 < bytes.size(); i += 4)
    {
        argb.push_back(static_cast<unsigned long>(bytes[i]) << 24 | bytes[i + 1] << 16 |
                       bytes[i + 2] << 8 | bytes[i + 3]);
    }
    return argb;
}

std::vector<unsigned long> EditorSession::windowIcon()
{
    if (!ensureX())
    {
        return {};
    }
    // Far more than any icon the editor sets, so a longer property reads as none.
    return cardinalProperty(asDisplay(xDisplay), editorWindow, "_NET_WM_ICON", 1 << 20);
}

bool EditorSession::destroyWindowFromOutside()
{
    if (!ensureX())
    {
        return false;
    }
    XDestroyWindow(asDisplay(xDisplay), editorWindow);
    XSync(asDisplay(xDisplay), False);
    editorWindow = 0;
    return true;
}

WindowGeometry EditorSession::windowGeometry()
{
    WindowGeometry geometry;
    if (!ensureX())
    {
        return geometry;
    }
    Display* display = asDisplay(xDisplay);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, editorWindow, &attributes) == 0)
    {
        fail("cannot read the editor window's attributes");
        return geometry;
    }
    Window child = 0;
    XTranslateCoordinates(display, editorWindow, DefaultRootWindow(display), 0, 0, &geometry.x,
                          &geometry.y, &child);
    geometry.width = attributes.width;
    geometry.height = attributes.height;
    return geometry;
}

std::vector<TopLevelWindow> EditorSession::topLevelWindows()
{
    if (xDisplay == nullptr)
    {
        fail("no X server: start() did not succeed");
        return {};
    }
    return listTopLevel(asDisplay(xDisplay));
}

void EditorSession::setInputPause(Millis pause)
{
    inputPause = pause;
}

bool EditorSession::finishAction()
{
    XSync(asDisplay(xDisplay), False);
    if (inputPause.count() > 0)
    {
        std::this_thread::sleep_for(inputPause);
    }
    return true;
}

bool EditorSession::moveTo(int x, int y)
{
    if (!ensureX())
    {
        return false;
    }
    Display* display = asDisplay(xDisplay);
    int rootX = 0;
    int rootY = 0;
    Window child = 0;
    if (!XTranslateCoordinates(display, editorWindow, DefaultRootWindow(display), x, y, &rootX,
                               &rootY, &child))
    {
        return fail("cannot map window pixel to the screen");
    }
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    return finishAction();
}

bool EditorSession::button(int which, bool down)
{
    assert(which >= 1 && which <= 5);
    if (!ensureX())
    {
        return false;
    }
    XTestFakeButtonEvent(asDisplay(xDisplay), static_cast<unsigned>(which), down ? True : False,
                         CurrentTime);
    return finishAction();
}

bool EditorSession::click(int which, int x, int y)
{
    return moveTo(x, y) && button(which, true) && button(which, false);
}

bool EditorSession::drag(int which, int fromX, int fromY, int toX, int toY, int steps)
{
    assert(steps >= 1);
    if (!moveTo(fromX, fromY) || !button(which, true))
    {
        return false;
    }
    for (int i = 1; i <= steps; ++i)
    {
        int x = fromX + (toX - fromX) * i / steps;
        int y = fromY + (toY - fromY) * i / steps;
        if (!moveTo(x, y))
        {
            button(which, false);
            return false;
        }
    }
    return button(which, false);
}

bool EditorSession::pointerInsideWindow()
{
    Display* display = asDisplay(xDisplay);
    Window rootReturn = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display, editorWindow, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask))
    {
        return false;
    }
    WindowGeometry g = windowGeometry();
    return x >= 0 && y >= 0 && x < g.width && y < g.height;
}

// The keycode that produces `keysym` with no modifier held, or 0 when none can be found.
bool EditorSession::putSectionSignOnGraveKey()
{
    if (remappedKeys.count(XK_section) != 0)
    {
        return true;
    }
    Display* display = asDisplay(xDisplay);
    const KeyCode grave = XKeysymToKeycode(display, XK_grave);
    if (grave == 0)
    {
        return false;
    }
    KeySym both[2] = {XK_section, XK_section};
    XChangeKeyboardMapping(display, grave, 2, both, 1);
    XSync(display, False);
    remappedKeys[XK_section] = grave;
    return true;
}

unsigned int EditorSession::keycodeFor(unsigned long keysym)
{
    Display* display = asDisplay(xDisplay);
    KeyCode mapped = XKeysymToKeycode(display, keysym);
    if (mapped != 0 && XkbKeycodeToKeysym(display, mapped, 0, 0) == keysym)
    {
        return mapped;
    }
    auto known = remappedKeys.find(keysym);
    if (known != remappedKeys.end())
    {
        return known->second;
    }

    // Take the highest keycode that holds no symbol at all and put the keysym on both of its
    // first levels, the way a scripted key press does when the layout lacks the symbol.
    // It stays there for the session: restoring it right after the release could beat the
    // editor to reading the mapping, and the character would arrive as nothing.
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    int perCode = 0;
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1,
                                      &perCode);
    if (map == nullptr)
    {
        return 0;
    }
    unsigned int spare = 0;
    for (int code = maxCode; code >= minCode && spare == 0; --code)
    {
        bool empty = true;
        for (int level = 0; level < perCode; ++level)
        {
            empty = empty && map[(code - minCode) * perCode + level] == NoSymbol;
        }
        bool taken = false;
        for (const auto& entry : remappedKeys)
        {
            taken = taken || entry.second == static_cast<unsigned int>(code);
        }
        if (empty && !taken)
        {
            spare = static_cast<unsigned int>(code);
        }
    }
    XFree(map);
    if (spare == 0)
    {
        return 0;
    }
    KeySym both[2] = {keysym, keysym};
    XChangeKeyboardMapping(display, static_cast<int>(spare), 2, both, 1);
    XSync(display, False);
    remappedKeys[keysym] = spare;
    return spare;
}

bool EditorSession::fakeKey(unsigned long keysym, bool down)
{
    if (!ensureX())
    {
        return false;
    }
    if (!pointerInsideWindow())
    {
        WindowGeometry g = windowGeometry();
        if (!moveTo(g.width / 2, g.height / 2))
        {
            return false;
        }
    }
    unsigned int code = keycodeFor(keysym);
    if (code == 0)
    {
        std::ostringstream message;
        message << "no keycode can carry keysym 0x" << std::hex << keysym;
        return fail(message.str());
    }
    XTestFakeKeyEvent(asDisplay(xDisplay), code, down ? True : False, CurrentTime);
    return finishAction();
}

bool EditorSession::keyDown(unsigned long keysym)
{
    return fakeKey(keysym, true);
}

bool EditorSession::keyUp(unsigned long keysym)
{
    return fakeKey(keysym, false);
}

bool EditorSession::keyTap(unsigned long keysym)
{
    return keyDown(keysym) && keyUp(keysym);
}

unsigned long EditorSession::colourToPixel(const Rgb& c) const
{
    Display* display = asDisplay(xDisplay);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, editorWindow, &attributes);
    Visual* v = attributes.visual;
    return channelToPixel(c.r, v->red_mask) | channelToPixel(c.g, v->green_mask) |
           channelToPixel(c.b, v->blue_mask);
}

// Every presented frame replaces the whole window. So: paint a probe patch straight into the
// window, and the frame is there once the patch is gone. The patch sits in the bottom-right
// corner because a large image update reaches the server top half first; the corner is in
// the last piece, so seeing it replaced means the frame has been sent completely.
bool EditorSession::waitForFrames(int count, Millis timeout)
{
    assert(count >= 1);
    if (!ensureX())
    {
        return false;
    }
    Display* display = asDisplay(xDisplay);
    Window window = editorWindow;
    GC gc = XCreateGC(display, window, 0, nullptr);
    // The probe goes over child windows too: Wine draws a program's OpenGL into a child
    // window that covers the top-level one, where a probe clipped by children would never
    // show, and every wait would end at once, before any frame.
    XSetSubwindowMode(display, gc, IncludeInferiors);
    unsigned long probe = colourToPixel(PROBE_COLOUR);
    Clock::time_point deadline = Clock::now() + timeout;
    bool ok = true;
    for (int frame = 0; frame < count && ok; ++frame)
    {
        WindowGeometry g = windowGeometry();
        int x = g.width - PROBE_SIZE;
        int y = g.height - PROBE_SIZE;
        XSetForeground(display, gc, probe);
        XFillRectangle(display, window, gc, x, y, PROBE_SIZE, PROBE_SIZE);
        XSync(display, False);
        bool replaced = false;
        while (!replaced && ok)
        {
            WindowImage patch = readWindow(display, window, x, y, PROBE_SIZE, PROBE_SIZE);
            for (int py = 0; py < patch.height; ++py)
            {
                for (int px = 0; px < patch.width; ++px)
                {
                    replaced = replaced || patch.pixel(px, py) != PROBE_COLOUR;
                }
            }
            if (replaced)
            {
                break;
            }
            if (!isAlive())
            {
                ok = fail("the editor ended while a frame was awaited");
            }
            else if (Clock::now() >= deadline)
            {
                ok = fail("the editor presented " + std::to_string(frame) + " of " +
                          std::to_string(count) + " frames within " +
                          std::to_string(timeout.count()) + " ms");
            }
            else
            {
                std::this_thread::sleep_for(Millis(1));
            }
        }
    }
    XFreeGC(display, gc);
    return ok;
}

WindowImage EditorSession::grab()
{
    if (!ensureX())
    {
        return {};
    }
    WindowGeometry g = windowGeometry();
    WindowImage image = readWindow(asDisplay(xDisplay), editorWindow, 0, 0, g.width, g.height);
    if (image.width == 0)
    {
        fail("cannot read the editor window's pixels");
    }
    return image;
}

Rgb EditorSession::pixel(int x, int y)
{
    if (!ensureX())
    {
        return {};
    }
    WindowImage image = readWindow(asDisplay(xDisplay), editorWindow, x, y, 1, 1);
    if (image.width == 0)
    {
        fail("cannot read window pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")");
        return {};
    }
    return image.pixel(0, 0);
}
