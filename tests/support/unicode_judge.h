// What Unicode's own tables, as Qt has them, make of a character in a
// peer's text, for the tests that judge the log's display of it without
// taking the program's own list: C1 controls, line and paragraph
// separators and format characters hide text, reorder it or break its
// line; noncharacters are never text, and they and the object replacement
// character are structure to Qt's text document. A character newer than
// Qt's tables is left unjudged. Linux only.
#pragma once

#include <QChar>

enum class Judged { Shown, Replaced, Either };

inline Judged JudgedByUnicode(char32_t character)
{
    // Never text, and structure to Qt's text document (U+FDD0, U+FDD1).
    if (QChar::isNonCharacter(character) || character == QChar::ObjectReplacementCharacter)
        return Judged::Replaced;
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
