// What Unicode's own tables, as Qt has them, make of a character in a
// peer's text, for the tests that judge the log's display of it without
// taking the program's own list: C1 controls, line and paragraph
// separators and format characters hide text, reorder it or break its
// line. A character newer than Qt's tables is left unjudged. Linux only.
#pragma once

#include <QChar>

enum class Judged { Shown, Replaced, Either };

inline Judged JudgedByUnicode(char32_t character)
{
    switch (QChar::category(character)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return Judged::Replaced;
    case QChar::Other_NotAssigned:
        return Judged::Either;
    default:
        return Judged::Shown;
    }
}
