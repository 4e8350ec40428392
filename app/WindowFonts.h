// The window faces. The layout names the Windows faces "ＭＳ Ｐゴシック"
// (proportional) and "ＭＳ ゴシック" (fixed pitch); on Linux they are
// substituted by IPAPGothic and IPAGothic (package fonts-ipafont-gothic).
#pragma once

#include <QFont>

// "ＭＳ Ｐゴシック" / "ＭＳ ゴシック" at a height in pixels; the first call
// registers the substitutions.
QFont PGothicFont(int pixels);
QFont GothicFont(int pixels, bool bold = false);
