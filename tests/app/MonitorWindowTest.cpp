#include "app/MonitorWindow.h"

#include "app/MainWindow.h"
#include "monitor/Monitor.h"
#include "monitor/MonitorFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// The application object lives from before the first test to after the last,
// and goes before the program's own exit handlers run.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[18] = "monitor_gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class MonitorWindow : public MonitorFixture {
protected:
    void SetUp() override {
        MonitorFixture::SetUp();
        window = std::make_unique<TForm2>(form);
    }
    std::vector<QPushButton*> Buttons() const {
        TForm2& w = *window;
        return {w.Button1,  w.Button2,  w.Button3,  w.Button4,  w.Button5,  w.Button6,  w.Button7,  w.Button8,
                w.Button9,  w.Button10, w.Button11, w.Button12, w.Button13, w.Button14, w.Button15, w.Button16,
                w.Button17, w.Button18, w.Button19, w.Button20, w.Button21, w.Button22, w.Button23, w.Button24,
                w.Button25, w.Button26, w.Button27, w.Button28, w.Button29, w.Button30, w.Button31, w.Button32,
                w.Button33, w.Button34, w.Button35, w.Button36, w.Button37, w.Button38, w.Button39, w.Button40,
                w.Button41, w.Button42, w.Button43};
    }
    std::string Written() const {
        std::string all;
        for (const auto& write : device->writes) all.append(write.begin(), write.end());
        return all;
    }
    void Append(int from, int to) {
        for (int i = from; i < to; ++i) window->AppendLine("line " + std::to_string(i));
        window->FlushLines();
    }
    QScrollBar* Bar() const { return window->Memo1->verticalScrollBar(); }
    QString TopLine() const { return window->Memo1->cursorForPosition(QPoint(1, 1)).block().text(); }

    std::unique_ptr<TForm2> window;
};

struct Geometry {
    QWidget* widget;
    QRect rect;
};

TEST_F(MonitorWindow, CaptionsFontsAndLayout) {
    TForm2& w = *window;
    EXPECT_EQ(w.windowTitle(), "SIO MONITOR & KEYBOARD");
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(w.size(), QSize(465, 256));
    // At 590, 276 where that fits; the offscreen platform's screen (800 x 600)
    // is too narrow, so there the window ends at its right edge, allowing for
    // the assumed 4-pixel borders of a window not yet shown.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const int expectedLeft = 590 + 465 + 8 <= screen.right() + 1 ? 590 : screen.right() + 1 - (465 + 8);
    EXPECT_EQ(w.pos(), QPoint(expectedLeft, 276));

    const auto buttons = Buttons();
    const QString captions[] = {"A", "B", "C", "D", "E", "F", "G", "H",     "I",       "J",        "K",
                                "L", "M", "N", "O", "P", "Q", "R", "S",     "T",       "U",        "V",
                                "W", "X", "Y", "Z", "0", "1", "2", "3",     "4",       "5",        "6",
                                "7", "8", "9", "/", "*", "-", "+", "Enter", "MON.CLR", "CPU_RESET"};
    for (int i = 0; i < 43; ++i) EXPECT_EQ(buttons[i]->text(), captions[i]) << "Button" << i + 1;
    EXPECT_EQ(w.CheckBox1->text(), "small letter");
    EXPECT_EQ(w.Label1->text(), "h8sxwriter");

    const Geometry places[] = {
        {w.Button1, {8, 24, 25, 25}},     {w.Button6, {128, 24, 25, 25}},   {w.Button7, {8, 48, 25, 25}},
        {w.Button18, {128, 72, 25, 25}},  {w.Button24, {128, 96, 25, 25}},  {w.Button25, {8, 120, 25, 25}},
        {w.Button26, {32, 120, 25, 25}},  {w.CheckBox1, {72, 128, 81, 17}}, {w.Button27, {8, 160, 25, 25}},
        {w.Button32, {128, 160, 25, 25}}, {w.Button33, {8, 184, 25, 25}},   {w.Button36, {80, 184, 25, 25}},
        {w.Button37, {8, 208, 25, 25}},   {w.Button40, {80, 208, 25, 25}},  {w.Button41, {104, 184, 49, 49}},
        {w.Memo1, {160, 24, 289, 153}},   {w.Button42, {160, 200, 75, 25}}, {w.Button43, {344, 200, 105, 25}},
        {w.Label1, {8, 240, 132, 12}},
    };
    for (const Geometry& g : places) EXPECT_EQ(g.widget->geometry(), g.rect) << g.widget->metaObject()->className();

    // Every control sets its own face, size and colour.
    EXPECT_EQ(QFontInfo(w.Button1->font()).family(), "IPAPGothic");
    EXPECT_EQ(w.Button1->font().pixelSize(), 16);
    EXPECT_EQ(w.Memo1->font().pixelSize(), 16);
    EXPECT_EQ(w.CheckBox1->font().pixelSize(), 12);
    EXPECT_EQ(w.Label1->font().pixelSize(), 12);
    EXPECT_EQ(w.Button1->palette().color(QPalette::ButtonText), QColor(Qt::black));
    EXPECT_EQ(w.Button43->palette().color(QPalette::ButtonText), QColor(0, 0, 255));
    EXPECT_EQ(w.Label1->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_EQ(w.CheckBox1->palette().color(QPalette::WindowText), QColor(Qt::black));
    EXPECT_EQ(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(w.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(w.Memo1->isReadOnly());
}

TEST_F(MonitorWindow, TabOrder) {
    TForm2& w = *window;
    auto buttons = Buttons();
    std::vector<QWidget*> expected(buttons.begin(), buttons.begin() + 26);
    expected.push_back(w.CheckBox1);
    expected.insert(expected.end(), buttons.begin() + 26, buttons.begin() + 42);
    expected.push_back(w.Memo1);
    expected.push_back(w.Button43);

    std::vector<QWidget*> chain;
    QWidget* at = w.Button1;
    do {
        if (at->focusPolicy() & Qt::TabFocus) chain.push_back(at);
        at = at->nextInFocusChain();
    } while (at != w.Button1 && chain.size() < 100);
    EXPECT_EQ(chain, expected);
}

TEST_F(MonitorWindow, KeysSendTheirBytesInBothStates) {
    auto buttons = Buttons();
    form.sound = false;
    for (int i = 0; i < 41; ++i) buttons[i]->click();
    window->CheckBox1->setChecked(true);
    for (int i = 0; i < 41; ++i) buttons[i]->click();

    EXPECT_EQ(Written(),
              "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/*-+\r"
              "abcdefghijklmnopqrstuvwxyz0123456789/*-+\r");
    EXPECT_EQ(device->writes.size(), 82u);  // one byte per press
    EXPECT_EQ(window->KeyChar, 0x0D);
    EXPECT_EQ(buttons[0]->text(), "A");  // the captions stay capitals

    // Refused without a sign while a write owns the link.
    form.sound = true;
    form.LinkBusy = 1;
    buttons[0]->click();
    EXPECT_EQ(device->writes.size(), 82u);
    EXPECT_EQ(form.beeps, 0);
}

TEST_F(MonitorWindow, ViewShowsTheMonitorUnlessTheLinkIsBusy) {
    // The main window's VIEW button with the monitor window of the program.
    TForm1 main;
    main.CheckBox1->setChecked(false);
    TForm2 monitor(main);
    Form2 = &monitor;

    main.LinkBusy = 1;
    main.Button2->click();
    EXPECT_FALSE(monitor.isVisible());
    EXPECT_EQ(calls(), Strings{});
    EXPECT_EQ(main.MonitorRateSet, 0);

    main.LinkBusy = 0;
    monitor.AppendLine("before");
    main.Button2->click();
    EXPECT_TRUE(monitor.isVisible());
    EXPECT_EQ(calls(), Strings{"SetBaudRate 38400"});

    // Closed, it only hides; VIEW shows it again with its text and what came
    // meanwhile, and leaves the rate alone.
    monitor.close();
    EXPECT_FALSE(monitor.isVisible());
    monitor.AppendLine("meanwhile");
    main.Button2->click();
    EXPECT_TRUE(monitor.isVisible());
    EXPECT_EQ(monitor.Memo1->toPlainText(), "\nbefore\nmeanwhile");
    EXPECT_EQ(calls(), Strings{"SetBaudRate 38400"});
    Form2 = nullptr;
}

TEST_F(MonitorWindow, ShowAndRaiseBringsBackAMinimizedWindow) {
    window->ShowAndRaise();
    window->setWindowState(window->windowState() | Qt::WindowMinimized);
    window->ShowAndRaise();
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->windowState() & Qt::WindowMinimized);
}

TEST_F(MonitorWindow, CpuResetRestartsTheTargetUnlessALinkIsBusy) {
    form.LinkBusy = 1;
    window->Button43->click();
    EXPECT_EQ(calls(), Strings{});

    form.LinkBusy = 0;
    form.LinkRate = kMonitorBitRate;  // as VIEW left it
    window->Button43->click();
    EXPECT_EQ(calls(), (Strings{"beep", "SetRts", "SetDtr", "ClearDtr"}));
}

TEST_F(MonitorWindow, ReceivedBytesShowOneCharacterPerByte) {
    window->AppendLine(std::string("caf\xE9 \x80\xFF", 7));
    window->AppendLine(std::string("ab\0cd", 5));
    window->FlushLines();
    // The empty line the display starts with stays above the first line.
    EXPECT_EQ(window->Memo1->toPlainText(), QString("\ncaf\u00E9 \u0080\u00FF\nab"));
    EXPECT_TRUE(device->writes.empty());
}

TEST_F(MonitorWindow, LinesArriveWhenTheEventLoopRuns) {
    window->AppendLine("one");
    window->AppendLine("two");
    EXPECT_EQ(window->Memo1->blockCount(), 1);
    QApplication::processEvents();
    EXPECT_EQ(window->Memo1->toPlainText(), "\none\ntwo");
}

TEST_F(MonitorWindow, MonClearEmptiesEverythingAndSendsNothing) {
    Append(0, 5);
    window->AppendLine("not yet shown");
    form.LinkBusy = 1;
    window->Button42->click();
    QApplication::processEvents();
    EXPECT_EQ(window->Memo1->toPlainText(), "");
    EXPECT_EQ(calls(), Strings{});

    // After a clear the next line is the first line.
    window->AppendLine("fresh");
    window->FlushLines();
    EXPECT_EQ(window->Memo1->toPlainText(), "fresh");
}

TEST_F(MonitorWindow, KeepsTheLastTenThousandLines) {
    Append(0, 10050);
    QPlainTextEdit* memo = window->Memo1;
    EXPECT_EQ(memo->blockCount(), TForm2::kMaxLines);
    EXPECT_EQ(memo->document()->firstBlock().text(), "line 50");
    EXPECT_EQ(memo->document()->lastBlock().text(), "line 10049");
}

TEST_F(MonitorWindow, FollowsTheEndOnlyWhenTheViewWasThere) {
    window->ShowAndRaise();
    Append(0, 50);
    ASSERT_GT(Bar()->maximum(), 0);
    EXPECT_EQ(Bar()->value(), Bar()->maximum());

    // Reading back: new lines do not move the view.
    Bar()->setValue(10);
    const QString reading = TopLine();
    Append(50, 60);
    EXPECT_EQ(TopLine(), reading);

    // Back at the end, it follows again.
    Bar()->setValue(Bar()->maximum());
    Append(60, 70);
    EXPECT_EQ(Bar()->value(), Bar()->maximum());

    // While hidden it keeps following; shown again, the newest line is in view.
    window->close();
    EXPECT_FALSE(window->isVisible());
    Append(70, 120);
    window->ShowAndRaise();
    QApplication::processEvents();
    EXPECT_EQ(Bar()->value(), Bar()->maximum());
    EXPECT_EQ(window->Memo1->document()->lastBlock().text(), "line 119");
}

TEST_F(MonitorWindow, ReadingBackStaysOnItsTextWhileTheOldestLinesGo) {
    window->ShowAndRaise();
    Append(0, TForm2::kMaxLines);
    Bar()->setValue(Bar()->maximum() / 2);
    const QString reading = TopLine();
    // A carriage return inside a read (an echoed Enter) breaks the line too.
    for (int i = 0; i < 30; ++i) window->AppendLine("echo\rnext");
    window->FlushLines();
    EXPECT_EQ(window->Memo1->blockCount(), TForm2::kMaxLines);
    EXPECT_EQ(TopLine(), reading);
}

TEST_F(MonitorWindow, AnOpenMonitorDoesNotKeepTheApplicationAlive) {
    QWidget mainWindow;
    mainWindow.show();
    window->ShowAndRaise();
    bool stuck = false;
    QTimer::singleShot(0, &mainWindow, [&] { mainWindow.close(); });
    QTimer::singleShot(2000, qApp, [&] {
        stuck = true;
        QCoreApplication::quit();
    });

    QApplication::exec();  // ends when the last window that counts has closed
    EXPECT_FALSE(stuck);
}

}  // namespace
