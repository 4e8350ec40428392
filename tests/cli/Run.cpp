#include "Run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

pid_t Spawn(const std::vector<std::string>& args, int in, int out, int err) {
    std::vector<std::string> all{H8SXWRITER_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : all) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);  // its own group, so a terminal's signals stay with the test
        if (in >= 0) dup2(in, 0);
        if (out >= 0) dup2(out, 1);
        if (err >= 0) dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for `pid` up to `seconds`; true with its wait status when it ended.
bool WaitFor(pid_t pid, double seconds, int* wstatus) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        pid_t r = waitpid(pid, wstatus, WNOHANG);
        if (r == pid) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int ExitStatusOf(int wstatus) { return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1; }

RunResult RunWriterWith(const std::vector<std::string>& args, double timeoutSeconds, const std::string& input,
                        const std::function<void(pid_t)>& meanwhile);

}  // namespace

std::vector<std::string> RunResult::OutLines() const {
    std::vector<std::string> lines;
    std::istringstream s(out);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

RunResult RunWriter(const std::vector<std::string>& args, double timeoutSeconds, const std::string& input) {
    return RunWriterWith(args, timeoutSeconds, input, nullptr);
}

RunResult RunWriterWhile(const std::vector<std::string>& args, double timeoutSeconds,
                         const std::function<void(pid_t)>& meanwhile) {
    return RunWriterWith(args, timeoutSeconds, "", meanwhile);
}

namespace {

RunResult RunWriterWith(const std::vector<std::string>& args, double timeoutSeconds, const std::string& input,
                        const std::function<void(pid_t)>& meanwhile) {
    TempDir dir;
    WriteFile(dir.Sub("in"), input);
    int in = open(dir.Sub("in").c_str(), O_RDONLY);
    int out = open(dir.Sub("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(dir.Sub("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = Spawn(args, in, out, err);
    close(in);
    close(out);
    close(err);
    if (meanwhile) meanwhile(pid);

    RunResult r;
    int wstatus = 0;
    if (!WaitFor(pid, timeoutSeconds, &wstatus)) {
        r.timedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
    } else {
        r.status = ExitStatusOf(wstatus);
    }
    r.out = ReadFile(dir.Sub("out"));
    r.err = ReadFile(dir.Sub("err"));
    return r;
}

}  // namespace

Background::Background(const std::vector<std::string>& args) {
    int null = open("/dev/null", O_RDWR);
    pid_ = Spawn(args, null, -1, -1);
    close(null);
}

Background::~Background() {
    if (pid_ > 0 && !reaped_) Stop();
}

int Background::Stop(double seconds) {
    if (reaped_ || pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    int wstatus = 0;
    if (!WaitFor(pid_, seconds, &wstatus)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &wstatus, 0);
        status_ = -1;
    } else {
        status_ = ExitStatusOf(wstatus);
    }
    reaped_ = true;
    return status_;
}

std::string ReadFile(const std::string& path, bool* exists) {
    std::ifstream f(path, std::ios::binary);
    if (exists) *exists = static_cast<bool>(f);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}

bool WaitForPath(const std::string& path, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    struct stat st;
    while (std::chrono::steady_clock::now() < end) {
        if (stat(path.c_str(), &st) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}
