#include "app/WindowFonts.h"

namespace {
const char* const kPGothic = "ＭＳ Ｐゴシック";
const char* const kGothic = "ＭＳ ゴシック";

// Registers the substitutions once.
void InstallFontSubstitutes() {
    static bool done = false;
    if (done) return;
    done = true;
    QFont::insertSubstitution(QString::fromUtf8(kPGothic), QStringLiteral("IPAPGothic"));
    QFont::insertSubstitution(QString::fromUtf8(kGothic), QStringLiteral("IPAGothic"));
}

}  // namespace

QFont PGothicFont(int pixels) {
    InstallFontSubstitutes();
    QFont f(QString::fromUtf8(kPGothic));
    f.setPixelSize(pixels);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

QFont GothicFont(int pixels, bool bold) {
    InstallFontSubstitutes();
    QFont f(QString::fromUtf8(kGothic));
    f.setPixelSize(pixels);
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setBold(bold);
    return f;
}
