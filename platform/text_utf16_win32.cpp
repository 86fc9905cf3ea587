#include "platform/text_utf16.h"

#include <cstring>
#include <windows.h>

WidePath::WidePath(const char* path)
{
    const size_t size = std::strlen(path);
    const int length = size < 32767 ? MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path,
                                                          static_cast<int>(size), text, 32767)
                                    : 0;
    text[length > 0 ? length : 0] = L'\0';
    valid = length > 0;
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
