// The monitor against the simulated board on virtual time: the board's user
// program sends a banner after each restart into it and echoes every byte.
#include "monitor/Monitor.h"

#include "../image/SRecordText.h"
#include "bootmode/WriteCommand.h"
#include "sim/UserProgram.h"
#include "support/SimScope.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class MonitorOnTheBoard : public ::testing::Test {
protected:
    explicit MonitorOnTheBoard(const SimOptions& options = SimOptions{}) : sim{form, options} {}

    // A programmed flash, as a finished write leaves it.
    void Program(size_t length) {
        std::vector<uint8_t> image(length);
        for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
        sim.board.LoadFlash(image);
    }
    std::string Banner() const {
        const auto& flash = sim.board.Inspect().flash;
        return UserProgramBanner(SummarizeFlash(flash.data(), flash.size()));
    }
    // All received text, whatever ticks it came in on.
    std::string Received() const {
        std::string all;
        for (const std::string& line : form.monitorLines) all += line;
        return all;
    }
    static bool EndsWith(const std::string& text, const std::string& end) {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    }

    TestForm form;
    SimScope sim{form};
};

TEST_F(MonitorOnTheBoard, CpuResetBringsTheBannerAndKeysComeBackAsEchoes) {
    Program(1000);
    ASSERT_TRUE(MonitorView(form));
    EXPECT_EQ(sim.board.Inspect().hostRate, 38400u);

    CpuReset(form);
    form.RunFor(5 * TestForm::kTick);

    EXPECT_EQ(sim.board.Inspect().state, SimState::UserProgram);
    EXPECT_TRUE(EndsWith(Received(), Banner())) << Received();
    EXPECT_NE(Banner().find("1024 bytes"), std::string::npos) << Banner();
    EXPECT_EQ(form.LinkBusy, 0);

    form.monitorLines.clear();
    SendKey(form, KeyByte(8, false));   // "H"
    SendKey(form, KeyByte(9, true));    // "i", small letter
    SendKey(form, KeyByte(41, false));  // Enter
    form.RunFor(3 * TestForm::kTick);
    EXPECT_EQ(Received(), "Hi\r");
}

TEST_F(MonitorOnTheBoard, AfterAWriteTheNewProgramSpeaksThroughTheMonitor) {
    std::vector<std::string> records = {Record('0', 0, {'m', 'o', 'n'})};
    for (uint32_t address = 0; address < 320; address += 32)
        records.push_back(Record('1', address, Counting(32, 0x41)));
    records.push_back(Record('9', 0));
    TempFile file(Lines(records));
    form.fileChoice = file.Path();

    Button1Click(form);
    ASSERT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
    // The banner of the write's closing restart waited out the busy link.
    form.RunFor(5 * TestForm::kTick);
    EXPECT_TRUE(EndsWith(Received(), Banner())) << Received();
    EXPECT_NE(Banner().find("320 bytes"), std::string::npos) << Banner();

    // The write left the link at 38400 bit/s: VIEW does not touch the rate.
    const uint32_t rateBefore = sim.board.Inspect().hostRate;
    ASSERT_TRUE(MonitorView(form));
    EXPECT_EQ(sim.board.Inspect().hostRate, rateBefore);

    form.monitorLines.clear();
    CpuReset(form);
    form.RunFor(5 * TestForm::kTick);
    EXPECT_TRUE(EndsWith(Received(), Banner())) << Received();

    form.monitorLines.clear();
    SendKey(form, KeyByte(27, false));  // "0"
    form.RunFor(3 * TestForm::kTick);
    EXPECT_EQ(Received(), "0");
}

TEST_F(MonitorOnTheBoard, TextArrivesWhileTheWindowWasNeverOpened) {
    Program(256);
    // No VIEW: the pump shows what arrives all the same, and CPU_RESET puts
    // the link at the program's 38400 bit/s before it restarts the target.
    CpuReset(form);
    form.RunFor(5 * TestForm::kTick);
    EXPECT_EQ(sim.board.Inspect().hostRate, 38400u);
    EXPECT_TRUE(EndsWith(Received(), Banner())) << Received();
}

// A write that fails before its new bit rate leaves the link at the
// adjustment's 19200 bit/s; the monitor must not read the program there.
class MonitorAfterAnEarlyFailedWrite : public MonitorOnTheBoard {
protected:
    MonitorAfterAnEarlyFailedWrite() : MonitorOnTheBoard(NoE6()) {}
    static SimOptions NoE6() {
        SimOptions options;
        options.noE6 = true;
        return options;
    }
    void FailTheWrite() {
        Button1Click(form);
        ASSERT_EQ(form.LastStatusText(), "cpu not answer 2");
        ASSERT_EQ(sim.board.Inspect().hostRate, 19200u);
        form.monitorLines.clear();
    }
};

TEST_F(MonitorAfterAnEarlyFailedWrite, ViewThenCpuResetShowsTheBannerClean) {
    Program(700);
    FailTheWrite();

    ASSERT_TRUE(MonitorView(form));
    EXPECT_EQ(sim.board.Inspect().hostRate, 38400u);
    CpuReset(form);
    form.RunFor(5 * TestForm::kTick);
    EXPECT_TRUE(EndsWith(Received(), Banner())) << Received();
}

TEST_F(MonitorAfterAnEarlyFailedWrite, TheOpenMonitorsCpuResetShowsTheBannerClean) {
    Program(700);
    ASSERT_TRUE(MonitorView(form));  // the monitor was open before the write
    FailTheWrite();

    CpuReset(form);
    form.RunFor(5 * TestForm::kTick);
    EXPECT_TRUE(EndsWith(Received(), Banner())) << Received();

    form.monitorLines.clear();
    SendKey(form, KeyByte(1, false));  // "A", echoed by the restarted program
    form.RunFor(3 * TestForm::kTick);
    EXPECT_EQ(Received(), "A");
}

TEST_F(MonitorOnTheBoard, ABlankBoardStaysSilent) {
    ASSERT_TRUE(MonitorView(form));
    CpuReset(form);
    SendKey(form, 'x');
    form.RunFor(5 * TestForm::kTick);
    EXPECT_TRUE(form.monitorLines.empty());
}

}  // namespace
