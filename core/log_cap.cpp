#include "core/log_cap.h"

#include <algorithm>

namespace {

const WCHAR LINE_END = '\n';

}  // namespace

int CharactersOverCap(int lines, int length, const LineStart& lineStart, const LineOf& lineOf)
{
    int cut = 0;
    if (lines > LOG_LINE_LIMIT)
        cut = lineStart(lines - 1 - LOG_LINE_LIMIT * 9 / 10);
    const int from = length - LOG_CHAR_LIMIT * 9 / 10;
    if (length <= LOG_CHAR_LIMIT || cut >= from)
        return cut;
    // From the first line start at or after from; within the last line
    // when from lies there.
    const int line = lineOf(from);
    const int start = lineStart(line);
    if (start >= from)
        return start;
    return line + 1 < lines ? lineStart(line + 1) : from;
}

int LineEndsIn(const LogString& text, int from, int to)
{
    return static_cast<int>(std::count(text.begin() + from, text.begin() + to, LINE_END));
}

int LineStartIn(const LogString& text, int line)
{
    size_t at = 0;
    for (int i = 0; i < line; ++i)
        at = text.find(LINE_END, at) + 1;
    return static_cast<int>(at);
}
