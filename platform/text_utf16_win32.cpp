#include "platform/text_utf16.h"

#include <windows.h>

std::wstring widen(const std::string& text)
{
    std::wstring wide;
    const int size = static_cast<int>(text.size());
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length > 0)
    {
        wide.assign(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], length);
    }
    return wide;
}

int widenInto(const char* text, size_t size, wchar_t* wide, int capacity)
{
    return MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), wide, capacity);
}

std::string narrow(const std::wstring& wide)
{
    std::string text;
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length > 0)
    {
        text.assign(static_cast<size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &text[0], length, nullptr, nullptr);
    }
    return text;
}
