// The windows' places: kept where they fit, moved just inside the screen's
// available area where they do not.
#include "app/WindowPlace.h"

#include "app/MainWindow.h"
#include "app/MonitorWindow.h"
#include "support/TempDir.h"
#include "support/TestForm.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace {

TEST(WindowPlace, PlaceInsideMovesOnlyAsFarAsNeeded) {
    struct Case {
        const char* name;
        QRect frame, available;
        QPoint expected;
    };
    const QRect xga(0, 0, 1024, 768);
    const Case cases[] = {
        {"fits: kept", {260, 274, 305, 229}, xga, {260, 274}},
        {"past the right edge: moved left", {590, 276, 473, 290}, xga, {551, 276}},
        {"past the bottom (a panel below)", {590, 600, 473, 290}, {0, 0, 1024, 740}, {551, 450}},
        {"before the area (a panel on the left)", {10, 5, 200, 100}, {64, 28, 960, 740}, {64, 28}},
        {"exactly at the edge: kept", {551, 478, 473, 290}, xga, {551, 478}},
        {"larger than the area: its top-left corner", {300, 300, 1200, 900}, xga, {0, 0}},
        {"a second screen to the right", {1500, 100, 473, 290}, {1024, 0, 800, 600}, {1351, 100}},
    };
    for (const Case& c : cases) EXPECT_EQ(PlaceInside(c.frame, c.available), c.expected) << c.name;
}

// The offscreen platform with one screen of 1024 x 768.
class SmallScreen : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string config = dir.Sub("screens.json");
        std::ofstream(config) << R"({"screens": [{"name": "xga", "x": 0, "y": 0, "width": 1024, "height": 768,
                                    "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QByteArray::fromStdString(config));
        app = std::make_unique<QApplication>(argc, argv);
        ASSERT_EQ(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 1024, 768));
    }
    TempDir dir;
    int argc = 1;
    char name[16] = "place_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> app;
};

TEST_F(SmallScreen, TheMonitorWindowMovesInsideAndTheMainWindowKeepsItsPlace) {
    TForm1 main;
    main.show();
    TForm2 monitor(main);
    monitor.show();
    QApplication::processEvents();

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(main.frameGeometry().topLeft(), QPoint(260, 274));
    EXPECT_TRUE(screen.contains(monitor.frameGeometry()))
        << monitor.frameGeometry().x() << "," << monitor.frameGeometry().width();
    EXPECT_EQ(monitor.frameGeometry().y(), 276);  // only moved sideways
    EXPECT_LT(monitor.frameGeometry().x(), 590);
    EXPECT_GE(monitor.frameGeometry().right(), screen.right() - 8);  // just enough, not more
    // CPU_RESET, at the right of the window, is on the screen.
    const QRect reset(monitor.Button43->mapToGlobal(QPoint(0, 0)), monitor.Button43->size());
    EXPECT_TRUE(screen.contains(reset));
}

}  // namespace
