#pragma once

#include <string>

// Paths and messages are UTF-8 inside the editor and UTF-16 for Windows, so a folder whose
// name is not ASCII works like any other. Built on Windows only (text_utf16_win32.cpp).

// UTF-8 to UTF-16; text that is not valid UTF-8 gives an empty result.
std::wstring widen(const std::string& text);

// UTF-8 to UTF-16 into `wide`, which holds `capacity` characters, taking no memory, so that a
// line saying the editor ran out of it can still be shown. Invalid UTF-8 comes out as U+FFFD.
// Returns the characters written, 0 when the text does not fit or is empty.
int widenInto(const char* text, size_t size, wchar_t* wide, int capacity);

// UTF-16 to UTF-8.
std::string narrow(const std::wstring& wide);
