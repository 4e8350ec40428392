#include "cli/ConsoleForm.h"

#include "link/Driver.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

// Everything a ConsoleForm writes: its message stream in memory, the
// descriptor for the bar and the beep either a pipe or a terminal.
struct Captured {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    int errRead = -1, errWrite = -1;

    explicit Captured(bool terminal) {
        int fds[2];
        if (terminal) {
            EXPECT_EQ(openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr), 0);
        } else {
            EXPECT_EQ(pipe(fds), 0);
        }
        errRead = fds[0];
        errWrite = fds[1];
        fcntl(errRead, F_SETFL, O_NONBLOCK);
    }
    ~Captured() {
        std::fclose(out);
        std::free(buffer);
        close(errRead);
        close(errWrite);
    }
    std::string Out() {
        std::fflush(out);
        return std::string(buffer, size);
    }
    std::string Err() {
        std::string all;
        char buf[4096];
        ssize_t n;
        while ((n = read(errRead, buf, sizeof buf)) > 0) all.append(buf, static_cast<size_t>(n));
        return all;
    }
};

const char* kMessages[] = {"bit rate adjust", "File -> cpu board", "rssponse OK",
                           "           ",     "rssponse OK",       "FLASH ROM write correct done!"};

}  // namespace

TEST(ConsoleForm, WritesEachMessageOnItsOwnLineAsTheVerbosityAsks) {
    struct Case {
        ConsoleForm::Verbosity verbosity;
        const char* expected;
    };
    const Case cases[] = {
        {ConsoleForm::Verbosity::Normal, "bit rate adjust\nFile -> cpu board\nFLASH ROM write correct done!\n"},
        {ConsoleForm::Verbosity::Verbose,
         "bit rate adjust\nFile -> cpu board\nrssponse OK\n           \nrssponse OK\n"
         "FLASH ROM write correct done!\n"},
        {ConsoleForm::Verbosity::Quiet, "FLASH ROM write correct done!\n"},
    };
    for (const Case& c : cases) {
        Captured cap(false);
        ConsoleForm form(c.verbosity, cap.out, cap.errWrite);
        for (const char* m : kMessages) form.ShowStatus(m);
        form.Finish();
        EXPECT_EQ(cap.Out(), c.expected);
        EXPECT_EQ(form.LastStatusText(), "FLASH ROM write correct done!");
    }
}

TEST(ConsoleForm, OnOneLineEachMessageReplacesTheOneBeforeAndTheLastStays) {
    // No bar: the whole write on one line, ended by Finish.
    {
        Captured cap(false);
        ConsoleForm form(ConsoleForm::Verbosity::Normal, cap.out, cap.errWrite);
        form.SetStatusOnOneLine(true);
        for (const char* m : kMessages) form.ShowStatus(m);
        form.Finish();
        EXPECT_EQ(cap.Out(), "bit rate adjust\r\033[KFile -> cpu board\r\033[KFLASH ROM write correct done!\n");
    }
    // With the bar on a terminal: the line before it ends, the bar stands on
    // its own line, and a failure after it stays on screen.
    {
        Captured cap(true);
        ConsoleForm form(ConsoleForm::Verbosity::Normal, cap.out, cap.errWrite);
        form.SetStatusOnOneLine(true);
        form.ShowStatus("get ack 1");
        form.ShowStatus("S1 file format");
        form.SetProgressMaximum(100);
        form.ShowStatus("File -> cpu board");  // before the bar moves: back up on the status line
        form.SetProgressPosition(50);
        form.ShowStatus("time out err1");
        form.Finish();
        EXPECT_EQ(cap.Out(), "get ack 1\r\033[KS1 file format\n\033[A\r\033[KFile -> cpu board\ntime out err1\n");
        const std::string err = cap.Err();
        EXPECT_EQ(err.back(), '\n') << err;  // the bar ended before the failure
    }
    // --verbose and --quiet keep their own forms.
    for (auto v : {ConsoleForm::Verbosity::Verbose, ConsoleForm::Verbosity::Quiet}) {
        Captured cap(false);
        ConsoleForm form(v, cap.out, cap.errWrite);
        form.SetStatusOnOneLine(true);
        form.ShowStatus("a");
        form.ShowStatus("b");
        form.Finish();
        EXPECT_EQ(cap.Out(), v == ConsoleForm::Verbosity::Verbose ? "a\nb\n" : "b\n");
    }
}

TEST(ConsoleForm, BarAndBeepOnlyOnATerminal) {
    for (bool terminal : {false, true}) {
        Captured cap(terminal);
        ConsoleForm form(ConsoleForm::Verbosity::Normal, cap.out, cap.errWrite);
        form.SetProgressBytes(4096);
        form.SetProgressPosition(0);
        form.SetProgressMaximum(4096);
        for (int pos = 128; pos <= 4096; pos += 128) form.SetProgressPosition(pos);
        form.ShowStatus("FLASH ROM write correct done!");
        form.SystemBeep();
        form.Finish();
        EXPECT_EQ(cap.Out(), "FLASH ROM write correct done!\n");  // the bar never reaches the messages
        const std::string err = cap.Err();
        if (!terminal) {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_NE(err.find("0%  0.0/4.0 KiB"), std::string::npos) << err;
            EXPECT_NE(err.find("100%  4.0/4.0 KiB"), std::string::npos) << err;
            EXPECT_NE(err.find('\a'), std::string::npos);
        }
    }
}

// The verify's bar follows the programming's, under its own label.
TEST(ConsoleForm, ASecondBarWithItsLabel) {
    Captured cap(true);
    ConsoleForm form(ConsoleForm::Verbosity::Normal, cap.out, cap.errWrite);
    form.SetProgressBytes(2048);
    form.SetProgressMaximum(2048);
    form.SetProgressPosition(2048);
    const std::string programming = cap.Err();
    EXPECT_EQ(programming.find("verifying"), std::string::npos);
    form.SetProgressLabel("verifying");
    form.SetProgressPosition(0);
    form.SetProgressMaximum(2048);
    form.SetProgressPosition(1024);
    form.SetProgressPosition(2048);
    form.Finish();
    const std::string verify = cap.Err();
    EXPECT_NE(verify.find("\rverifying [...."), std::string::npos) << verify;
    EXPECT_NE(verify.find("verifying [########################] 100%  2.0/2.0 KiB"), std::string::npos) << verify;
}

TEST(ConsoleForm, ProgressPositionBehavesLikeABar) {
    Captured cap(false);
    ConsoleForm form(ConsoleForm::Verbosity::Normal, cap.out, cap.errWrite);
    form.SetProgressMaximum(1000);
    form.SetProgressPosition(640);
    form.SetProgressPosition(1001);  // beyond the maximum: ignored
    form.SetProgressPosition(-1);
    EXPECT_EQ(form.ProgressPosition(), 640);
}

TEST(ConsoleForm, MonitorBytesPassUnchangedOrNotAtAll) {
    Captured cap(false);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ConsoleForm form(ConsoleForm::Verbosity::Normal, cap.out, cap.errWrite);
    form.AppendMonitorLine("dropped while writing");
    form.SetMonitorOutput(fds[1]);
    form.AppendMonitorLine("ab");
    form.AppendMonitorLine(std::string("c\r\n\xff", 4));
    close(fds[1]);
    std::string got;
    char buf[64];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    EXPECT_EQ(got, std::string("abc\r\n\xff", 6));
    EXPECT_EQ(form.MonitorBytes(), 6u);
    EXPECT_EQ(cap.Out(), "");
}

TEST(ConsoleForm, PumpSleepsUntilTheTickOrAnInput) {
    using namespace std::chrono;
    DeviceHandle = nullptr;
    Captured cap(false);
    ConsoleForm form(ConsoleForm::Verbosity::Normal, cap.out, cap.errWrite);

    // A wait of three ticks takes about 300 ms of real time and almost no CPU.
    const auto t0 = steady_clock::now();
    const std::clock_t c0 = std::clock();
    form.WaitForTicks(3);
    const double wall = duration<double>(steady_clock::now() - t0).count();
    const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
    EXPECT_GE(wall, 0.19);
    EXPECT_LT(wall, 0.5);
    EXPECT_LT(cpu, 0.05);

    // Input ends a pass at once, well before the next tick.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int calls = 0;
    form.WatchInput(fds[0], [&] {
        char c;
        (void)!read(fds[0], &c, 1);
        ++calls;
    });
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    const auto t1 = steady_clock::now();
    form.ProcessMessages();
    EXPECT_EQ(calls, 1);
    EXPECT_LT(duration<double>(steady_clock::now() - t1).count(), 0.05);
    form.UnwatchInput(fds[0]);
    close(fds[0]);
    close(fds[1]);
}
