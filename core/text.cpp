#include "core/text.h"

#include <cstdlib>

char* WideToNarrow(LPCWSTR wide, int length)
{
    int size = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (size > 0) {
        auto* narrow = static_cast<char*>(calloc(static_cast<size_t>(size) + 1, 1));
        if (narrow != nullptr) {
            if (WideCharToMultiByte(CP_ACP, 0, wide, length, narrow, size, nullptr, nullptr) > 0)
                return narrow;
            free(narrow);
        }
    }
    return static_cast<char*>(calloc(1, 1));
}
