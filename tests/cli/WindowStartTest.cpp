// The window's start without a display, and arguments it refuses, through the
// real executable: each ends with status 2 and a plain message instead of the
// toolkit's abort.
#include "Run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

// Sets or removes environment variables for one scope (the runs inherit them).
class EnvScope {
public:
    void Set(const char* name, const char* value) {
        Save(name);
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvScope() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

private:
    void Save(const char* name) {
        const char* v = std::getenv(name);
        saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(WindowStart, WithoutADisplayItSaysSoInOneLineAndExitsWith2) {
    struct Case {
        const char* name;
        const char* platform;  // QT_QPA_PLATFORM; nullptr: unset
        const char* display;   // DISPLAY; nullptr: unset
        std::vector<std::string> args;
        const char* reason;  // a part of the message's reason
    };
    const Case cases[] = {
        {"no display at all", nullptr, nullptr, {}, "DISPLAY and WAYLAND_DISPLAY are not set"},
        {"a platform that does not exist", "nothing", nullptr, {}, "\"nothing\""},
        {"an X display that is not there", "xcb", ":97", {"--sim=flash=none"}, "could not connect to display"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvScope env;
        env.Set("QT_QPA_PLATFORM", c.platform);
        env.Set("DISPLAY", c.display);
        env.Set("WAYLAND_DISPLAY", nullptr);
        const RunResult r = RunWriter(c.args, 30);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
        EXPECT_EQ(r.err.rfind("h8sxwriter: cannot open the window: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("write, monitor, reset, list and erase need no display"), std::string::npos) << r.err;
    }
}

TEST(WindowStart, AnUnknownArgumentIsRefusedBeforeTheToolkitStarts) {
    EnvScope env;
    env.Set("QT_QPA_PLATFORM", nullptr);
    env.Set("DISPLAY", nullptr);
    env.Set("WAYLAND_DISPLAY", nullptr);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-v"}, {"-x", "--sim"}, {"-style"}, {"-reverse=1"}}) {
        const RunResult r = RunWriter(args, 30);
        EXPECT_EQ(r.status, 2) << args.front();
        EXPECT_EQ(r.err.rfind("h8sxwriter: unknown argument: " + args.front() + "\n", 0), 0u) << r.err;
    }
}

}  // namespace
