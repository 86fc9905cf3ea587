// Every message line the user texts quote is the line the editor prints. One table: for each
// message, the texts that quote it, its shape ("..." where the text or the program puts a
// path, a number or a reason), and how to make the editor print it. A text fails when none of
// its quotes has that shape; the editor fails when no line it prints has it.
#include "editor_session.h"

#include <X11/keysym.h>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
constexpr int RIGHT = 3;

const std::string README = "README.md";
const std::string MAN_PAGE = "docs/gantrix.1";
const std::string WINDOWS_README = "docs/README-windows.txt";

std::string readSourceFile(const std::string& relative)
{
    std::ifstream in(std::string(GANTRIX_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a command prints on its standard output and standard error together.
std::string commandOutput(const std::string& command)
{
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
    {
        return output;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    {
        output.append(buffer.data(), n);
    }
    pclose(pipe);
    return output;
}

// A text as its reader sees it, white space runs made one space: the man page as groff sets
// it (no hyphenation, no line breaks in paragraphs), the others as they are.
std::string readerText(const std::string& doc)
{
    std::string text = doc == MAN_PAGE
                           ? commandOutput("groff -man -Tutf8 -P-cbou -rLL=4000n -rHY=0 " +
                                           std::string(GANTRIX_SOURCE_DIR) + "/" + doc)
                           : readSourceFile(doc);
    for (const char* hyphen : {"\u2010", "\u2212"})
    {
        for (size_t at = text.find(hyphen); at != std::string::npos; at = text.find(hyphen))
        {
            text.replace(at, std::strlen(hyphen), "-");
        }
    }
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

// `shape` as a regular expression, its "..." standing for `wildcard`.
std::string shapeRegex(const std::string& shape, const std::string& wildcard)
{
    static const std::regex special("[.^$|()\\[\\]{}*+?\\\\]");
    std::string out;
    size_t from = 0;
    for (size_t at = shape.find("..."); from <= shape.size(); at = shape.find("...", from))
    {
        const size_t end = at == std::string::npos ? shape.size() : at;
        out += std::regex_replace(shape.substr(from, end - from), special, "\\$&");
        if (at == std::string::npos)
        {
            break;
        }
        out += wildcard;
        from = at + 3;
    }
    return out;
}

// Whether a quote of the shape is in the text: "..." in the shape is the text's own "..." or
// an example (a path, a reason) within one quote.
bool quotedIn(const std::string& text, const std::string& shape)
{
    return std::regex_search(text, std::regex(shapeRegex(shape, "(?:\\.\\.\\.|[^`\"]{1,160}?)")));
}

// Whether one of the lines the program printed has the shape, whole or, for a line's end, at
// its end.
bool printedBy(const std::string& output, const std::string& shape, bool lineEnd)
{
    const std::regex line((lineEnd ? "" : "^") + shapeRegex(shape, ".*") + "\r?$");
    std::istringstream lines(output);
    std::string l;
    while (std::getline(lines, l))
    {
        if (std::regex_search(l, line))
        {
            return true;
        }
    }
    return false;
}

// The editor run once without a session, with an environment prefix and `program` (which may
// run it on a server of its own).
std::string startOutput(const std::string& environment, const std::string& program = GANTRIX_BINARY)
{
    return commandOutput("env " + environment + " timeout 20 " + program + " </dev/null");
}

// The running editor's error lines after `action`, once it has said `awaited` once more.
std::string errorsAfter(EditorSession& editor, const std::function<bool()>& action,
                        const std::string& awaited)
{
    const std::string before = editor.stderrText();
    int seen = 0;
    for (size_t at = before.find(awaited); at != std::string::npos;
         at = before.find(awaited, at + 1))
    {
        ++seen;
    }
    if (!action() || !editor.waitForStderr(awaited, seen + 1))
    {
        return "(nothing said)";
    }
    return editor.stderrText().substr(before.size());
}

// One message: the texts quoting it, its shape, whether the shape is only a line's end, and
// what the editor prints when made to say it. `fileLayer` marks the lines that the save and
// the load word.
struct DocMessage
{
    std::vector<std::string> docs;
    std::string shape;
    bool lineEnd = false;
    bool fileLayer = false;
    std::function<std::string(EditorSession&)> provoke;
};

const std::string WITH_XVFB_EDITOR = GANTRIX_WITH_XVFB " " GANTRIX_BINARY;

// A save where ship.hul is a folder.
std::string saveOverAFolder(EditorSession& e)
{
    fs::create_directory(e.workDir() + "/ship.hul");
    const std::string said = errorsAfter(
        e, [&] { return e.keyTap(XK_1); }, "cannot save");
    fs::remove(e.workDir() + "/ship.hul");
    return said;
}

std::vector<DocMessage> messageTable()
{
    return {
        {{README, MAN_PAGE},
         "gantrix: cannot save ship.hul in ...: ship.hul is a folder, not a regular file",
         false,
         true,
         saveOverAFolder},
        {{WINDOWS_README},
         "gantrix: cannot save ship.hul in ...: ...",
         false,
         true,
         saveOverAFolder},
        {{README, MAN_PAGE},
         "gantrix: cannot load ship.hul in ...: line 3: file ends early (attachment 1 of 1)",
         false,
         true,
         [](EditorSession& e)
         {
             e.writeWorkFile("ship.hul", "0\r\n1\r\n12.5 0 97 0 0");
             return errorsAfter(
                 e, [&] { return e.keyTap(XK_0); }, "cannot load");
         }},
        {{WINDOWS_README},
         "gantrix: cannot load ship.hul in ...: No such file or directory",
         false,
         true,
         [](EditorSession& e)
         {
             fs::remove(e.workDir() + "/ship.hul");
             return errorsAfter(
                 e, [&] { return e.keyTap(XK_0); }, "cannot load");
         }},
        // An I/O error in the middle of a rewrite in place takes a failing disk; the line
        // the save falls back to when even memory is short says it in the same words.
        {{README, MAN_PAGE, WINDOWS_README},
         "gantrix: unsaved work from ... (...) is kept in ...; to get "
         "it back, copy it over ship.hul and press 0",
         false,
         true,
         [](EditorSession& e)
         {
             e.click(RIGHT, 450, 450);
             e.click(RIGHT, 525, 450);
             e.click(RIGHT, 450, 375);
             for (int wait = 0; wait < 100 && e.recoveryCopies().empty(); ++wait)
             {
                 std::this_thread::sleep_for(Millis(100));
             }
             e.stopEditor();
             e.startEditor();
             return e.stderrText();
         }},
        // The binding's memory refused in a frame takes a ship beyond the memory a load set
        // aside; the frame prints this literal.
        {{README, MAN_PAGE},
         "gantrix: no X display: ...",
         false,
         false,
         [](EditorSession&) { return startOutput("-u DISPLAY"); }},
        {{MAN_PAGE},
         "gantrix: no X display: DISPLAY is not set ...",
         false,
         false,
         [](EditorSession&) { return startOutput("-u DISPLAY"); }},
        {{README, MAN_PAGE},
         "gantrix: cannot open X display ...",
         false,
         false,
         [](EditorSession&) { return startOutput("DISPLAY=:4093"); }},
        {{README, MAN_PAGE},
         "gantrix: cannot open the window on X display ...: ... (no OpenGL there: ...)",
         false,
         false,
         [](EditorSession&) { return startOutput("WITH_XVFB_DEPTH=8", WITH_XVFB_EDITOR); }},
        {{README, MAN_PAGE},
         "gantrix: the window on X display ... is gone ...",
         false,
         false,
         [](EditorSession&)
         {
             EditorSession own;
             if (!own.start() || !own.destroyWindowFromOutside() || !own.waitForExit())
             {
                 return std::string("(the window could not be destroyed)");
             }
             return own.stderrText();
         }},
        {{README, MAN_PAGE},
         "gantrix: lost the connection to the X display ...",
         false,
         false,
         [](EditorSession&)
         {
             EditorSession own;
             if (!own.start())
             {
                 return std::string("(no editor)");
             }
             own.stopServer();
             own.waitForExit();
             return own.stderrText();
         }},
#ifdef GANTRIX_WINDOWS_EDITOR
        {{WINDOWS_README},
         "gantrix: cannot open the window: ...",
         false,
         false,
         [](EditorSession&)
         {
             // Without any display Wine can give it no window.
             return commandOutput("cd " + testing::TempDir() +
                                  " && env -u DISPLAY timeout 120 " GANTRIX_WITH_WINE
                                  " --own-prefix " GANTRIX_WINDOWS_EDITOR " </dev/null");
         }},
#endif
    };
}
} // namespace

TEST(DocMessages, EveryQuotedLineIsWhatTheEditorPrints)
{
    std::map<std::string, std::string> texts;
    for (const std::string& doc : {README, MAN_PAGE, WINDOWS_README})
    {
        texts[doc] = readerText(doc);
        ASSERT_GT(texts[doc].size(), 1000u) << doc;
    }
    EditorSession editor;
    ASSERT_TRUE(editor.start());
    for (const DocMessage& m : messageTable())
    {
        for (const std::string& doc : m.docs)
        {
            EXPECT_TRUE(quotedIn(texts[doc], m.shape)) << doc << " does not quote: " << m.shape;
        }
        const std::string printed = m.provoke(editor);
        EXPECT_TRUE(printedBy(printed, m.shape, m.lineEnd))
            << "the editor does not print: " << m.shape << "\nit printed: " << printed
            << (m.fileLayer ? "\n(a line of the save and the load)" : "");
    }
}
