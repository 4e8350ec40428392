// The window faces. The layout names the Windows faces "ＭＳ Ｐゴシック"
// (proportional) and "ＭＳ ゴシック" (fixed pitch); on Linux they are
// substituted by IPAPGothic and IPAGothic (package fonts-ipafont-gothic).
#pragma once

#include <QFont>

// Registers the substitutions once; the font helpers call it themselves.
void InstallFontSubstitutes();

// "ＭＳ Ｐゴシック" / "ＭＳ ゴシック" at a height in pixels.
QFont PGothicFont(int pixels);
QFont GothicFont(int pixels, bool bold = false);
