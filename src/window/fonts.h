#pragma once

// Registers installed families for the font names the forms ask for, so that
// every text fits its rectangle where those fonts do not exist. Safe to call
// more than once.
void registerFontSubstitutes();
