#include "cli/GangWrite.h"

#include <gtest/gtest.h>

TEST(GangWrite, ChildGetsEveryWriteOptionButTheLinkAndTheOutputOnes) {
    LinkChoice port;
    port.kind = LinkChoice::Kind::Port;
    port.port = "/dev/ttyUSB1";
    LinkChoice sim;
    sim.kind = LinkChoice::Kind::Sim;
    sim.simOptions = "flash=/tmp/b.bin,silent";
    struct Case {
        std::vector<std::string> argv;
        LinkChoice board;
        std::vector<std::string> child;
    };
    const Case cases[] = {
        {{"write", "fw.mot", "--port", "/dev/ttyUSB0", "--port=/dev/ttyUSB1", "--verify=sum", "-v"},
         port,
         {"write", "fw.mot", "--verify=sum", "--port=/dev/ttyUSB1", "--json", "--progress-fd=3"}},
        {{"--sim", "write", "--all", "--json", "--rate", "fastest", "-q", "fw.mot", "--sim=flash=x"},
         sim,
         {"write", "--rate", "fastest", "fw.mot", "--sim=flash=/tmp/b.bin,silent", "--json", "--progress-fd=3"}},
        // After "--" everything is FILE and stays behind the added options.
        {{"write", "--port", "a", "--port", "b", "--", "--port"},
         port,
         {"write", "--port=/dev/ttyUSB1", "--json", "--progress-fd=3", "--", "--port"}},
    };
    for (const Case& c : cases) EXPECT_EQ(ChildArguments(c.argv, c.board, 3), c.child);
}
