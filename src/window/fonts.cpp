#include "window/fonts.h"

#include <QFont>
#include <QStringList>

void registerFontSubstitutes()
{
    // The forms' rectangles were made to measure for a narrow dialog font. At
    // the forms' sizes the usual sans families are too wide for some of them
    // ("12.5%" at 32 pt bold takes 149 px in DejaVu Sans and 122 px in
    // Liberation Sans against 121 px), while Liberation Sans Narrow fits every
    // text with room to spare (100 px). Liberation Sans is kept as a fallback:
    // its glyphs still stay inside the rectangles.
    QFont::removeSubstitutions(QStringLiteral("MS Shell Dlg 2"));
    QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg 2"),
                               {QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Liberation Sans")});

    // The licence text names this family list as one family; without a
    // substitute it would not even be shown monospaced.
    QFont::removeSubstitutions(QStringLiteral("Courier New,courier"));
    QFont::insertSubstitutions(QStringLiteral("Courier New,courier"), {QStringLiteral("Liberation Mono")});
}
