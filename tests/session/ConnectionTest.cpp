#include "session/Connection.h"
#include "support/FakeLink.h"
#include "support/TempDir.h"
#include "support/TestForm.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> kConnectCalls = {
    "ListSerialNumber", "OpenBySerialNumber FT6A2B3C",  "SetBaudRate 19200", "SetDataCharacteristics 8 0 0",
    "SetTimeouts 0 0",  "SetUsbParameters 10000 10000",
};

struct ConnectionTest : ::testing::Test {
    TempDir dir;
    FakeLinkScope link;
    TestForm form;
    SettingsPlaces places;

    void SetUp() override {
        places.executableDir = dir.MakeDir("bin");
        places.configDir = dir.Sub("config/h8sxwriter");  // not there yet
        link.provider->entries = {{"FT6A2B3C", "/dev/ttyUSB0"}};
    }
    std::vector<std::string>& Calls() { return link.provider->log.calls; }
    std::string Settings() const { return std::string(reinterpret_cast<const char*>(form.Settings), 3); }
    // The settings a further start of the program reads, with the same places.
    std::string SettingsOfALaterStart() const {
        TestForm later;
        FakeLinkScope l;
        l.provider->entries = {{"FT6A2B3C", "/dev/ttyUSB0"}};
        FormShow(later, places);
        return std::string(reinterpret_cast<const char*>(later.Settings), 3);
    }
};

TEST_F(ConnectionTest, FirstStartCreates113AndConnectsAsWhenRead) {
    FormShow(form, places);
    EXPECT_EQ(dir.Read("bin/vkp1622.par"), "113");
    EXPECT_FALSE(dir.Exists("config"));
    EXPECT_EQ(Settings(), "113");
    EXPECT_EQ(Calls(), kConnectCalls);
    EXPECT_EQ(form.serialShown, "FT6A2B3C");
    EXPECT_EQ(form.statuses,
              (std::vector<std::string>{"Serial Number Read Success!", "USB Serial Number Open Success!"}));
    EXPECT_NE(DeviceHandle, nullptr);
    EXPECT_EQ(LastStatus, 0u);
    EXPECT_EQ(form.beeps, 0);
}

TEST_F(ConnectionTest, SecondStartListsOpensThenSetsUpTheLinkInOrder) {
    FormShow(form, places);
    TestForm second;
    FakeLinkScope again;
    again.provider->entries = {{"FT6A2B3C", "/dev/ttyUSB0"}};
    FormShow(second, places);
    EXPECT_EQ(again.provider->log.calls, kConnectCalls);
    EXPECT_EQ(dir.Read("bin/vkp1622.par"), "113");
    EXPECT_EQ(second.LastStatusText(), "USB Serial Number Open Success!");
}

TEST_F(ConnectionTest, AnyContentConnectsAndOnlyThreeBytesAreRead) {
    struct Case {
        std::string content;
        std::string settings;
    };
    const Case cases[] = {
        {"", "\xFF\xFF\xFF"},
        {"7", "7\xFF\xFF"},
        {"ab", "ab\xFF"},
        {"xyz", "xyz"},
        {std::string("\0\n\r", 3), std::string("\0\n\r", 3)},
        {"123456789", "123"},
    };
    for (const Case& c : cases) {
        TestForm f;
        FakeLinkScope l;
        l.provider->entries = {{"FT6A2B3C", "/dev/ttyUSB0"}};
        dir.Write("bin/vkp1622.par", c.content);
        FormShow(f, places);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.Settings), 3), c.settings) << c.content;
        EXPECT_EQ(dir.Read("bin/vkp1622.par"), c.content) << "the file is never rewritten";
        EXPECT_EQ(l.provider->log.calls, kConnectCalls) << c.content;
    }
}

TEST_F(ConnectionTest, OpenUsesTheFirstEightCharactersOfTheListedNumber) {
    struct Case {
        std::string listed;
        std::string opened;
    };
    for (const Case& c : {Case{"FTABCDEFGH", "FTABCDEF"}, Case{"FTABCDEF", "FTABCDEF"}, Case{"FT12", "FT12"}}) {
        TestForm f;
        FakeLinkScope l;
        l.provider->entries = {{c.listed, "/dev/ttyUSB0"}};
        FormShow(f, places);
        EXPECT_EQ(f.serialShown, c.listed) << "the field shows the number whole";
        ASSERT_GE(l.provider->log.calls.size(), 2u);
        EXPECT_EQ(l.provider->log.calls[1], "OpenBySerialNumber " + c.opened);
        EXPECT_EQ(f.SerialNumber, c.opened);
        EXPECT_EQ(f.LastStatusText(), "USB Serial Number Open Success!");
    }
}

TEST_F(ConnectionTest, OnlyTheFirstListedConverterIsOpened) {
    link.provider->entries = {{"FTFIRST1", "/dev/ttyUSB0"}, {"FTSECOND", "/dev/ttyUSB1"}};
    FormShow(form, places);
    EXPECT_EQ(Calls()[1], "OpenBySerialNumber FTFIRST1");
    EXPECT_EQ(form.serialShown, "FTFIRST1");
}

TEST_F(ConnectionTest, NoConverterReportsTheFailedOpenWithOneBeepEvenWithoutSound) {
    link.provider->entries.clear();
    form.sound = false;
    FormShow(form, places);
    EXPECT_EQ(form.statuses,
              (std::vector<std::string>{"Read failed ! Can't See FTDI IC", "USB Serial Number Open failed !"}));
    EXPECT_EQ(form.beeps, 1);
    EXPECT_EQ(form.serialShown, "xxxx");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"ListSerialNumber", "OpenBySerialNumber "}));
    EXPECT_EQ(DeviceHandle, nullptr);
    EXPECT_NE(LastStatus, 0u);
}

TEST_F(ConnectionTest, ListedButUnopenableConverterStillGetsTheFailedOpen) {
    link.provider->entries = {{"", "/dev/ttyUSB0"}};  // the fake opens no empty number
    FormShow(form, places);
    EXPECT_EQ(form.statuses,
              (std::vector<std::string>{"Serial Number Read Success!", "USB Serial Number Open failed !"}));
    EXPECT_EQ(form.beeps, 1);
}

TEST_F(ConnectionTest, FallsBackToTheUserConfigurationFolder) {
    places.executableDir = dir.Sub("no/such/bin");  // neither readable nor creatable
    FormShow(form, places);
    EXPECT_EQ(dir.Read("config/h8sxwriter/vkp1622.par"), "113");
    EXPECT_EQ(Calls(), kConnectCalls);

    // A later start reads the file made there.
    dir.Write("config/h8sxwriter/vkp1622.par", "abc");
    EXPECT_EQ(SettingsOfALaterStart(), "abc");
}

TEST_F(ConnectionTest, TheFileNextToTheExecutableWins) {
    dir.MakeDir("config/h8sxwriter");
    dir.Write("config/h8sxwriter/vkp1622.par", "cfg");
    dir.Write("bin/vkp1622.par", "exe");
    FormShow(form, places);
    EXPECT_EQ(Settings(), "exe");
}

TEST_F(ConnectionTest, ASystemProgramDirectoryIsReadButNeverWritten) {
    // Installed in /usr/bin and run as root: no file is made there.
    places.executableDirIsSystem = true;
    FormShow(form, places);
    EXPECT_FALSE(dir.Exists("bin/vkp1622.par"));
    EXPECT_EQ(dir.Read("config/h8sxwriter/vkp1622.par"), "113");
    EXPECT_EQ(Calls(), kConnectCalls);

    // A file an administrator put there is still the one read.
    dir.Write("bin/vkp1622.par", "sys");
    EXPECT_EQ(SettingsOfALaterStart(), "sys");
}

TEST(SettingsPlacesTest, SystemProgramDirectories) {
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin", "/usr/sbin", "/usr/bin/"})
        EXPECT_TRUE(IsSystemProgramDir(dir)) << dir;
    for (const char* dir : {"/opt/h8sxwriter/bin", "/home/me/h8sxwriter/build", "/usr/bin/x", "/usr", "", "/"})
        EXPECT_FALSE(IsSystemProgramDir(dir)) << dir;
}

TEST_F(ConnectionTest, NeitherPlaceUsableMeansNoDataFileAndNoDriverCall) {
    places.executableDir = dir.Sub("no/such/bin");
    dir.Write("blocker", "a file where the folder would go");
    places.configDir = dir.Sub("blocker/h8sxwriter");
    FormShow(form, places);
    EXPECT_EQ(form.statuses, (std::vector<std::string>{"can't find data_file"}));
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Settings(), std::string(3, '\0'));
    EXPECT_EQ(form.serialShown, "xxxx");
    EXPECT_EQ(form.beeps, 0);
}

TEST_F(ConnectionTest, LinkBusyHeldDuringTheRunAndBothFlagsClearAfterEveryOutcome) {
    struct BusyProbe : FakeProvider {
        TestForm* form = nullptr;
        std::vector<int> seen;
        std::vector<Entry> List() override {
            seen.push_back(form->LinkBusy);
            return FakeProvider::List();
        }
    };
    for (int outcome = 0; outcome < 3; ++outcome) {
        TestForm f;
        f.LinkBusy = 0;
        f.MonitorRateSet = 1;
        auto probe = std::make_unique<BusyProbe>();
        probe->form = &f;
        if (outcome == 0) probe->entries = {{"FT6A2B3C", "/dev/ttyUSB0"}};
        BusyProbe* p = probe.get();
        SetLinkProvider(std::move(probe));
        SettingsPlaces where = places;
        if (outcome == 2) where = {dir.Sub("missing"), ""};
        FormShow(f, where);
        EXPECT_EQ(f.LinkBusy, 0) << outcome;
        EXPECT_EQ(f.MonitorRateSet, 0) << outcome;
        if (outcome < 2) {
            EXPECT_EQ(p->seen, std::vector<int>{1}) << outcome;
        }
        DeviceHandle = nullptr;
    }
}

TEST(SettingsPlacesTest, ConfigFolderFollowsXdgThenHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", "/home/tester", 1);

    struct Case {
        const char* xdg;
        std::string expected;
    };
    for (Case c : {Case{"/xdg/conf", "/xdg/conf/h8sxwriter"}, Case{"relative/conf", "/home/tester/.config/h8sxwriter"},
                   Case{"", "/home/tester/.config/h8sxwriter"}, Case{nullptr, "/home/tester/.config/h8sxwriter"}}) {
        if (c.xdg)
            setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(DefaultSettingsPlaces().configDir, c.expected) << (c.xdg ? c.xdg : "(unset)");
    }
    EXPECT_FALSE(DefaultSettingsPlaces().executableDir.empty());

    if (oldXdg)
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    if (oldHome) setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
