#include "app/MonitorWindow.h"

#include "app/WindowFonts.h"
#include "app/WindowPlace.h"
#include "monitor/Monitor.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <cstring>

TForm2* Form2 = nullptr;

namespace {

// The window's place and its inside; with a usual frame the outer size is
// about 473 x 290.
constexpr int kLeft = 590, kTop = 276;
constexpr int kClientWidth = 465, kClientHeight = 256;

// The keyboard grid: 25 x 25 keys on a 24-pixel pitch, six columns.
constexpr int kKeySize = 25, kPitch = 24, kGridLeft = 8;

const QColor kBlack(0x00, 0x00, 0x00);
const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kGreen(0x00, 0x80, 0x00);

struct Place {
    int left, top, width, height;
};

// Where key button `n` (1..41) sits.
Place KeyPlace(int n) {
    auto cell = [](int column, int top) { return Place{kGridLeft + column * kPitch, top, kKeySize, kKeySize}; };
    if (n <= 26) return cell((n - 1) % 6, 24 + (n - 1) / 6 * kPitch);  // letters, six to a row
    if (n <= 32) return cell(n - 27, 160);                             // "0" … "5"
    if (n <= 36) return cell(n - 33, 184);                             // "6" … "9"
    if (n <= 40) return cell(n - 37, 208);                             // "/" "*" "-" "+"
    return Place{104, 184, 49, 49};                                    // "Enter"
}

QString KeyCaption(int n) {
    if (n == 41) return QStringLiteral("Enter");
    return QString(QChar(KeyByte(n, false)));
}

void SetLook(QWidget* w, const Place& p, int fontPixels, QPalette::ColorRole role, const QColor& colour) {
    w->setGeometry(p.left, p.top, p.width, p.height);
    w->setFont(PGothicFont(fontPixels));
    QPalette palette = w->palette();
    palette.setColor(role, colour);
    w->setPalette(palette);
}

}  // namespace

TForm2::TForm2(FormCore& mainForm, QWidget* parent) : QWidget(parent, Qt::Window), form_(mainForm) {
    // 1. The window: caption, place, its own font (blue, 12 pixels; no control
    //    inherits it, each sets its own). It stays hidden until VIEW.
    setWindowTitle(QStringLiteral("SIO MONITOR & KEYBOARD"));
    resize(kClientWidth, kClientHeight);
    MoveOnScreen(this, QPoint(kLeft, kTop));
    setFont(PGothicFont(12));
    QPalette own = palette();
    own.setColor(QPalette::WindowText, kBlue);
    setPalette(own);
    // Only the main window's closing ends the application.
    setAttribute(Qt::WA_QuitOnClose, false);

    // 2. The 43 buttons and their handlers.
    QPushButton* TForm2::*const fields[] = {
        &TForm2::Button1,  &TForm2::Button2,  &TForm2::Button3,  &TForm2::Button4,  &TForm2::Button5,
        &TForm2::Button6,  &TForm2::Button7,  &TForm2::Button8,  &TForm2::Button9,  &TForm2::Button10,
        &TForm2::Button11, &TForm2::Button12, &TForm2::Button13, &TForm2::Button14, &TForm2::Button15,
        &TForm2::Button16, &TForm2::Button17, &TForm2::Button18, &TForm2::Button19, &TForm2::Button20,
        &TForm2::Button21, &TForm2::Button22, &TForm2::Button23, &TForm2::Button24, &TForm2::Button25,
        &TForm2::Button26, &TForm2::Button27, &TForm2::Button28, &TForm2::Button29, &TForm2::Button30,
        &TForm2::Button31, &TForm2::Button32, &TForm2::Button33, &TForm2::Button34, &TForm2::Button35,
        &TForm2::Button36, &TForm2::Button37, &TForm2::Button38, &TForm2::Button39, &TForm2::Button40,
        &TForm2::Button41, &TForm2::Button42, &TForm2::Button43};
    void (TForm2::*const handlers[])() = {
        &TForm2::Button1Click,  &TForm2::Button2Click,  &TForm2::Button3Click,  &TForm2::Button4Click,
        &TForm2::Button5Click,  &TForm2::Button6Click,  &TForm2::Button7Click,  &TForm2::Button8Click,
        &TForm2::Button9Click,  &TForm2::Button10Click, &TForm2::Button11Click, &TForm2::Button12Click,
        &TForm2::Button13Click, &TForm2::Button14Click, &TForm2::Button15Click, &TForm2::Button16Click,
        &TForm2::Button17Click, &TForm2::Button18Click, &TForm2::Button19Click, &TForm2::Button20Click,
        &TForm2::Button21Click, &TForm2::Button22Click, &TForm2::Button23Click, &TForm2::Button24Click,
        &TForm2::Button25Click, &TForm2::Button26Click, &TForm2::Button27Click, &TForm2::Button28Click,
        &TForm2::Button29Click, &TForm2::Button30Click, &TForm2::Button31Click, &TForm2::Button32Click,
        &TForm2::Button33Click, &TForm2::Button34Click, &TForm2::Button35Click, &TForm2::Button36Click,
        &TForm2::Button37Click, &TForm2::Button38Click, &TForm2::Button39Click, &TForm2::Button40Click,
        &TForm2::Button41Click, &TForm2::Button42Click, &TForm2::Button43Click};
    for (int n = 1; n <= 43; ++n) {
        auto* button = new QPushButton(this);
        this->*fields[n - 1] = button;
        connect(button, &QPushButton::clicked, this, handlers[n - 1]);
        if (n <= 41) {
            button->setText(KeyCaption(n));
            SetLook(button, KeyPlace(n), 16, QPalette::ButtonText, kBlack);
        }
    }
    Button42->setText(QStringLiteral("MON.CLR"));
    SetLook(Button42, {160, 200, 75, 25}, 16, QPalette::ButtonText, kBlack);
    Button43->setText(QStringLiteral("CPU_RESET"));
    SetLook(Button43, {344, 200, 105, 25}, 16, QPalette::ButtonText, kBlue);

    // 3. The "small letter" box, to the right of "Y" and "Z".
    CheckBox1 = new QCheckBox(QStringLiteral("small letter"), this);
    SetLook(CheckBox1, {72, 128, 81, 17}, 12, QPalette::WindowText, kBlack);

    // 4. The display: vertical scroll bar only, lines wrapped at its width,
    //    editable (what is typed there is never sent).
    Memo1 = new QPlainTextEdit(this);
    SetLook(Memo1, {160, 24, 289, 153}, 16, QPalette::Text, kBlack);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setMaximumBlockCount(kMaxLines);

    // 5. The maker's name.
    Label1 = new QLabel(QStringLiteral("h8sxwriter"), this);
    SetLook(Label1, {8, 240, 132, 12}, 12, QPalette::WindowText, kGreen);

    // 6. Tab order: the letters, "small letter", the other keys and MON.CLR,
    //    the display, CPU_RESET.
    QWidget* order[] = {Button1,  Button2,  Button3,  Button4,  Button5,  Button6,  Button7,  Button8,  Button9,
                        Button10, Button11, Button12, Button13, Button14, Button15, Button16, Button17, Button18,
                        Button19, Button20, Button21, Button22, Button23, Button24, Button25, Button26, CheckBox1,
                        Button27, Button28, Button29, Button30, Button31, Button32, Button33, Button34, Button35,
                        Button36, Button37, Button38, Button39, Button40, Button41, Button42, Memo1,    Button43};
    for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i) setTabOrder(order[i - 1], order[i]);
}

TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}

void TForm2::AppendLine(const std::string& bytes) {
    const size_t length = std::strlen(bytes.c_str());  // up to the first zero byte
    pending_.append(QString::fromLatin1(bytes.data(), static_cast<qsizetype>(length)));
    if (!flushQueued_) {
        flushQueued_ = true;
        QTimer::singleShot(0, this, &TForm2::FlushLines);
    }
}

void TForm2::FlushLines() {
    flushQueued_ = false;
    if (pending_.isEmpty()) return;

    // 1. Where the reader is. A hidden window keeps what it was last shown at.
    QScrollBar* bar = Memo1->verticalScrollBar();
    if (isVisible()) followEnd_ = bar->value() >= bar->maximum();
    // A cursor on the line at the top of the view follows that line when the
    // oldest lines are taken out of the document.
    const QTextBlock topBlock = Memo1->document()->findBlockByLineNumber(bar->value());
    const QTextCursor top(topBlock);
    const int lineInBlock = bar->value() - topBlock.firstLineNumber();

    // 2. The gathered lines in one insertion. The empty line the display
    //    starts with stays above the first of them.
    QString text = pending_.join(QLatin1Char('\n'));
    pending_.clear();
    if (initialEmptyLine_) {
        initialEmptyLine_ = false;
        if (Memo1->document()->isEmpty()) text.prepend(QLatin1Char('\n'));
    }
    Memo1->appendPlainText(text);

    // 3. At the end it follows the text; reading back, the same text stays in
    //    view while the oldest lines go.
    if (followEnd_) {
        ScrollToEnd();
    } else {
        bar->setValue(top.block().firstLineNumber() + lineInBlock);
    }
}

void TForm2::ScrollToEnd() {
    QScrollBar* bar = Memo1->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void TForm2::ShowAndRaise() {
    FlushLines();
    // A minimized window is not in front: it comes back at its size.
    if (windowState() & Qt::WindowMinimized) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (followEnd_) ScrollToEnd();
}

void TForm2::KeyPressed(int button) {
    KeyChar = KeyByte(button, CheckBox1->isChecked());
    SendKey(form_, KeyChar);
}

#define KEY_HANDLER(n) \
    void TForm2::Button##n##Click() { KeyPressed(n); }
KEY_HANDLER(1)
KEY_HANDLER(2)
KEY_HANDLER(3)
KEY_HANDLER(4)
KEY_HANDLER(5) KEY_HANDLER(6) KEY_HANDLER(7) KEY_HANDLER(8) KEY_HANDLER(9) KEY_HANDLER(10) KEY_HANDLER(11)
    KEY_HANDLER(12) KEY_HANDLER(13) KEY_HANDLER(14) KEY_HANDLER(15) KEY_HANDLER(16) KEY_HANDLER(17) KEY_HANDLER(18)
        KEY_HANDLER(19) KEY_HANDLER(20) KEY_HANDLER(21) KEY_HANDLER(22) KEY_HANDLER(23) KEY_HANDLER(24) KEY_HANDLER(25)
            KEY_HANDLER(26) KEY_HANDLER(27) KEY_HANDLER(28) KEY_HANDLER(29) KEY_HANDLER(30) KEY_HANDLER(31)
                KEY_HANDLER(32) KEY_HANDLER(33) KEY_HANDLER(34) KEY_HANDLER(35) KEY_HANDLER(36) KEY_HANDLER(37)
                    KEY_HANDLER(38) KEY_HANDLER(39) KEY_HANDLER(40) KEY_HANDLER(41)
#undef KEY_HANDLER

    // MON.CLR: everything goes, including the empty first line and what has not
    // been put in yet. Nothing is sent; the link's state does not matter.
    void TForm2::Button42Click() {
    pending_.clear();
    initialEmptyLine_ = false;
    followEnd_ = true;
    Memo1->clear();
}

void TForm2::Button43Click() { CpuReset(form_); }
