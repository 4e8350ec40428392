// The main window, headless (QT_QPA_PLATFORM=offscreen).
#include "app/ImageFileDialog.h"
#include "app/MainWindow.h"
#include "link/TtyProvider.h"
#include "support/FakeLink.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>
#include <cstdio>

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "app_gui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct MainWindowTest : ::testing::Test {
    TempDir dir;
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        App();
        DeviceHandle = nullptr;
        form = std::make_unique<TForm1>();
        form->Places = SettingsPlaces{dir.path, ""};
    }
    void TearDown() override {
        form.reset();
        SetLinkProvider(nullptr);
        DeviceHandle = nullptr;
    }
};

// How often the window's message pump returns in 300 ms: a pump that sleeps
// until the next event returns a few times, one that spins thousands.
int PumpPassesIn300ms(TForm1& form) {
    QElapsedTimer idle;
    idle.start();
    int passes = 0;
    while (idle.elapsed() < 300) {
        form.ProcessMessages();
        ++passes;
    }
    return passes;
}

TEST_F(MainWindowTest, ControlsCaptionsAndPositions) {
    EXPECT_EQ(form->windowTitle(), "Q.X.A");
    EXPECT_EQ(form->size(), QSize(297, 195));
    EXPECT_EQ(form->pos(), QPoint(260, 274));

    struct Control {
        QWidget* widget;
        QRect at;
        QString text;
    };
    const QString scale = "0%" + QString(18, ' ') + "50%" + QString(16, ' ') + "100%";
    const Control controls[] = {
        {form->Label1, {11, 0, 270, 16}, "H8SX1622 USB FLASH ROM WRITER "},
        {form->Label3, {14, 22, 144, 12}, QString(36, ' ')},
        {form->Button1, {13, 40, 60, 25}, "FWRITE"},
        {form->CheckBox1, {200, 48, 57, 17}, "Sound"},
        {form->Label4, {8, 72, 258, 12}, scale},
        {form->ProgressBar1, {16, 88, 241, 17}, ""},
        {form->Label6, {16, 120, 47, 12}, "Serial No"},
        {form->Edit1, {64, 120, 89, 20}, "xxxx"},
        {form->Button2, {184, 120, 75, 25}, "VIEW"},
        {form->Label5, {16, 152, 158, 12}, "For cpu clk = 48MHz or 50MHz"},
        {form->label2, {14, 170, 264, 12}, "h8sxwriter " H8SXWRITER_VERSION},
    };
    for (const Control& c : controls) {
        ASSERT_NE(c.widget, nullptr);
        const QRect g = c.widget->geometry();
        EXPECT_EQ(g.topLeft(), c.at.topLeft()) << c.text.toStdString();
        EXPECT_EQ(g.height(), c.at.height()) << c.text.toStdString();
        if (auto* label = qobject_cast<QLabel*>(c.widget)) {
            EXPECT_EQ(label->text(), c.text);
            // Labels may grow past the layout width to show their whole text.
            EXPECT_GE(g.width(), c.at.width()) << c.text.toStdString();
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), g.width()) << c.text.toStdString();
            EXPECT_LE(g.right(), form->width()) << c.text.toStdString();
        } else {
            EXPECT_EQ(g.size(), c.at.size()) << c.text.toStdString();
        }
    }
    EXPECT_EQ(form->Button1->text(), "FWRITE");
    EXPECT_EQ(form->Button2->text(), "VIEW");
    EXPECT_EQ(form->CheckBox1->text(), "Sound");
    EXPECT_TRUE(form->CheckBox1->isChecked());
    EXPECT_EQ(form->Edit1->text(), "xxxx");
    EXPECT_LT(form->Label6->geometry().right(), form->Edit1->x()) << "the caption stays clear of the field";

    EXPECT_EQ(form->ProgressBar1->minimum(), 0);
    EXPECT_EQ(form->ProgressBar1->maximum(), 200);
    EXPECT_EQ(form->ProgressBar1->value(), 0);
    EXPECT_EQ(form->Timer1->interval(), 100);
    EXPECT_TRUE(form->Timer1->isActive());

    // Tab order: FWRITE, VIEW, the serial number, Sound.
    EXPECT_EQ(form->Button1->nextInFocusChain(), form->Button2);
    EXPECT_EQ(form->Button2->nextInFocusChain(), form->Edit1);
    EXPECT_EQ(form->Edit1->nextInFocusChain(), form->CheckBox1);
}

TEST_F(MainWindowTest, FacesAndColours) {
    struct Look {
        QWidget* widget;
        const char* family;
        int pixels;
        bool bold;
        QColor colour;
    };
    const Look looks[] = {
        {form->Label1, "IPAGothic", 16, true, Qt::blue},
        {form->Label3, "IPAPGothic", 12, false, Qt::red},
        {form->Label4, "IPAGothic", 12, false, Qt::red},
        {form->Label5, "IPAPGothic", 12, false, QColor(0, 0, 0x80)},
        {form->label2, "IPAGothic", 12, false, Qt::blue},
        {form->Label6, "IPAPGothic", 12, false, form->palette().color(QPalette::WindowText)},
        {form->Button1, "IPAPGothic", 12, false, form->palette().color(QPalette::WindowText)},
    };
    for (const Look& l : looks) {
        const QFontInfo info(l.widget->font());
        EXPECT_EQ(info.family(), l.family) << l.widget->objectName().toStdString() << " " << l.family;
        EXPECT_EQ(info.pixelSize(), l.pixels);
        EXPECT_EQ(info.bold(), l.bold);
        EXPECT_EQ(l.widget->palette().color(QPalette::WindowText), l.colour);
    }
    EXPECT_EQ(form->Label3->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(form->Label3->autoFillBackground());
}

TEST_F(MainWindowTest, FirstShowConnectsBeforeAnyTick) {
    FakeLinkScope link;
    link.provider->entries = {{"FTQ1W2E3R4", "/dev/ttyUSB0"}};
    form->show();  // no event processed yet
    EXPECT_EQ(form->Label3->text(), "USB Serial Number Open Success!");
    EXPECT_EQ(form->Edit1->text(), "FTQ1W2E3R4");
    EXPECT_EQ(dir.Read("vkp1622.par"), "113");
    EXPECT_LE(form->fontMetrics().horizontalAdvance(form->Label3->text()), form->Label3->width());
    form->hide();
    form->show();
    EXPECT_EQ(link.provider->log.calls.size(), 6u) << "the connection runs on the first show only";
}

TEST_F(MainWindowTest, BytesWakeThePumpAndQueuedBytesDoNotKeepItAwake) {
    PtyPair pty;
    SetLinkProvider(MakeTtyPortProvider(pty.slavePath));
    form->show();
    ASSERT_EQ(form->Label3->text(), "USB Serial Number Open Success!");
    form->Timer1->stop();  // only the bytes (or the guard below) can end a wait
    QTimer guard;
    guard.start(400);

    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();  // what the show left pending
    const int fd = LinkEventFd(DeviceHandle);
    ASSERT_GE(fd, 0);

    // The notifier's slot must take the byte into the queue: until it does,
    // the descriptor stays readable.
    QElapsedTimer clock;
    clock.start();
    pty.Send({0x06});
    ASSERT_TRUE(Readable(fd, 1000));
    while (Readable(fd, 0) && clock.elapsed() < 2000) form->ProcessMessages();
    EXPECT_LT(clock.elapsed(), 200) << "the byte must not wait for a tick or the guard";
    uint32_t rx = 0, tx = 0, ev = 0;
    GetStatus(DeviceHandle, &rx, &tx, &ev);
    EXPECT_EQ(rx, 1u);

    // The byte stays queued, unread: the pump must sleep, not spin.
    const int passes = PumpPassesIn300ms(*form);
    EXPECT_LT(passes, 20) << "passes in 300 ms with nothing new";
}

TEST_F(MainWindowTest, UnpluggingTheConverterWhileIdleDoesNotKeepThePumpAwake) {
    PtyPair pty;
    SetLinkProvider(MakeTtyPortProvider(pty.slavePath));
    form->show();
    ASSERT_EQ(form->Label3->text(), "USB Serial Number Open Success!");
    form->Timer1->stop();
    QTimer guard;
    guard.start(400);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();

    // Nobody polls the link while idle: only the notifier sees the hang-up,
    // and its slot must turn the device quiet.
    pty.CloseMaster();
    const int passes = PumpPassesIn300ms(*form);
    EXPECT_LT(passes, 20) << "passes in 300 ms after the port went away";
    uint32_t rx = 9, tx = 9, ev = 9;
    EXPECT_NE(GetStatus(DeviceHandle, &rx, &tx, &ev), 0u);
    EXPECT_EQ(rx, 0u);
}

TEST_F(MainWindowTest, ClosingDuringAWaitEndsTheWaitAndThenCloses) {
    FakeLinkScope link;
    form->show();
    QTimer::singleShot(150, form.get(), [this] { form->close(); });
    QElapsedTimer clock;
    clock.start();
    form->WaitForTicks(300);  // 30 s, as an erase waits
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(form->ClosePending());
    EXPECT_TRUE(form->isVisible()) << "the window stays until the operation returned";
    std::string path;
    EXPECT_FALSE(form->ChooseImageFile(path)) << "no file dialog while closing";

    // Back in the main loop the close completes.
    while (form->isVisible() && clock.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindowTest, ClosingDuringAWriteEndsItQuicklyAsAFailure) {
    FakeLinkScope link;
    link.provider->entries = {{"FTSILENT", "/dev/ttyUSB0"}};
    form->show();
    ASSERT_NE(link.provider->Device(), nullptr);  // a target that never answers
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(0, form->Button1, &QPushButton::click);
    QTimer::singleShot(300, form.get(), [this] { form->close(); });
    // What the window says on standard error on its way out.
    TempDir dir;
    fflush(stderr);
    const int savedErr = dup(2);
    const int errFile = open(dir.Sub("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(errFile, 2);
    while (form->isVisible() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    fflush(stderr);
    dup2(savedErr, 2);
    close(savedErr);
    close(errFile);
    EXPECT_FALSE(form->isVisible());
    // Ten unanswered attempts take 2 s on a running clock; closing cuts them short.
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(form->Label3->text(), "cpu not answer 1");
    EXPECT_EQ(form->LinkBusy, 0);
    EXPECT_EQ(dir.Read("err"),
              "h8sxwriter: the write was stopped by closing the window; the board is in boot mode, its flash not "
              "erased; the next write or 'h8sxwriter reset' recovers it\n");
}

TEST_F(MainWindowTest, ClosingWhileIdleClosesAtOnce) {
    FakeLinkScope link;
    form->show();
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->ClosePending());
}

TEST_F(MainWindowTest, ImageDialogFilters) {
    QFileDialog& d = *form->OpenDialog1;
    // It opens on an erased flash, and says so.
    EXPECT_EQ(d.windowTitle(),
              QString::fromUtf8("Choose the file to write — the flash has been erased, Cancel leaves it blank"));
    EXPECT_TRUE(d.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(d.testOption(QFileDialog::ReadOnly));
    ASSERT_EQ(d.nameFilters().size(), 3);
    EXPECT_EQ(d.nameFilters()[0], QString::fromUtf8("MOTファイル(*.MOT,*.S)"));
    EXPECT_EQ(d.selectedNameFilter(), d.nameFilters()[0]);
    QFileSystemModel* model = d.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->nameFilters(), (QStringList{"*.MOT*", "*.S"}));
    EXPECT_FALSE(model->filter() & QDir::CaseSensitive) << "a.mot and b.s match too";
    EXPECT_EQ(d.nameFilters()[1], QStringLiteral("HEX files (*.hex *.ihx)"));
    emit d.filterSelected(d.nameFilters()[1]);
    EXPECT_EQ(model->nameFilters(), (QStringList{"*.hex", "*.ihx"}));
    emit d.filterSelected(d.nameFilters()[2]);
    EXPECT_EQ(model->nameFilters(), QStringList{"*"});
}

}  // namespace
