// The write command against the simulated board on virtual time.
#include "bootmode/WriteCommand.h"
#include "support/SimScope.h"
#include "support/StageMessages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

namespace {

using Calls = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const Calls kGoodMessages = GoodWriteMessages();

// Records what the board looks like when the transfer phase begins.
class SimForm : public TestForm {
public:
    SimBoard* board = nullptr;
    int transfers = 0;
    SimState stateAtTransfer = SimState::Starting;
    uint32_t hostRateAtTransfer = 0, chipRateAtTransfer = 0;
    uint8_t busyAtTransfer = 0;
    bool selectedAtTransfer = false;

    WriteOutcome TransferImage() {
        ++transfers;
        stateAtTransfer = board->Inspect().state;
        hostRateAtTransfer = board->Inspect().hostRate;
        chipRateAtTransfer = board->Inspect().chipRate;
        busyAtTransfer = LinkBusy;
        selectedAtTransfer = board->Inspect().deviceSelected && board->Inspect().clockModeSelected;
        return WriteOutcome{};
    }
};

// FWRITE with the recording transfer in place of the file's.
WriteOutcome Button1Click(SimForm& form) {
    return Button1Click(form, [&form](FormCore&) { return form.TransferImage(); });
}

// How many 0x00 adjustment bytes the chip took in.
int ZerosReceived(const SimBoard& board) {
    int n = 0;
    for (const SimFrame& f : board.Inspect().log.frames) n += f.bytes == Bytes{0x00};
    return n;
}

TEST(WriteOnSim, GoodWriteReachesTheUserMat) {
    SimForm form;
    SimScope sim(form);
    form.board = &sim.board;
    Button1Click(form);

    EXPECT_EQ(form.statuses, kGoodMessages);
    EXPECT_EQ(form.beeps, 1);
    EXPECT_EQ(form.transfers, 1);
    EXPECT_EQ(form.stateAtTransfer, SimState::Programming);
    EXPECT_EQ(form.hostRateAtTransfer, 38400u);
    EXPECT_EQ(form.chipRateAtTransfer, 38400u);
    EXPECT_EQ(form.busyAtTransfer, 1);

    const SimBoard& board = sim.board;
    EXPECT_EQ(board.Inspect().log.FramesOf(0x10), (std::vector<Bytes>{{0x10, 0x04, 0x33, 0x75, 0x30, 0x31, 0xE3}}));
    EXPECT_EQ(board.Inspect().log.FramesOf(0x11), (std::vector<Bytes>{{0x11, 0x01, 0x00, 0xEE}}));
    EXPECT_EQ(board.Inspect().log.FramesOf(0x3F),
              (std::vector<Bytes>{{0x3F, 0x07, 0x01, 0x80, 0x04, 0xE2, 0x02, 0x04, 0x02, 0x4B}}));
    EXPECT_TRUE(form.selectedAtTransfer);
    EXPECT_EQ(board.Inspect().log.erases, 1);
    // Restarted into the user program, into boot mode, and after the transfer
    // into the user program again.
    EXPECT_EQ(board.Inspect().log.bootRestarts, 1);
    EXPECT_FALSE(board.Inspect().dtr);
    EXPECT_TRUE(board.Inspect().rts);
    EXPECT_EQ(form.LinkBusy, 0);
    EXPECT_EQ(form.MonitorRateSet, 1);
}

TEST(WriteOnSim, BoardFaults) {
    struct Case {
        const char* name;
        void (*set)(SimOptions&);
        const char* last;
        int beeps;
        uint32_t rate;
        int zeros;  // 0x00 bytes the chip took in; -1: not checked
    };
    // A chip that listens at once after its restart takes in every 0x00;
    // otherwise the first one arrives during its start-up and is lost.
    const Case cases[] = {
        {"silent chip",
         [](SimOptions& o) {
             o.silent = true;
             o.startupMicros = 0;
         },
         "cpu not answer 1", 1, 19200, 10},
        {"answers after the fourth 0x00",
         [](SimOptions& o) {
             o.syncZeros = 4;
             o.startupMicros = 0;
         },
         "boot mat select done 12", 1, 38400, 4},
        {"healthy chip", [](SimOptions&) {}, "boot mat select done 12", 1, 38400, 1},
        {"no 0xE6", [](SimOptions& o) { o.noE6 = true; }, "cpu not answer 2", 2, 19200, -1},
        {"another device", [](SimOptions& o) { o.productName = "H8S/2345"; }, "not H8SX1622", 1, 19200, -1},
        {"device refused", [](SimOptions& o) { o.errorCommand = 0x10; }, "cpu not answer 4", 2, 19200, -1},
        {"clock mode refused", [](SimOptions& o) { o.errorCommand = 0x11; }, "clock mode err 6", 2, 19200, -1},
        {"ratio inquiry refused", [](SimOptions& o) { o.errorCommand = 0x22; }, "teibai err 7", 2, 19200, -1},
        {"bit rate refused", [](SimOptions& o) { o.errorCommand = 0x3F; }, "new bps rate err 9", 2, 19200, -1},
        {"erase fails", [](SimOptions& o) { o.errorCommand = 0x40; }, "Erase err 11", 2, 38400, -1},
        {"erase of 25 s", [](SimOptions& o) { o.eraseMicros = 25000000; }, "boot mat select done 12", 1, 38400, -1},
        {"erase of 31 s", [](SimOptions& o) { o.eraseMicros = 31000000; }, "Erase err 11", 2, 38400, -1},
        {"user-MAT selection refused", [](SimOptions& o) { o.errorCommand = 0x43; }, "boot mat select false 12", 2,
         38400, -1},
    };
    for (const Case& c : cases) {
        SimForm form;
        SimOptions options;
        c.set(options);
        SimScope sim(form, options);
        form.board = &sim.board;
        Button1Click(form);
        const bool good = std::string(c.last) == "boot mat select done 12";
        EXPECT_EQ(form.LastStatusText(), c.last) << c.name;
        EXPECT_EQ(form.beeps, c.beeps) << c.name;
        EXPECT_EQ(sim.board.Inspect().hostRate, c.rate) << c.name;
        EXPECT_EQ(form.transfers, good ? 1 : 0) << c.name;
        if (c.zeros >= 0) {
            EXPECT_EQ(ZerosReceived(sim.board), c.zeros) << c.name;
        }
        EXPECT_EQ(form.LinkBusy, 0) << c.name;
        // A failed write leaves the chip in boot mode.
        if (!good) {
            EXPECT_TRUE(sim.board.Inspect().dtr) << c.name;
            EXPECT_FALSE(sim.board.Inspect().rts) << c.name;
        }
    }
}

// With the image transfer of the program itself.
TEST(WriteOnSim, TransferRunsAndTheTargetRestartsWhateverItsOutcome) {
    TempDir dir;
    dir.Write("tiny.mot", "S1070000DEADBEEFC0\nS9030000FC\n");
    const std::string path = dir.Sub("tiny.mot");
    struct Case {
        std::optional<std::string> file;
        bool programmed;
    };
    for (const Case& c : {Case{std::nullopt, false}, Case{path, true}}) {
        TestForm form;
        SimScope sim(form);
        form.fileChoice = c.file;
        Button1Click(form);
        EXPECT_EQ(form.fileDialogs, 1);
        EXPECT_FALSE(sim.board.Inspect().dtr);
        EXPECT_TRUE(sim.board.Inspect().rts);
        EXPECT_EQ(sim.board.Inspect().log.bootRestarts, 1);
        EXPECT_EQ(form.LinkBusy, 0);
        // The target runs its user program: the new one, or none on a blank flash.
        form.RunFor(TestForm::kTick);
        EXPECT_EQ(sim.board.Inspect().state, c.programmed ? SimState::UserProgram : SimState::UserBlank);
        if (c.programmed) {
            EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
            EXPECT_EQ(Bytes(sim.board.Inspect().flash.begin(), sim.board.Inspect().flash.begin() + 4),
                      (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
        } else {
            EXPECT_EQ(form.LastStatusText(), "select write file");
        }
    }
}

}  // namespace
