#include "session/LinkChoice.h"
#include "app/MainWindow.h"
#include "cli/Cli.h"
#include "app/MonitorWindow.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// For the documentation's screenshot: H8SXWRITER_SCREENSHOT=FILE saves the
// main window's picture to FILE shortly after start-up and quits.
void ScheduleScreenshot(TForm1* form) {
    const char* file = std::getenv("H8SXWRITER_SCREENSHOT");
    if (!file || !*file) return;
    const QString path = QString::fromLocal8Bit(file);
    QTimer::singleShot(500, form, [form, path] {
        form->grab().save(path);
        QCoreApplication::quit();
    });
}

int Usage(const std::string& error) {
    std::fprintf(stderr, "h8sxwriter: %s\nusage: h8sxwriter [--port PATH | --sim[=KEY=VALUE,...]]\n%s", error.c_str(),
                 LinkOptionsUsage());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (IsCliCommand(argc, argv)) return CliMain(argc, argv);

    // 1. A bad link option is reported before anything needs a display.
    LinkChoice choice;
    std::string error;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!TakeLinkOptions(args, &choice, &error)) return Usage(error);

    // 2. The application object (it takes Qt's own options off argv); what
    //    is left must be link options only.
    QApplication app(argc, argv);
    if (!ParseLinkOptions(argc, argv, &choice, &error)) return Usage(error);
    InstallLinkChoice(choice);

    // 3. The main window, shown (its first show connects), then the monitor
    //    window, hidden.
    Form1 = new TForm1;
    Form1->show();
    Form2 = new TForm2(*Form1);
    Form2->hide();
    ScheduleScreenshot(Form1);

    // 4. Run until the main window closes.
    app.exec();
    return 0;
}
