#pragma once

#include <QString>

// Text the instrument sent, made safe to print on a terminal: each control
// character (U+0000 to U+001F, U+007F to U+009F) is written as a backslash
// form, "\t", "\n", "\r", or "\x1b" with two lower-case hex digits, so that
// an escape sequence in it shows instead of acting on the terminal. Every
// other character, a backslash included, stays as it is.
QString printableText(const QString &text);
