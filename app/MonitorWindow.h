// The monitor window "SIO MONITOR & KEYBOARD" (Form2): the display of what
// the target program sends, an on-screen keyboard of 41 character keys, the
// "small letter" box, MON.CLR and CPU_RESET.
//
// Contract
// - Created hidden, once, right after the main window; it lives until the
//   application ends. Closing it only hides it, with its text kept, and it
//   never keeps the application running once the main window has closed.
// - It reaches the main window through the FormCore given at construction:
//   the keys go through SendKey, CPU_RESET through CpuReset.
// - AppendLine adds one received line. Lines are gathered and put into Memo1
//   together when the event loop next runs (ShowAndRaise and MON.CLR settle
//   them at once). Memo1 keeps the last 10,000 lines; the oldest go first. An
//   append keeps the view at the end only if it was at the end already; a
//   user reading back keeps the text in front of them.
// - ShowAndRaise shows the window, not modal, and brings it to the front,
//   out of its minimized state if it was minimized.
#pragma once

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <string>

class FormCore;
class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    // The most lines Memo1 holds.
    static constexpr int kMaxLines = 10000;

    explicit TForm2(FormCore& mainForm, QWidget* parent = nullptr);
    ~TForm2() override;

    // One received line: the bytes as they came, one character per byte; a
    // zero byte ends the text.
    void AppendLine(const std::string& bytes);
    // Shows the window without making it modal and brings it to the front.
    void ShowAndRaise();
    // Puts the gathered lines into Memo1 now.
    void FlushLines();

    // The controls, in the order of the window's layout.
    // "A" … "Z"
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* Button8 = nullptr;
    QPushButton* Button9 = nullptr;
    QPushButton* Button10 = nullptr;
    QPushButton* Button11 = nullptr;
    QPushButton* Button12 = nullptr;
    QPushButton* Button13 = nullptr;
    QPushButton* Button14 = nullptr;
    QPushButton* Button15 = nullptr;
    QPushButton* Button16 = nullptr;
    QPushButton* Button17 = nullptr;
    QPushButton* Button18 = nullptr;
    QPushButton* Button19 = nullptr;
    QPushButton* Button20 = nullptr;
    QPushButton* Button21 = nullptr;
    QPushButton* Button22 = nullptr;
    QPushButton* Button23 = nullptr;
    QPushButton* Button24 = nullptr;
    QPushButton* Button25 = nullptr;
    QPushButton* Button26 = nullptr;
    QCheckBox* CheckBox1 = nullptr;  // "small letter"
    // "0" … "9"
    QPushButton* Button27 = nullptr;
    QPushButton* Button28 = nullptr;
    QPushButton* Button29 = nullptr;
    QPushButton* Button30 = nullptr;
    QPushButton* Button31 = nullptr;
    QPushButton* Button32 = nullptr;
    QPushButton* Button33 = nullptr;
    QPushButton* Button34 = nullptr;
    QPushButton* Button35 = nullptr;
    QPushButton* Button36 = nullptr;
    // "/", "*", "-", "+", "Enter"
    QPushButton* Button37 = nullptr;
    QPushButton* Button38 = nullptr;
    QPushButton* Button39 = nullptr;
    QPushButton* Button40 = nullptr;
    QPushButton* Button41 = nullptr;
    QPushButton* Button42 = nullptr;  // "MON.CLR"
    QLabel* Label1 = nullptr;         // the maker's name
    QPlainTextEdit* Memo1 = nullptr;  // the display
    QPushButton* Button43 = nullptr;  // "CPU_RESET"

    // The byte the last pressed character key chose.
    uint8_t KeyChar = 0;

public slots:
    // Button1Click … Button41Click: the character keys; Button42Click:
    // MON.CLR; Button43Click: CPU_RESET.
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void Button11Click();
    void Button12Click();
    void Button13Click();
    void Button14Click();
    void Button15Click();
    void Button16Click();
    void Button17Click();
    void Button18Click();
    void Button19Click();
    void Button20Click();
    void Button21Click();
    void Button22Click();
    void Button23Click();
    void Button24Click();
    void Button25Click();
    void Button26Click();
    void Button27Click();
    void Button28Click();
    void Button29Click();
    void Button30Click();
    void Button31Click();
    void Button32Click();
    void Button33Click();
    void Button34Click();
    void Button35Click();
    void Button36Click();
    void Button37Click();
    void Button38Click();
    void Button39Click();
    void Button40Click();
    void Button41Click();
    void Button42Click();
    void Button43Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void KeyPressed(int button);
    void ScrollToEnd();

    FormCore& form_;
    QStringList pending_;  // lines not yet in Memo1
    bool flushQueued_ = false;
    bool followEnd_ = true;         // the view was at the end when last looked at
    bool initialEmptyLine_ = true;  // Memo1 still shows the empty line it starts with
};

extern TForm2* Form2;
