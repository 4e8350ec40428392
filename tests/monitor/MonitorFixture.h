// A converter on the recording fake, opened, and a virtual-time form whose
// beeps are written into the same log as the driver calls, so a test sees the
// order of both.
#pragma once

#include "support/FakeLink.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class LoggingForm : public TestForm {
public:
    explicit LoggingForm(FakeLog& log) : log_(log) {}
    void SystemBeep() override {
        TestForm::SystemBeep();
        log_.calls.push_back("beep");
    }

private:
    FakeLog& log_;
};

class MonitorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        link.provider->entries = {{"FT7X31QA", "/dev/ttyUSB0"}};
        ASSERT_EQ(OpenBySerialNumber("FT7X31QA", OPEN_BY_SERIAL_NUMBER, &DeviceHandle), 0u);
        device = link.provider->Device();
        log().calls.clear();
    }
    FakeLog& log() { return link.provider->log; }
    std::vector<std::string>& calls() { return log().calls; }

    FakeLinkScope link;
    FakeDevice* device = nullptr;
    LoggingForm form{link.provider->log};
};
