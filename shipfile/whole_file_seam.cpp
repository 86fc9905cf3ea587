#include "shipfile/whole_file.h"

// The whole-file calls over the per-OS seam, for the systems whose file layer is written as
// that seam alone.

bool readWholeFile(const char* path, std::string& text, std::string& error)
{
    FileSource source;
    if (!openFileSource(path, source, error))
    {
        return false;
    }
    // The size at the open bounds the memory taken; one byte more shows a file that grew
    // while it was read, which is not read on.
    text.assign(static_cast<size_t>(source.size) + 1, '\0');
    size_t got = 0;
    bool ok = true;
    while (ok && got < text.size())
    {
        const long long n = readFileSource(source, &text[got], text.size() - got, error);
        ok = n >= 0;
        if (n <= 0)
        {
            break;
        }
        got += static_cast<size_t>(n);
    }
    closeFileSource(source);
    if (ok && got > source.size)
    {
        error = "the file grew while it was read";
        ok = false;
    }
    text.resize(ok ? got : 0);
    return ok;
}

bool replaceFileContent(const std::string& path, const std::string& content, std::string& error)
{
    FileReplacement replacement;
    if (!beginFileReplacement(path.c_str(), replacement, error))
    {
        return false;
    }
    if (!writeFileReplacement(replacement, content.data(), content.size(), error))
    {
        abandonFileReplacement(replacement);
        return false;
    }
    return commitFileReplacement(replacement, error);
}
