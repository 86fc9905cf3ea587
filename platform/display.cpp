#include "platform/display.h"

#include "platform/console.h"

#include <GL/freeglut.h>

#include <cstdarg>
#include <cstdio>

static void (*lastWordsOnLoss)() = nullptr;
static bool windowOpen = false;
static char windowPlace[300] = "";
static const char* windowHint = "";

void setDisplayLostLastWords(void (*lastWords)())
{
    lastWordsOnLoss = lastWords;
}

void noteWindowOpen()
{
    windowOpen = true;
}

void sayLastWords()
{
    void (*lastWords)() = lastWordsOnLoss;
    lastWordsOnLoss = nullptr;
    if (lastWords != nullptr)
    {
        lastWords();
    }
}

// The callers put the line together on the stack: they run inside a failed call of the toolkit
// or of the display's library.
void endWithLine(const char* line)
{
    writeErrorLine(line);
    sayLastWords();
    exitAfterLines();
}

// The toolkit's words, on one line.
static void formatOneLine(char* text, size_t size, const char* format, va_list arguments)
{
    std::vsnprintf(text, size, format, arguments);
    for (char* c = text; *c != '\0'; ++c)
    {
        *c = *c == '\r' || *c == '\n' ? ' ' : *c;
    }
}

static void onToolkitError(const char* format, va_list arguments)
{
    char message[512];
    formatOneLine(message, sizeof message, format, arguments);
    char line[1200];
    if (windowOpen)
    {
        std::snprintf(line, sizeof line, "gantrix: the toolkit failed: %s", message);
    }
    else
    {
        std::snprintf(line, sizeof line, "gantrix: cannot open the window%s: %s (%s)", windowPlace,
                      message, windowHint);
    }
    endWithLine(line);
}

// The toolkit's warnings keep its own words, but go out as the editor's other lines do, which
// never wait for a stream that takes nothing.
static void onToolkitWarning(const char* format, va_list arguments)
{
    char message[512];
    formatOneLine(message, sizeof message, format, arguments);
    char line[600];
    std::snprintf(line, sizeof line, "freeglut (gantrix): %s", message);
    writeErrorLine(static_cast<const char*>(line));
}

void reportToolkitErrors(const char* place, const char* hint)
{
    std::snprintf(windowPlace, sizeof windowPlace, "%s", place);
    windowHint = hint;
    glutInitErrorFunc(onToolkitError);
    glutInitWarningFunc(onToolkitWarning);
}
