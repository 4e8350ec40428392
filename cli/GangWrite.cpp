#include "cli/GangWrite.h"

#include "cli/Commands.h"
#include "cli/JsonValue.h"
#include "cli/LinkSetup.h"
#include "cli/Progress.h"
#include "cli/StopSignals.h"
#include "cli/WriteSummary.h"

#include "image/FlashImage.h"
#include "image/ImageReader.h"
#include "link/Sysfs.h"
#include "sim/SimOptions.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kChildProgressFd = 3;
constexpr auto kRedraw = std::chrono::milliseconds(100);

struct Board {
    std::string name;  // as the display shows it
    LinkChoice link;
    pid_t pid = -1;
    int fds[3] = {-1, -1, -1};  // the child's events, standard output, standard error
    std::string buffered[3];
    bool reaped = false;
    int waitStatus = 0;
    SteadyClock::time_point started;

    // What the events said so far.
    std::string lastText;
    uint64_t done = 0, total = 0;
    double programmingSeconds = 0;

    bool ended = false;
    WriteSummary summary;

    bool PipesOpen() const { return fds[0] >= 0 || fds[1] >= 0 || fds[2] >= 0; }
    // The summary's port: the device, or the simulated board's name.
    const std::string& Port() const { return link.kind == LinkChoice::Kind::Sim ? name : link.port; }
};

std::string Seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", s);
    return buf;
}

std::string Pad(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// True when the --sim text "KEY=VALUE,..." sets `key`.
bool HasKey(const std::string& options, const std::string& key) {
    size_t at = 0;
    while (at <= options.size()) {
        const size_t comma = std::min(options.find(',', at), options.size());
        const std::string item = options.substr(at, comma - at);
        if (item.substr(0, item.find('=')) == key) return true;
        at = comma + 1;
    }
    return false;
}

// The path with its links resolved, or as given when it does not exist (yet).
std::string Resolved(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// The boards the arguments name; false with a message when there is none, or
// when two of them would be the same board.
bool BoardsOf(const CliArgs& args, std::vector<Board>* boards, std::string* error) {
    if (args.all) {
        for (const FtdiTty& tty : ListFtdiTtys()) {
            Board b;
            b.name = tty.serial.empty() ? tty.name : tty.serial;
            b.link.kind = LinkChoice::Kind::Port;
            b.link.port = tty.path;
            boards->push_back(b);
        }
        if (boards->empty()) *error = "no converter found";
        return !boards->empty();
    }
    int sims = 0;
    std::vector<std::string> places;  // flash files and devices, each only once
    for (const LinkChoice& link : args.boards) {
        Board b;
        b.link = link;
        std::string place;
        if (link.kind == LinkChoice::Kind::Sim) {
            b.name = "sim" + std::to_string(++sims);
            // Each simulated board has a flash of its own: without flash= it
            // lies next to the single board's, numbered.
            if (!HasKey(link.simOptions, "flash")) {
                std::string dir = DefaultSimFlashPath();
                dir.erase(dir.rfind('/') + 1);
                b.link.simOptions += (link.simOptions.empty() ? "" : ",") + std::string("flash=") + dir + "simflash-" +
                                     std::to_string(sims) + ".bin";
            }
            SimOptions options;
            if (ParseSimOptions(b.link.simOptions, &options, error) && !options.flashPath.empty())
                place = Resolved(options.flashPath);
        } else {
            b.name = link.port;
            place = Resolved(link.port);
        }
        if (!place.empty() && std::find(places.begin(), places.end(), place) != places.end()) {
            *error = link.kind == LinkChoice::Kind::Sim ? "two simulated boards share the flash file " + place
                                                        : "the port " + link.port + " is given twice";
            return false;
        }
        places.push_back(place);
        boards->push_back(b);
    }
    return true;
}

std::string LinkOption(const LinkChoice& link) {
    if (link.kind == LinkChoice::Kind::Port) return "--port=" + link.port;
    return link.simOptions.empty() ? "--sim" : "--sim=" + link.simOptions;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Starts one board's child. False when it could not be started.
bool Start(Board& b, const std::vector<std::string>& argv) {
    int pipes[3][2];
    for (auto& p : pipes)
        if (::pipe2(p, O_CLOEXEC) != 0) return false;
    std::vector<std::string> all{"h8sxwriter"};
    const std::vector<std::string> rest = ChildArguments(argv, b.link, kChildProgressFd);
    all.insert(all.end(), rest.begin(), rest.end());
    std::vector<char*> cargv;
    for (std::string& s : all) cargv.push_back(s.data());
    cargv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        // Standard output and error first: the events' descriptor may take
        // a number one of them had.
        ::dup2(pipes[1][1], 1);
        ::dup2(pipes[2][1], 2);
        if (pipes[0][1] == kChildProgressFd)
            ::fcntl(kChildProgressFd, F_SETFD, 0);
        else
            ::dup2(pipes[0][1], kChildProgressFd);
        if (devNull >= 0) ::dup2(devNull, 0);
        ::execv("/proc/self/exe", cargv.data());
        ::_exit(127);
    }
    if (devNull >= 0) ::close(devNull);
    b.pid = pid;
    for (int k = 0; k < 3; ++k) {
        ::close(pipes[k][1]);
        b.fds[k] = pipes[k][0];
        SetNonBlocking(b.fds[k]);
    }
    return true;
}

// One event line from a child.
void TakeEvent(Board& b, const std::string& line) {
    JsonValue v;
    if (!ParseJson(line, &v)) return;
    const std::string event = v.String("event").value_or("");
    if (event == "status") {
        b.lastText = v.String("text").value_or("");
    } else if (event == "progress") {
        b.done = static_cast<uint64_t>(v.Number("done").value_or(0));
        b.total = static_cast<uint64_t>(v.Number("total").value_or(0));
        b.programmingSeconds = v.Number("elapsed_s").value_or(0);
    }
}

// Reads what is there on descriptor k of a board; closes it at its end.
void Drain(Board& b, int k) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(b.fds[k], buf, sizeof buf);
        if (n > 0) {
            b.buffered[k].append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        ::close(b.fds[k]);  // the end, or an error that will not go away
        b.fds[k] = -1;
        break;
    }
    if (k != 0) return;
    for (size_t nl; (nl = b.buffered[0].find('\n')) != std::string::npos;) {
        TakeEvent(b, b.buffered[0].substr(0, nl));
        b.buffered[0].erase(0, nl + 1);
    }
}

// The last line of `text` that is not empty.
std::string LastLine(const std::string& text) {
    const size_t last = text.find_last_not_of('\n');
    if (last == std::string::npos) return "";
    const size_t newline = text.rfind('\n', last);
    const size_t start = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(start, last + 1 - start);
}

// The board's summary, once its child has ended.
void Conclude(Board& b, const std::string& file) {
    WriteSummary s;
    if (!SummaryFromJson(LastLine(b.buffered[1]), &s)) {
        s = WriteSummary();
        s.file = file;
        s.end = WriteEnd::Crashed;
        s.board = BoardState::Unknown;
        s.exitStatus = kExitFailure;
        s.elapsedSeconds = std::chrono::duration<double>(SteadyClock::now() - b.started).count();
        const std::string err = LastLine(b.buffered[2]);
        if (!err.empty())
            s.message = err;
        else if (WIFSIGNALED(b.waitStatus))
            s.message = std::string("ended by signal ") + strsignal(WTERMSIG(b.waitStatus));
        else
            s.message = "ended with status " + std::to_string(WEXITSTATUS(b.waitStatus)) + " without a summary";
    }
    s.port = b.Port();
    b.summary = s;
    b.ended = true;
}

std::string EndText(const WriteSummary& s) {
    std::string t = OutcomeText(s);
    if (!s.message.empty()) t += " (" + s.message + ")";
    t += ", " + Seconds(s.elapsedSeconds);
    if (s.verify) t += ", " + VerifyResultText(*s.verify);
    if (TellsBoardState(s)) t += "; board: " + DescribeBoard(s.board, s.programmedTo);
    return t;
}

// The live line of a board.
std::string LiveText(const Board& b) {
    if (b.ended) return OutcomeText(b.summary) + ", " + Seconds(b.summary.elapsedSeconds);
    std::string t = b.lastText.empty() ? "starting" : b.lastText;
    if (b.total > 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "  %3d%%", static_cast<int>(b.done * 100 / b.total));
        t = Pad(t, 28) + buf;
        if (b.done > 0 && b.programmingSeconds > 0) t += "  " + FormatBytes(b.done / b.programmingSeconds) + "/s";
    }
    return t;
}

class LiveDisplay {
public:
    explicit LiveDisplay(const std::vector<Board>& boards) : boards_(boards) {
        for (const Board& b : boards_) nameWidth_ = std::max(nameWidth_, b.name.size());
    }

    void Draw(bool force) {
        const auto now = SteadyClock::now();
        if (!force && drawn_ && now - lastDraw_ < kRedraw) return;
        lastDraw_ = now;
        winsize ws{};
        const size_t width = ::ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : 80;
        std::string out;
        if (drawn_) out += "\033[" + std::to_string(boards_.size()) + "A";
        for (const Board& b : boards_) {
            std::string line = Pad(b.name, nameWidth_) + "  " + LiveText(b);
            // A line that wraps would throw the cursor arithmetic off.
            if (line.size() >= width) line.resize(width - 1);
            out += "\r" + line + "\033[K\n";
        }
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
        drawn_ = true;
    }

private:
    const std::vector<Board>& boards_;
    size_t nameWidth_ = 5;
    bool drawn_ = false;
    SteadyClock::time_point lastDraw_;
};

void PrintTable(const std::vector<Board>& boards) {
    const char* const heads[] = {"board", "outcome", "stage", "time", "verify", "message"};
    std::vector<std::vector<std::string>> rows;
    rows.push_back({heads, heads + 6});
    for (const Board& b : boards) {
        const WriteSummary& s = b.summary;
        std::string verify = "-";
        if (s.verify) verify = s.verify->ok ? "OK" : "FAILED";
        rows.push_back({b.name, WriteEndName(s.end), s.stage ? std::to_string(*s.stage) : "-",
                        Seconds(s.elapsedSeconds), verify, s.message});
    }
    std::vector<size_t> widths(6, 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) line += c + 1 < row.size() ? Pad(row[c], widths[c] + 2) : row[c];
        std::printf("%s\n", line.c_str());
    }
    // What the boards that did not get their new program were left with.
    for (const Board& b : boards)
        if (TellsBoardState(b.summary))
            std::printf("%s: %s\n", b.name.c_str(), DescribeBoard(b.summary.board, b.summary.programmedTo).c_str());
}

}  // namespace

bool IsGangWrite(const CliArgs& args) { return args.all || args.boards.size() > 1; }

std::vector<std::string> ChildArguments(const std::vector<std::string>& argv, const LinkChoice& board, int progressFd) {
    std::vector<std::string> out;
    size_t i = 0;
    for (; i < argv.size(); ++i) {
        const std::string& s = argv[i];
        if (s == "--") break;
        if (s == "--port") {
            ++i;  // and its value
            continue;
        }
        if (s.rfind("--port=", 0) == 0 || s == "--sim" || s.rfind("--sim=", 0) == 0 || s == "--all" || s == "--json" ||
            s == "--verbose" || s == "-v" || s == "--quiet" || s == "-q" || s.rfind("--progress-fd", 0) == 0)
            continue;
        out.push_back(s);
    }
    out.push_back(LinkOption(board));
    out.push_back("--json");
    out.push_back("--progress-fd=" + std::to_string(progressFd));
    out.insert(out.end(), argv.begin() + static_cast<std::ptrdiff_t>(std::min(i, argv.size())), argv.end());
    return out;
}

int RunGangWrite(const CliArgs& args, const std::vector<std::string>& argv) {
    // The boards and their link options.
    std::vector<Board> boards;
    std::string error;
    if (!BoardsOf(args, &boards, &error)) {
        std::fprintf(stderr, "h8sxwriter: %s\n", error.c_str());
        if (!args.all) return kExitUsage;
        if (args.json) std::printf("[]\n");
        return kExitFailure;
    }
    for (Board& b : boards) {
        LinkChoice checked = b.link;
        if (int status = CheckLink(checked); status != kLinkReady) return status;
    }
    // A rate that the chip or the converter cannot use is refused here once,
    // not by every child.
    ClockSetup clock;
    std::vector<RatePlan> plans;
    if (int status = PlanWriteRates(args, &clock, &plans); status != kLinkReady) return status;

    // The file, once, before any board is touched.
    FlashImage image;
    const ReadResult read = ReadImageFile(args.file, image, ImageReadOptionsOf(args));
    if (!read.Accepted()) {
        std::string message = read.message;
        if (read.outcome == ReadOutcome::CannotOpen) message = ReadFailure(args.file);
        if (args.json) {
            std::vector<WriteSummary> all;
            for (const Board& b : boards) {
                WriteSummary s;
                s.file = args.file;
                s.port = b.Port();
                s.end = WriteEnd::FileRefused;
                s.message = message;
                s.exitStatus = kExitUsage;
                s.board = BoardState::Untouched;
                all.push_back(s);
            }
            std::printf("%s\n", SummaryJsonArray(all).c_str());
        } else if (read.outcome == ReadOutcome::CannotOpen) {
            std::fprintf(stderr, "h8sxwriter: %s: %s\n", args.file.c_str(), message.c_str());
        } else {
            std::printf("%s\n", message.c_str());
            if (::isatty(2) == 1) std::fputs("\a", stderr);
        }
        return kExitUsage;
    }

    // One child per board.
    StopSignals stop;
    const auto start = SteadyClock::now();
    for (Board& b : boards) {
        b.started = SteadyClock::now();
        if (!Start(b, argv)) {
            b.reaped = true;
            b.waitStatus = 127 << 8;
            b.buffered[2] = std::string("cannot start a writer: ") + std::strerror(errno) + "\n";
        }
    }

    const bool live = !args.json && ::isatty(1) == 1;
    LiveDisplay display(boards);
    if (live) display.Draw(true);
    int firstSignal = 0;
    for (;;) {
        if (const int sig = TakeStopSignal()) {
            if (!firstSignal) firstSignal = sig;
            for (Board& b : boards)
                if (!b.reaped) ::kill(b.pid, sig);
        }

        // The children that have closed every pipe are ending: reap them.
        bool running = false;
        for (Board& b : boards) {
            if (!b.reaped && !b.PipesOpen()) {
                while (::waitpid(b.pid, &b.waitStatus, 0) < 0 && errno == EINTR) {
                }
                b.reaped = true;
            }
            if (b.reaped && !b.ended) {
                Conclude(b, args.file);
                if (!args.json && !live) {
                    std::printf("%s: %s\n", b.name.c_str(), EndText(b.summary).c_str());
                    std::fflush(stdout);
                }
            }
            running = running || !b.ended;
        }
        if (live) display.Draw(!running);
        if (!running) break;

        std::vector<pollfd> fds;
        std::vector<std::pair<Board*, int>> owners;
        for (Board& b : boards)
            for (int k = 0; k < 3; ++k)
                if (b.fds[k] >= 0) {
                    fds.push_back({b.fds[k], POLLIN, 0});
                    owners.emplace_back(&b, k);
                }
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(kRedraw.count()));
        if (ready <= 0) continue;  // the tick, or a signal: see above
        for (size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents != 0) Drain(*owners[i].first, owners[i].second);
    }
    const double elapsed = std::chrono::duration<double>(SteadyClock::now() - start).count();

    // The report.
    std::vector<WriteSummary> all;
    size_t done = 0;
    for (const Board& b : boards) {
        all.push_back(b.summary);
        if (b.summary.end == WriteEnd::Done) ++done;
    }
    if (args.json) {
        std::printf("%s\n", SummaryJsonArray(all).c_str());
    } else {
        if (live) {
            std::printf("\n");
            PrintTable(boards);
        }
        std::printf("gang: %zu of %zu boards done, %s%s\n", done, boards.size(), Seconds(elapsed).c_str(),
                    firstSignal ? ", interrupted" : "");
    }
    std::fflush(stdout);
    if (firstSignal) return ExitStatusOfSignal(firstSignal);
    return done == boards.size() ? kExitOk : kExitFailure;
}
