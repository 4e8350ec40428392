#include "link/Provider.h"
#include "session/LinkChoice.h"

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<std::string> words, LinkChoice* choice, std::string* error) {
    std::vector<char*> argv{const_cast<char*>("h8sxwriter")};
    for (std::string& w : words) argv.push_back(&w[0]);
    return ParseLinkOptions(static_cast<int>(argv.size()), argv.data(), choice, error);
}

TEST(LinkChoiceTest, AcceptedForms) {
    struct Case {
        std::vector<std::string> args;
        LinkChoice::Kind kind;
        std::string port;
    };
    const Case cases[] = {
        {{}, LinkChoice::Kind::Scan, ""},
        {{"--port", "/dev/ttyUSB3"}, LinkChoice::Kind::Port, "/dev/ttyUSB3"},
        {{"--port=/dev/pts/7"}, LinkChoice::Kind::Port, "/dev/pts/7"},
        {{"--port", "--odd-name"}, LinkChoice::Kind::Port, "--odd-name"},
        {{"--sim"}, LinkChoice::Kind::Sim, ""},
        {{"--sim="}, LinkChoice::Kind::Sim, ""},
    };
    for (const Case& c : cases) {
        LinkChoice choice;
        std::string error;
        ASSERT_TRUE(Parse(c.args, &choice, &error)) << error;
        EXPECT_EQ(choice.kind, c.kind);
        EXPECT_EQ(choice.port, c.port);
    }
}

TEST(LinkChoiceTest, RejectedForms) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port"},
        {"--port="},
        {"--port", "/dev/a", "--port", "/dev/b"},
        {"--sim", "--port", "/dev/a"},
        {"--sim=nonsense=1"},
        {"--verbose"},
        {"stray"},
    };
    for (const auto& args : cases) {
        LinkChoice choice;
        choice.port = "untouched";
        std::string error;
        EXPECT_FALSE(Parse(args, &choice, &error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
        EXPECT_EQ(choice.port, "untouched") << "a failed parse leaves the choice alone";
    }
}

TEST(LinkChoiceTest, TakeLeavesOtherArgumentsInOrder) {
    std::vector<std::string> args = {"write", "--port", "/dev/ttyUSB0", "image.mot", "--yes"};
    LinkChoice choice;
    std::string error;
    ASSERT_TRUE(TakeLinkOptions(args, &choice, &error)) << error;
    EXPECT_EQ(args, (std::vector<std::string>{"write", "image.mot", "--yes"}));
    EXPECT_EQ(choice.kind, LinkChoice::Kind::Port);
}

TEST(LinkChoiceTest, InstallsTheChosenProvider) {
    LinkChoice port;
    port.kind = LinkChoice::Kind::Port;
    port.port = "/nonexistent/port";
    LinkProvider* installed = InstallLinkChoice(port);
    EXPECT_EQ(installed, CurrentLinkProvider());
    EXPECT_TRUE(CurrentLinkProvider()->List().empty());

    LinkChoice sim;
    sim.kind = LinkChoice::Kind::Sim;
    InstallLinkChoice(sim);
    ASSERT_EQ(CurrentLinkProvider()->List().size(), 1u);

    InstallLinkChoice(LinkChoice{});
    EXPECT_NE(CurrentLinkProvider(), nullptr);
    SetLinkProvider(nullptr);
}

}  // namespace
