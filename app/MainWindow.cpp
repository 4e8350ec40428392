#include "app/MainWindow.h"

#include "app/ImageFileDialog.h"
#include "app/MonitorWindow.h"
#include "app/WindowFonts.h"
#include "app/WindowPlace.h"
#include "core/BoardState.h"
#include "link/Driver.h"
#include "monitor/Monitor.h"
#include "session/Session.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

TForm1* Form1 = nullptr;

namespace {

constexpr int kClientWidth = 297;
constexpr int kClientHeight = 195;
constexpr int kLeft = 260;
constexpr int kTop = 274;
constexpr int kTickMs = 100;
constexpr int kStatusWidth = 144;
// While a close is pending the deferred close looks again this often.
constexpr int kCloseRetryMs = 10;

const QColor kBlue(0x00, 0x00, 0xFF);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kWhite(0xFF, 0xFF, 0xFF);

QLabel* MakeLabel(QWidget* parent, const QRect& at, const QString& text, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(at);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setMargin(0);
    label->setIndent(0);
    label->setWordWrap(false);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
    return label;
}

// The layout's label sizes fit the Windows faces; the substitutes run a little
// wider. A label whose text does not fit grows to the right as far as
// `limit` (like a self-sizing label), and beyond that its letters are set a
// little closer, so no text is cut off.
void FitLabel(QLabel* label, int limit) {
    QFont f = label->font();
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    label->setFont(f);
    const QString text = label->text();
    const int limitWidth = std::max(limit, 1);
    for (qreal spacing = 0; QFontMetrics(f).horizontalAdvance(text) > limitWidth && spacing > -1.0;) {
        spacing -= 0.1;
        f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        label->setFont(f);
    }
    const int needed = QFontMetrics(f).horizontalAdvance(text);
    label->resize(std::min(std::max(label->width(), needed), limitWidth), label->height());
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), Places(DefaultSettingsPlaces()) {
    // 1. The window itself.
    setWindowTitle(QStringLiteral("Q.X.A"));
    setFont(PGothicFont(12));
    resize(kClientWidth, kClientHeight);
    MoveOnScreen(this, QPoint(kLeft, kTop));
    const QColor windowText = palette().color(QPalette::WindowText);

    // 2. The controls, top to bottom.
    Timer1 = new QTimer(this);
    Timer1->setInterval(kTickMs);
    connect(Timer1, &QTimer::timeout, this, [this] { ::Timer1Timer(*this); });

    Label1 = MakeLabel(this, {11, 0, 270, 16}, QStringLiteral("H8SX1622 USB FLASH ROM WRITER "), GothicFont(16, true),
                       kBlue);

    OpenDialog1 = new QFileDialog(this);
    ConfigureImageFileDialog(*OpenDialog1);

    Label3 = MakeLabel(this, {14, 22, kStatusWidth, 12}, QString(36, QLatin1Char(' ')), PGothicFont(12), kRed);
    QPalette statusPalette = Label3->palette();
    statusPalette.setColor(QPalette::Window, kWhite);
    Label3->setPalette(statusPalette);
    Label3->setAutoFillBackground(true);

    Button1 = new QPushButton(QStringLiteral("FWRITE"), this);
    Button1->setGeometry(13, 40, 60, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);

    CheckBox1 = new QCheckBox(QStringLiteral("Sound"), this);
    CheckBox1->setGeometry(200, 48, 57, 17);
    CheckBox1->setChecked(true);

    Label4 = MakeLabel(this, {8, 72, 258, 12},
                       QStringLiteral("0%") + QString(18, QLatin1Char(' ')) + QStringLiteral("50%") +
                           QString(16, QLatin1Char(' ')) + QStringLiteral("100%"),
                       GothicFont(12), kRed);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(16, 88, 241, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(false);

    Label6 = MakeLabel(this, {16, 120, 47, 12}, QStringLiteral("Serial No"), font(), windowText);

    Edit1 = new QLineEdit(QStringLiteral("xxxx"), this);
    Edit1->setGeometry(64, 120, 89, 20);

    Button2 = new QPushButton(QStringLiteral("VIEW"), this);
    Button2->setGeometry(184, 120, 75, 25);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);

    Label5 =
        MakeLabel(this, {16, 152, 158, 12}, QStringLiteral("For cpu clk = 48MHz or 50MHz"), PGothicFont(12), kNavy);
    label2 =
        MakeLabel(this, {14, 170, 264, 12}, QStringLiteral("h8sxwriter " H8SXWRITER_VERSION), GothicFont(12), kBlue);

    // Labels whose text runs wider than the layout: Label6 must stay clear
    // of Edit1, the others may grow to the window's right edge.
    FitLabel(Label6, Edit1->x() - Label6->x() - 1);
    for (QLabel* l : {Label1, Label4, Label5, label2}) FitLabel(l, kClientWidth - l->x());

    // Tab order: FWRITE, (progress bar), VIEW, the serial number, Sound.
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Edit1);
    setTabOrder(Edit1, CheckBox1);

    // 3. The progress bar starts empty, with room for 200 steps.
    ProgressBar1->setValue(0);
    ProgressBar1->setMaximum(200);

    Timer1->start();
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    ::FormShow(*this, Places);
    WatchDevice();
}

void TForm1::WatchDevice() {
    const int fd = LinkEventFd(DeviceHandle);
    if (fd < 0) return;
    deviceNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(deviceNotifier_, &QSocketNotifier::activated, this, [] { LinkService(DeviceHandle); });
}

void TForm1::ShowStatus(const std::string& text) {
    const QString caption = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    Label3->setText(caption);
    // The status line grows with a longer message instead of cutting it off
    // (and shrinks back to its layout width with a shorter one).
    Label3->resize(kStatusWidth, Label3->height());
    FitLabel(Label3, kClientWidth - Label3->x());
}

bool TForm1::SoundTicked() { return CheckBox1->isChecked(); }

void TForm1::SystemBeep() { QApplication::beep(); }

void TForm1::ProcessMessages() {
    ++pumpDepth_;
    QCoreApplication::processEvents(closePending_ ? QEventLoop::AllEvents : QEventLoop::WaitForMoreEvents);
    --pumpDepth_;
    if (closePending_) WaitTicks = 0;
}

void TForm1::ShowSerialNumber(const std::string& text) {
    Edit1->setText(QString::fromLocal8Bit(text.data(), static_cast<int>(text.size())));
}

void TForm1::SetProgressMaximum(int maximum) { ProgressBar1->setMaximum(maximum); }
void TForm1::SetProgressPosition(int position) { ProgressBar1->setValue(position); }
int TForm1::ProgressPosition() { return ProgressBar1->value(); }

bool TForm1::ChooseImageFile(std::string& path) {
    if (closePending_) return false;
    return RunImageFileDialog(*OpenDialog1, path);
}

void TForm1::AppendMonitorLine(const std::string& bytes) {
    if (Form2) Form2->AppendLine(bytes);
}

void TForm1::Button1Click() {
    if (TargetOperationRunning() || closePending_) return;  // no write nested inside a running one
    const WriteOutcome outcome = ::Button1Click(*this);
    // Closing the window stops the write; the window is gone by the time
    // anyone would read it, so the board's state goes to standard error.
    if (outcome.result == WriteResult::Interrupted) {
        const BoardState board = BoardStateAfter(outcome);
        std::optional<uint32_t> programmedTo;
        if (outcome.stage >= WriteStage::Programming) programmedTo = outcome.programmedTo;
        std::fprintf(stderr, "h8sxwriter: the write was stopped by closing the window; the board is %s\n",
                     DescribeBoard(board, programmedTo).c_str());
    }
}

void TForm1::Button2Click() {
    if (MonitorView(*this) && Form2) Form2->ShowAndRaise();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (pumpDepth_ > 0 || TargetOperationRunning()) {
        // An operation is waiting inside the pump: let it run out first.
        event->ignore();
        if (!closePending_) {
            closePending_ = true;
            StopRequested = 1;
            WaitTicks = 0;
            QTimer::singleShot(0, this, &TForm1::FinishPendingClose);
        }
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

void TForm1::FinishPendingClose() {
    if (pumpDepth_ > 0 || TargetOperationRunning()) {
        QTimer::singleShot(kCloseRetryMs, this, &TForm1::FinishPendingClose);
        return;
    }
    closePending_ = false;
    close();
}

// The window's meta-object code goes into this file's object, so that a
// program that uses only the other windows does not pull in this one.
#include "moc_MainWindow.cpp"
