// Text helpers shared by the dialog controller and the client.
#pragma once

#include <windows.h>

// Converts length characters of wide text (no terminator counted) to newly
// allocated, NUL-terminated narrow text that the caller releases with
// free(). Anything that cannot be converted gives an empty text; null only
// when not even that could be allocated.
char* WideToNarrow(LPCWSTR wide, int length);
