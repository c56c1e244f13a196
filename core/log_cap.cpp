#include "core/log_cap.h"

int CharactersOverCap(int lines, int length, const LineStart& lineStart, const LineStartFrom& lineStartFrom)
{
    int cut = 0;
    if (lines > LOG_LINE_LIMIT)
        cut = lineStart(lines - 1 - LOG_LINE_LIMIT * 9 / 10);
    if (length > LOG_CHAR_LIMIT && cut < length - LOG_CHAR_LIMIT * 9 / 10)
        cut = lineStartFrom(length - LOG_CHAR_LIMIT * 9 / 10);
    return cut;
}
