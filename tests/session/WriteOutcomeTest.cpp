// The outcome of whole writes on the simulated board: what each way of ending
// returns, with the stage and the message the status line showed.
#include "image/SRecordText.h"
#include "session/Session.h"
#include "support/SimScope.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

SimOptions Faulty(void (*fault)(SimOptions&)) {
    SimOptions o;
    if (fault) fault(o);
    return o;
}

TEST(WriteOutcome, EachWayOfEndingHasItsOutcome) {
    const std::string good = Lines({Record('1', 0, Counting(200)), Record('1', 200, Counting(100)), Record('9', 0)});
    const std::string refused = Lines({Record('1', 0, Counting(16), 1), Record('9', 0)});
    struct Case {
        const char* name;
        void (*fault)(SimOptions&);
        std::optional<std::string> file;  // nullopt: the file choice is cancelled
        WriteResult result;
        WriteStage stage;
        std::string message;
    };
    const Case cases[] = {
        {"good", nullptr, good, WriteResult::Done, WriteStage::None, ""},
        {"silent", [](SimOptions& o) { o.silent = true; }, good, WriteResult::TargetFailed, WriteStage::BitRateSync,
         "cpu not answer 1"},
        {"no 0xE6", [](SimOptions& o) { o.noE6 = true; }, good, WriteResult::TargetFailed, WriteStage::BitRateConfirm,
         "cpu not answer 2"},
        {"other chip", [](SimOptions& o) { o.productName = "H8/3048F"; }, good, WriteResult::TargetFailed,
         WriteStage::DeviceInquiry, "not H8SX1622"},
        {"erase", [](SimOptions& o) { o.errorCommand = 0x40; }, good, WriteResult::TargetFailed, WriteStage::Erase,
         "Erase err 11"},
        {"block 2", [](SimOptions& o) { o.noReplyBlock = 2; }, good, WriteResult::TargetFailed, WriteStage::Programming,
         "time out err1"},
        {"end", [](SimOptions& o) { o.errorCommand = kSimEndCommand; }, good, WriteResult::TargetFailed,
         WriteStage::EndProgramming, "write err"},
        {"cancel", nullptr, std::nullopt, WriteResult::Cancelled, WriteStage::None, ""},
        {"refused", nullptr, refused, WriteResult::FileRefused, WriteStage::None, "file checksum err line 1"},
        {"unopenable", nullptr, std::string(), WriteResult::FileRefused, WriteStage::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestForm form;
        SimScope sim(form, Faulty(c.fault));
        std::optional<TempFile> file;
        if (c.file && !c.file->empty()) {
            file.emplace(*c.file);
            form.fileChoice = file->Path();
        } else if (c.file) {
            form.fileChoice = "/nonexistent/dir/firmware.mot";
        }
        const WriteOutcome outcome = Button1Click(form);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(outcome.stage, c.stage);
        EXPECT_EQ(outcome.message, c.message);
        if (!c.message.empty()) {
            EXPECT_EQ(form.LastStatusText(), c.message);
        }
        EXPECT_EQ(form.LinkBusy, 0);
        EXPECT_EQ(form.TargetOperations, 0);
    }
}

TEST(WriteOutcome, AClickInsideARunningWriteOrRestartIsBusy) {
    TestForm form;
    SimScope sim(form);
    std::optional<WriteOutcome> nested;
    // 50 ms in: inside the first restart's wait, where LinkBusy is still clear.
    form.At(50000, [&] { nested = Button1Click(form); });
    Button1Click(form);
    ASSERT_TRUE(nested.has_value());
    EXPECT_EQ(nested->result, WriteResult::Busy);
}

}  // namespace
