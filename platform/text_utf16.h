#pragma once

#include <string>

// Paths and messages are UTF-8 inside the editor and UTF-16 for Windows, so a folder whose
// name is not ASCII works like any other. Built on Windows only (text_utf16_win32.cpp).

// A UTF-8 path as the system takes it, made on the stack: a call that gives a file up (a
// failed save that ran out of memory, the end of the run) asks for no memory on the way. A path
// that is not valid UTF-8 or is too long for the system leaves `valid` false and `text` empty.
struct WidePath
{
    explicit WidePath(const char* path);
    explicit WidePath(const std::string& path) : WidePath(path.c_str()) {}
    wchar_t text[32768];
    bool valid = false;
};

// UTF-8 to UTF-16 into `wide`, which holds `capacity` characters, taking no memory, so that a
// line saying the editor ran out of it can still be shown. Invalid UTF-8 comes out as U+FFFD.
// Returns the characters written, 0 when the text does not fit or is empty.
int widenInto(const char* text, size_t size, wchar_t* wide, int capacity);

// UTF-16 to UTF-8.
std::string narrow(const std::wstring& wide);
