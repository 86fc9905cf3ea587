#pragma once

#include <string>

// Paths and messages are UTF-8 inside the editor and UTF-16 for Windows, so a folder whose
// name is not ASCII works like any other. Built on Windows only (text_utf16_win32.cpp).

// UTF-8 to UTF-16; text that is not valid UTF-8 gives an empty result.
std::wstring widen(const std::string& text);

// UTF-16 to UTF-8.
std::string narrow(const std::wstring& wide);
