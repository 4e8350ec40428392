// The main window "Q.X.A" (Form1): heading, status line, FWRITE, progress
// bar, Sound option, serial number and VIEW, and the 100 ms Timer1 that is
// the clock of every wait.
//
// Contract
// - Controls sit at fixed client coordinates (96 dpi, not scaled); the client
//   area is 297 x 195, which with a usual frame (4 px borders, 27 px title
//   bar) gives an outer size of 305 x 226.
// - Timer1 runs from construction and calls the tick (session/Session.h). On the
//   first show, before any tick, FormShow (session/Connection.h) connects, using
//   `Places` for the settings file; then a socket notifier is put on the
//   opened device's descriptor.
// - ProcessMessages handles pending events and, if there were none, sleeps in
//   the event loop until the next one: a tick, bytes from the converter (the
//   notifier, whose slot hands them to the device's queue with LinkService,
//   so a level-triggered descriptor never wakes twice for the same bytes), or
//   user input. A wait therefore sees a reply within a millisecond and costs
//   no CPU while idle.
// - Closing the window while an operation waits inside ProcessMessages: the
//   close is remembered, from then on every pass of the pump returns at once
//   with WaitTicks 0 (so the operation runs out quickly, as on a silent
//   target) and the file dialog counts as cancelled; once the operation has
//   returned to the main loop the window closes and the application quits.
// - FWRITE is ignored while a write or a restart of the target is running.
#pragma once

#include "core/FormCore.h"
#include "session/Connection.h"

#include <QWidget>

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QTimer;

class TForm1 : public QWidget, public FormCore {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, in the order of the layout.
    QTimer* Timer1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* label2 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Button1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label6 = nullptr;
    QCheckBox* CheckBox1 = nullptr;

    // Where FormShow looks for the settings file; tests point it elsewhere
    // before the window is shown.
    SettingsPlaces Places;

    // The FormCore host interface.
    void ShowStatus(const std::string& text) override;
    bool SoundTicked() override;
    void SystemBeep() override;
    void ProcessMessages() override;
    void ShowSerialNumber(const std::string& text) override;
    void SetProgressMaximum(int maximum) override;
    void SetProgressPosition(int position) override;
    int ProgressPosition() override;
    bool ChooseImageFile(std::string& path) override;
    void AppendMonitorLine(const std::string& bytes) override;

    // True once the window was asked to close while an operation was waiting.
    bool ClosePending() const { return closePending_; }

public slots:
    void Button1Click();
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FinishPendingClose();
    void WatchDevice();

    QSocketNotifier* deviceNotifier_ = nullptr;
    bool shown_ = false;
    bool closePending_ = false;
    int pumpDepth_ = 0;
};

extern TForm1* Form1;
