#include "rules/printabletext.h"

#include <algorithm>

namespace {

bool isControl(char16_t character)
{
    return character < 0x20 || (character >= 0x7f && character <= 0x9f);
}

} // namespace

QString printableText(const QString &text)
{
    // Most texts hold no control character: they are returned as they are.
    const auto firstControl = std::find_if(text.cbegin(), text.cend(),
                                           [](QChar character) { return isControl(character.unicode()); });
    if (firstControl == text.cend())
        return text;

    QString printable;
    printable.reserve(text.size() + 8);
    for (const QChar character : text) {
        const char16_t code = character.unicode();
        if (!isControl(code)) {
            printable += character;
        } else if (code == '\t') {
            printable += QLatin1String("\\t");
        } else if (code == '\n') {
            printable += QLatin1String("\\n");
        } else if (code == '\r') {
            printable += QLatin1String("\\r");
        } else {
            printable += QLatin1String("\\x") + QString::number(code, 16).rightJustified(2, QLatin1Char('0'));
        }
    }
    return printable;
}
