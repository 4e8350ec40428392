#include "monitor/MonitorWindow.h"

#include <QPlainTextEdit>

TForm2* Form2 = nullptr;

// A placeholder window; filled in with the monitor.
TForm2::TForm2(QWidget* parent) : QWidget(parent) {
    setWindowTitle("SIO MONITOR & KEYBOARD");
    Memo1 = new QPlainTextEdit(this);
}

void TForm2::AppendLine(const std::string& bytes) {
    Memo1->appendPlainText(QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size())));
}

void TForm2::ShowAndRaise() {
    show();
    raise();
    activateWindow();
}
