#include "app/MainWindow.h"
#include "app/MonitorWindow.h"
#include "cli/Cli.h"
#include "session/LinkChoice.h"

#include <unistd.h>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The toolkit's own options that the window accepts besides the link options
// (QGuiApplication's and QApplication's, plus the X11 ones); they are checked
// here because QApplication needs a display before it could refuse anything.
bool IsToolkitOption(const std::vector<std::string>& args, size_t& i) {
    static const char* const withValue[] = {"platform",        "platformpluginpath", "platformtheme", "plugin",
                                            "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
                                            "display",         "geometry",           "name",          "title",
                                            "style",           "stylesheet"};
    static const char* const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    const std::string& a = args[i];
    if (a.size() < 2 || a[0] != '-') return false;
    std::string name = a.substr(a[1] == '-' ? 2 : 1);
    const size_t eq = name.find('=');
    const bool inlineValue = eq != std::string::npos;
    if (inlineValue) name.erase(eq);
    for (const char* f : flags)
        if (name == f && !inlineValue) return true;
    for (const char* v : withValue) {
        if (name != v) continue;
        if (inlineValue) return true;
        if (i + 1 >= args.size()) return false;
        ++i;
        return true;
    }
    return false;
}

std::string ToolkitPlatform(const std::vector<std::string>& args) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "-platform" || args[i] == "--platform") return args[i + 1];
    for (const std::string& a : args)
        for (const char* prefix : {"-platform=", "--platform="})
            if (a.rfind(prefix, 0) == 0) return a.substr(std::strlen(prefix));
    const char* env = std::getenv("QT_QPA_PLATFORM");
    return env ? env : "";
}

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

int NoDisplay(const std::string& reason) {
    std::fprintf(stderr,
                 "h8sxwriter: cannot open the window: %s; the commands write, monitor, reset, list and erase "
                 "need no display (h8sxwriter --help)\n",
                 reason.c_str());
    return 2;
}

// While the application object is made: the platform's messages are held
// back, and a fatal one (no platform plugin, no connection to the display)
// ends the program with one line and status 2 instead of an abort.
bool constructing = false;
std::string heldBack;
QtMessageHandler previousHandler = nullptr;

void StartUpMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!constructing) {
        if (previousHandler) previousHandler(type, context, message);
        return;
    }
    if (type == QtFatalMsg) {
        std::string reason = heldBack.empty() ? "no display or platform plugin could be initialized" : heldBack;
        NoDisplay(reason);
        std::fflush(stderr);
        _exit(2);
    }
    if (heldBack.empty()) heldBack = message.section(QLatin1Char('\n'), 0, 0).trimmed().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    if (IsCliCommand(argc, argv)) return CliMain(argc, argv);

    // 1. A bad link option is reported before anything needs a display.
    LinkChoice choice;
    std::string error;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!TakeLinkOptions(args, &choice, &error)) return Usage(error);
    for (size_t i = 0; i < args.size(); ++i)
        if (!IsToolkitOption(args, i)) return Usage("unknown argument: " + args[i]);

    // 2. A display: none at all is said before the toolkit tries.
    const std::string platform = ToolkitPlatform(args);
    if (platform.empty() && !Set("DISPLAY") && !Set("WAYLAND_DISPLAY"))
        return NoDisplay("no display (DISPLAY and WAYLAND_DISPLAY are not set)");

    // 3. The application object (it takes Qt's own options off argv); what
    //    is left must be link options only.
    previousHandler = qInstallMessageHandler(StartUpMessages);
    constructing = true;
    QApplication app(argc, argv);
    constructing = false;
    if (!heldBack.empty()) std::fprintf(stderr, "%s\n", heldBack.c_str());
    qInstallMessageHandler(previousHandler);
    if (!ParseLinkOptions(argc, argv, &choice, &error)) return Usage(error);
    InstallLinkChoice(choice);

    // 4. The main window, shown (its first show connects), then the monitor
    //    window, hidden.
    Form1 = new TForm1;
    Form1->show();
    Form2 = new TForm2(*Form1);
    Form2->hide();
    ScheduleScreenshot(Form1);

    // 5. Run until the main window closes.
    app.exec();
    return 0;
}
