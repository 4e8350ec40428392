// The monitor window "SIO MONITOR & KEYBOARD" (Form2).
#pragma once

#include <QWidget>

class QPlainTextEdit;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // Appends one received line to Memo1.
    void AppendLine(const std::string& bytes);
    // Shows the window without making it modal and brings it to the front.
    void ShowAndRaise();

    QPlainTextEdit* Memo1 = nullptr;
};

extern TForm2* Form2;
