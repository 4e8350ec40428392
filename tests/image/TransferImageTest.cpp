// The whole transfer phase: file choice, reading, programming.
#include "image/TransferImage.h"

#include "SRecordText.h"
#include "protocol/Protocol.h"
#include "support/FakeLink.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

namespace {

// A form in the middle of a write: LinkBusy keeps the monitor's receive pump
// off the link.
struct WritingForm : TestForm {
    WritingForm() { LinkBusy = 1; }
};

struct AckingTarget {
    FakeLinkScope scope;
    FakeDevice* device = nullptr;
    AckingTarget() {
        scope.provider->entries = {{"FAKE0001", "fake"}};
        EXPECT_EQ(OpenBySerialNumber("FAKE0001", OPEN_BY_SERIAL_NUMBER, &DeviceHandle), 0u);
        device = scope.provider->Device();
        device->onWrite = [this](const std::vector<uint8_t>&) { device->Feed({proto::kAck}); };
    }
};

TEST(TransferImage, CancelLeavesTheStatusAndTouchesNothing) {
    AckingTarget target;
    WritingForm form;
    form.progressPos = 50;
    TransferImage(form);
    EXPECT_EQ(form.fileDialogs, 1);
    EXPECT_EQ(form.statuses, std::vector<std::string>{"select write file"});
    EXPECT_EQ(form.progressPos, 50);
    EXPECT_TRUE(target.device->writes.empty());
}

TEST(TransferImage, UnopenableFileEndsWithoutAMessage) {
    AckingTarget target;
    WritingForm form;
    form.progressPos = 50;
    form.fileChoice = "/nonexistent/dir/firmware.mot";
    TransferImage(form);
    EXPECT_EQ(form.statuses, (std::vector<std::string>{"select write file", "file is transing,,"}));
    EXPECT_EQ(form.progressPos, 0);
    EXPECT_EQ(form.beeps, 0);
    EXPECT_TRUE(target.device->writes.empty());
}

TEST(TransferImage, RefusedFileIsReportedWithABeepAndNothingIsSent) {
    const Bytes a = Counting(16);
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {Lines({Record('1', 0, a), Record('1', 0x10, a, 3), Record('9', 0)}), "file checksum err line 2"},
        {Lines({Record('1', 0x10, a), Record('1', 0, a), Record('9', 0)}), "file address err line 2"},
        {Lines({Record('3', kMaxImageLength, a)}), "file size err line 1"},
        {Lines({Record('1', 0, a), Record('4', 0x10, a)}), "file format err line 2"},
        {Lines({Record('1', 0, a), Record('5', 2)}), "file count err line 2"},
        {Lines({HexRecord(0, 0, a), HexRecord(0, 0x10, a, 1)}), "file checksum err line 2"},
    };
    for (const Case& c : cases) {
        AckingTarget target;
        WritingForm form;
        TempFile file(c.text);
        form.fileChoice = file.Path();
        const int descriptors = OpenDescriptors();
        TransferImage(form);
        EXPECT_EQ(form.statuses, (std::vector<std::string>{"select write file", "file is transing,,", c.message}));
        EXPECT_EQ(form.beeps, 1);
        EXPECT_TRUE(target.device->writes.empty()) << "no block and no end command";
        EXPECT_EQ(OpenDescriptors(), descriptors) << "the file is closed";
    }
}

TEST(TransferImage, AcceptedFileIsProgrammed) {
    AckingTarget target;
    WritingForm form;
    const Bytes data = Counting(300, 3);
    std::vector<std::string> lines = {Record('0', 0, {'h'})};
    for (size_t at = 0; at < data.size(); at += 32)
        lines.push_back(Record('2', static_cast<uint32_t>(at),
                               Bytes(data.begin() + at, data.begin() + std::min(at + 32, data.size()))));
    lines.push_back(Record('8', 0));
    TempFile file(Lines(lines, "\r\n"));
    form.fileChoice = file.Path();
    const int descriptors = OpenDescriptors();
    TransferImage(form);
    EXPECT_EQ(form.statuses, (std::vector<std::string>{"select write file", "file is transing,,", "S2 file format",
                                                       "File -> cpu board", "rssponse OK", "           ", "rssponse OK",
                                                       "FLASH ROM write correct done!"}));
    EXPECT_EQ(form.beeps, 1);
    const auto& writes = target.device->writes;
    ASSERT_EQ(writes.size(), 4u);
    Bytes sent;
    for (size_t k = 0; k < 3; ++k) sent.insert(sent.end(), writes[k].begin() + 5, writes[k].end() - 1);
    EXPECT_TRUE(Bytes(sent.begin(), sent.begin() + 300) == data);
    EXPECT_EQ(form.progressPos, 300);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

TEST(TransferImage, IntelHexIsReadByItsContent) {
    AckingTarget target;
    WritingForm form;
    const Bytes data = Counting(100, 9);
    TempFile file(Lines({HexRecord(0, 0, data), HexRecord(0x01, 0)}), ".mot");
    form.fileChoice = file.Path();
    TransferImage(form);
    EXPECT_EQ(form.statuses,
              (std::vector<std::string>{"select write file", "file is transing,,", "HEX file format",
                                        "File -> cpu board", "rssponse OK", "FLASH ROM write correct done!"}));
    ASSERT_EQ(target.device->writes.size(), 2u);
    EXPECT_TRUE(Bytes(target.device->writes[0].begin() + 5, target.device->writes[0].begin() + 105) == data);
}

TEST(TransferImage, FileIsClosedWhenProgrammingFails) {
    AckingTarget target;
    target.device->onWrite = nullptr;  // the target never answers
    WritingForm form;
    TempFile file(Lines({Record('1', 0, Counting(16)), Record('9', 0)}));
    form.fileChoice = file.Path();
    const int descriptors = OpenDescriptors();
    TransferImage(form);
    EXPECT_EQ(form.LastStatusText(), "time out err1");
    EXPECT_EQ(target.device->writes.size(), 1u);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
