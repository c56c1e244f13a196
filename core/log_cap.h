// The log's cap, one rule for everything the log holds: the log box and
// the text waiting to go into it, together, keep at most LOG_LINE_LIMIT
// lines and LOG_CHAR_LIMIT characters. Past either, the oldest lines go in
// one step, down to nine tenths of the limit, so that dropping is rare and
// its cost is spread over many lines.
#pragma once

#include <functional>
#include <string>

#include <windows.h>

// The log box keeps the newest this many lines, so a server that runs for
// days stays as fast and as small as on its first day.
#define LOG_LINE_LIMIT 10000
// A full log of the longest lines; only text without line ends (or typed
// by the user) comes near it, and no single line can grow past it.
#define LOG_CHAR_LIMIT (LOG_LINE_LIMIT * 256)

// Wide text as the log box takes it, "\r\n" ending each line.
typedef std::basic_string<WCHAR> LogString;

// Where a line starts, as a character position; line 0 starts at 0.
typedef std::function<int(int line)> LineStart;
// The line that holds a character position.
typedef std::function<int(int position)> LineOf;

// How many characters to drop from the start of a text of lines lines
// (line ends plus one) and length characters so that it keeps within the
// cap: whole lines where there are any, else part of the last one.
int CharactersOverCap(int lines, int length, const LineStart& lineStart, const LineOf& lineOf);

// The same questions of a text held in memory.
int LineEndsIn(const LogString& text, int from, int to);
int LineStartIn(const LogString& text, int line);
