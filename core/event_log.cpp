#include "core/event_log.h"

#include <cstdarg>

#include "core/app_state.h"
#include "frontend/resource.h"
#include "platform/extensions.h"

void AppendLog(LPCWSTR format, ...)
{
    WCHAR text[LOG_LINE_CHARS];
    va_list args;
    va_start(args, format);
    FormatTextV(text, LOG_LINE_CHARS, format, args);
    va_end(args);
    SendDlgItemMessageW(AppState.dialog.load(), IDC_LOG, EM_APPENDTEXT, 0, (LPARAM)text);
}
