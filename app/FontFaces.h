// The Japanese Gothic faces both windows are laid out with, and the Linux
// faces that stand in for them (package fonts-ipafont-gothic).
//
// Either window may call InstallFontSubstitutions, in any order and as often
// as it likes: a substitution that is already there is not added again.
#pragma once

#include <QFont>
#include <QString>

// "ＭＳ Ｐゴシック": the proportional Gothic face.
inline QString ProportionalGothicFace() { return QString::fromUtf8("\uFF2D\uFF33 \uFF30\u30B4\u30B7\u30C3\u30AF"); }
// "ＭＳ ゴシック": the fixed-pitch Gothic face.
inline QString FixedGothicFace() { return QString::fromUtf8("\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF"); }

inline void InstallFontSubstitutions() {
    QFont::insertSubstitution(ProportionalGothicFace(), QStringLiteral("IPAPGothic"));
    QFont::insertSubstitution(FixedGothicFace(), QStringLiteral("IPAGothic"));
}
