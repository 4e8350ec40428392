#include "Bench.h"

#include "bootmode/WriteCommand.h"
#include "support/StageMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using Calls = std::vector<std::string>;

const Calls& kPassedSequence = kBootStageMessages;

Calls Concat(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Calls Ticks(int n) { return Calls(n, "tick"); }

// What a write left behind. Only one bench can exist at a time (each installs
// its own provider), so scenarios to compare run one after the other.
struct Outcome {
    Calls log, statuses;
    int beeps, transfers;
};

template <typename Setup>
Outcome RunWrite(Setup setup) {
    Bench b;
    setup(b);
    Button1Click(b.form);
    return {b.Log(), b.form.statuses, b.form.beeps, b.form.transfers};
}

// The target left in boot mode, the write over.
void ExpectEndedInBootMode(Bench& b, const std::string& what) {
    EXPECT_EQ(b.form.transfers, 0) << what;
    EXPECT_EQ(b.Count("SetRts"), 1) << what << ": only the first restart";
    EXPECT_TRUE(b.dev->dtr) << what;
    EXPECT_FALSE(b.dev->rts) << what;
    EXPECT_EQ(b.form.LinkBusy, 0) << what;
    EXPECT_EQ(b.form.MonitorRateSet, 1) << what;
}

TEST(WriteCommand, GoodWriteTrafficInOrder) {
    Bench b;
    Button1Click(b.form);

    const Calls expected =
        Concat(Concat(Concat(Concat(
                                 // First restart into the user program, then the adjustment rate.
                                 {"SetRts", "SetDtr", "tick", "tick", "ClearDtr", "SetBaudRate 19200",
                                  // Restart into boot mode.
                                  "ClearDtr", "ClearRts", "tick", "SetDtr", "ClearRts",
                                  // Bit-rate adjustment.
                                  "PurgeBuffers 3", "WriteBytes 00", "ReadBytes 1", "WriteBytes 55", "ReadBytes 1",
                                  // Stages 3 to 10.
                                  "PurgeBuffers 3", "WriteBytes 20", "ReadBytes 17", "PurgeBuffers 3",
                                  "WriteBytes 10 04 33 75 30 31 E3", "ReadBytes 1", "PurgeBuffers 3", "WriteBytes 21",
                                  "ReadBytes 5", "PurgeBuffers 3", "WriteBytes 11 01 00 EE", "ReadBytes 1",
                                  "PurgeBuffers 3", "WriteBytes 22", "ReadBytes 10", "PurgeBuffers 3", "WriteBytes 23",
                                  "ReadBytes 12", "PurgeBuffers 3", "WriteBytes 3F 07 01 80 04 E2 02 04 02 4B",
                                  "ReadBytes 1", "SetBaudRate 38400", "PurgeBuffers 3", "WriteBytes 06", "ReadBytes 1",
                                  // Stage 11: the erase takes 2 s.
                                  "PurgeBuffers 3", "WriteBytes 40"},
                                 Ticks(20)),
                             {"ReadBytes 1",
                              // Stage 12, the transfer and the final restart.
                              "PurgeBuffers 3", "WriteBytes 43", "ReadBytes 1", "TransferImage", "SetRts", "SetDtr"}),
                      Ticks(2)),
               {"ClearDtr"});
    EXPECT_EQ(b.Log(), expected);

    EXPECT_EQ(b.form.statuses, GoodWriteMessages());
    EXPECT_EQ(b.form.beeps, 1);
    EXPECT_EQ(b.form.transfers, 1);
    EXPECT_EQ(b.form.busyDuringTransfer, 1);
    EXPECT_EQ(b.form.rateDuringTransfer, proto::kWriteBitRate);
    EXPECT_EQ(b.dev->rate, proto::kWriteBitRate);
    EXPECT_EQ(b.form.LinkBusy, 0);
    EXPECT_EQ(b.form.MonitorRateSet, 1);
    EXPECT_FALSE(b.dev->dtr);
    EXPECT_TRUE(b.dev->rts);
}

TEST(WriteCommand, BitRateAdjustment) {
    struct Case {
        const char* name;
        int firstAnswered;             // the first 0x00 the chip answers
        std::vector<uint8_t> answer;   // its answer to each answered 0x00
        int64_t delay;                 // after the 0x00 it answers
        std::vector<uint8_t> confirm;  // its answer to 0x55; empty: none
        int zeros;                     // 0x00 bytes written
        Calls statuses;
        int beeps;
    };
    const Calls kSilent = {"bit rate adjust", "cpu not answer 1"};
    const Calls kNoConfirm = {"bit rate adjust", "get ack 1", "bit rate adjust complete", "cpu not answer 2"};
    const Calls kGood = GoodWriteMessages();
    std::vector<uint8_t> late0(25, 0xFF), edge0(25, 0xFF);
    late0[20] = 0x00;  // the 21st byte
    edge0[19] = 0x00;  // the 20th byte
    const Case cases[] = {
        {"silent chip", 99, {0x00}, 0, {0xE6}, 10, kSilent, 1},
        {"answers the fourth", 4, {0x00}, 0, {0xE6}, 4, kGood, 1},
        {"answers the fourth within its 2 ticks", 4, {0x00}, 150000, {0xE6}, 4, kGood, 1},
        {"a late answer counts in the next attempt", 4, {0x00}, 250000, {0xE6}, 5, kGood, 1},
        {"answers without 0x00", 1, {0xFF}, 0, {0xE6}, 10, kSilent, 1},
        {"0x00 as the 21st byte", 1, late0, 0, {0xE6}, 10, kSilent, 1},
        {"0x00 as the 20th byte", 1, edge0, 0, {0xE6}, 1, kGood, 1},
        {"0x55 answered without 0xE6", 1, {0x00}, 0, {0xFF}, 1, kNoConfirm, 2},
        {"0x55 unanswered", 1, {0x00}, 0, {}, 1, kNoConfirm, 2},
    };
    for (const Case& c : cases) {
        Bench b;
        b.chip.firstAnsweredSync = c.firstAnswered;
        b.chip.replies[0x00] = {c.answer, c.delay};
        if (c.confirm.empty())
            b.chip.replies.erase(0x55);
        else
            b.chip.replies[0x55] = {c.confirm, 0};
        Button1Click(b.form);

        EXPECT_EQ(b.Count("WriteBytes 00"), c.zeros) << c.name;
        EXPECT_EQ(b.form.statuses, c.statuses) << c.name;
        EXPECT_EQ(b.form.beeps, c.beeps) << c.name;
        EXPECT_EQ(b.form.LinkBusy, 0) << c.name;
        EXPECT_EQ(b.form.MonitorRateSet, 1) << c.name;
        // One purge before the first 0x00, none between the attempts or before 0x55.
        const Calls adjust = b.CallsAfter("ClearRts");
        const Calls head(adjust.begin(), std::find(adjust.begin(), adjust.end(), "WriteBytes 55"));
        EXPECT_EQ(std::count(head.begin(), head.end(), "PurgeBuffers 3"), 1) << c.name;
        const bool synced = c.statuses.size() > 2;
        EXPECT_EQ(b.Count("WriteBytes 55"), synced ? 1 : 0) << c.name;
        if (c.statuses != kGood) {
            ExpectEndedInBootMode(b, c.name);
            EXPECT_EQ(b.Count("WriteBytes 20"), 0) << c.name;
            EXPECT_EQ(b.dev->rate, proto::kAdjustBitRate) << c.name;
            EXPECT_TRUE(b.dev->rx.empty()) << c.name << ": replies consumed";
        } else {
            EXPECT_EQ(b.form.transfers, 1) << c.name;
        }
    }
}

TEST(WriteCommand, SilentChipGivesUpAfterTwentyTicks) {
    Bench b;
    b.chip.replies.clear();
    Button1Click(b.form);
    // 2 + 1 ticks of restarts, then ten attempts of 2 ticks.
    EXPECT_EQ(b.form.clock.now, (3 + 20) * TestForm::kTick);
    EXPECT_EQ(b.form.LastStatusText(), "cpu not answer 1");
}

TEST(WriteCommand, FailedStageEndsTheWriteWithoutTransferOrRestart) {
    struct Case {
        uint8_t command;
        std::vector<uint8_t> reply;
        const char* message;
        bool beep;
    };
    const Case cases[] = {
        {0x20, {}, "cpu not answer 3", true},         {0x20, std::vector<uint8_t>(17, '0'), "not H8SX1622", false},
        {0x10, {}, "cpu not answer 4", true},         {0x21, {}, "cpu not answer 5", true},
        {0x11, {}, "clock mode err 6", true},         {0x22, {}, "teibai err 7", true},
        {0x23, {}, "cpu not answer 8", true},         {0x3F, {}, "new bps rate err 9", true},
        {0x06, {}, "new bps rate err 10", true},      {0x40, {}, "Erase err 11", true},
        {0x43, {}, "boot mat select false 12", true},
    };
    for (const Case& c : cases) {
        Bench b;
        if (c.reply.empty())
            b.chip.replies.erase(c.command);
        else
            b.chip.replies[c.command] = {c.reply, 0};
        Button1Click(b.form);
        EXPECT_EQ(b.form.LastStatusText(), c.message);
        EXPECT_EQ(b.form.beeps, c.beep ? 2 : 1) << c.message;
        ExpectEndedInBootMode(b, c.message);
    }
}

TEST(WriteCommand, EraseAcknowledgedAfter25sPassesAfter31sFails) {
    struct Case {
        int64_t erase;
        const char* last;
        int transfers;
    };
    for (Case c : {Case{25000000, "boot mat select done 12", 1}, Case{31000000, "Erase err 11", 0}}) {
        Bench b;
        b.chip.replies[0x40].delay = c.erase;
        Button1Click(b.form);
        EXPECT_EQ(b.form.LastStatusText(), c.last);
        EXPECT_EQ(b.form.transfers, c.transfers) << c.last;
    }
}

TEST(WriteCommand, SoundClearSameTrafficNoBeep) {
    struct Case {
        const char* name;
        uint8_t silenced;
        int beepsWithSound;
    };
    // 0xFF silences nothing.
    for (Case c : {Case{"good", 0xFF, 1}, Case{"silent chip", 0x00, 1}, Case{"no 0xE6", 0x55, 2},
                   Case{"stage 4", 0x10, 2}, Case{"erase", 0x40, 2}}) {
        const Outcome ticked = RunWrite([&](Bench& b) { b.chip.replies.erase(c.silenced); });
        const Outcome clear = RunWrite([&](Bench& b) {
            b.chip.replies.erase(c.silenced);
            b.form.sound = false;
        });
        EXPECT_EQ(clear.log, ticked.log) << c.name;
        EXPECT_EQ(clear.statuses, ticked.statuses) << c.name;
        EXPECT_EQ(ticked.beeps, c.beepsWithSound) << c.name;
        EXPECT_EQ(clear.beeps, 0) << c.name;
    }
}

TEST(WriteCommand, SecondClickDuringAWriteIsIgnored) {
    const Outcome base = RunWrite([](Bench&) {});

    // During the first restart (LinkBusy still clear), the boot-mode restart
    // and, twice, the erase.
    for (int64_t at : {50000, 250000, 320000, 1000000}) {
        const Outcome o = RunWrite([at](Bench& b) {
            BootForm* f = &b.form;
            b.form.At(at, [f] { Button1Click(*f); });
        });
        EXPECT_EQ(o.log, base.log) << at;
        EXPECT_EQ(o.statuses, base.statuses) << at;
        EXPECT_EQ(o.beeps, base.beeps) << at;
        EXPECT_EQ(o.transfers, 1) << at;
    }
}

TEST(WriteCommand, ClickAfterAWriteStartsTheNext) {
    Bench b;
    b.chip.replies.erase(0x20);
    Button1Click(b.form);
    ASSERT_EQ(b.form.LastStatusText(), "cpu not answer 3");
    b.chip = GoodChip();
    Button1Click(b.form);
    EXPECT_EQ(b.Count("SetBaudRate 19200"), 2);
    EXPECT_EQ(b.form.LastStatusText(), "boot mat select done 12");
    EXPECT_EQ(b.form.transfers, 1);
}

TEST(WriteCommand, ClickWhileLinkBusyDoesNothing) {
    Bench b;
    b.form.LinkBusy = 1;
    Button1Click(b.form);
    EXPECT_TRUE(b.Log().empty());
    EXPECT_TRUE(b.form.statuses.empty());
    EXPECT_EQ(b.form.beeps, 0);
    EXPECT_EQ(b.form.MonitorRateSet, 0);
    EXPECT_EQ(b.form.LinkBusy, 1);
}

TEST(WriteCommand, NeverOpenedConverterEndsAsSilentChip) {
    FakeLinkScope scope;
    BootForm form;
    Button1Click(form);
    EXPECT_EQ(form.statuses, (Calls{"bit rate adjust", "cpu not answer 1"}));
    EXPECT_EQ(form.LinkBusy, 0);
}

}  // namespace
