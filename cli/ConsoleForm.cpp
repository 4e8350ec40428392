#include "cli/ConsoleForm.h"

#include "cli/Progress.h"
#include "cli/StopSignals.h"
#include "cli/WriteSummary.h"
#include "link/Driver.h"
#include "session/Session.h"

#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

constexpr auto kTick = std::chrono::milliseconds(100);
constexpr auto kBarRedraw = std::chrono::milliseconds(100);

// The per-block texts of the programming: the line alternates between them.
bool IsBlockText(const std::string& text) { return text == "rssponse OK" || text == std::string(11, ' '); }

void WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            return;  // nowhere left to write to
        }
        data += w;
        n -= static_cast<size_t>(w);
    }
}

}  // namespace

ConsoleForm::ConsoleForm(Verbosity verbosity, FILE* out, int errFd)
    : verbosity_(verbosity),
      out_(out),
      errFd_(errFd),
      errIsTerminal_(::isatty(errFd) == 1),
      nextTick_(SteadyClock::now() + kTick) {}

ConsoleForm::~ConsoleForm() = default;

void ConsoleForm::WatchInput(int fd, std::function<void()> onReadable) {
    UnwatchInput(fd);
    watches_.push_back({fd, std::move(onReadable)});
}

void ConsoleForm::UnwatchInput(int fd) {
    watches_.erase(std::remove_if(watches_.begin(), watches_.end(), [fd](const Watch& w) { return w.fd == fd; }),
                   watches_.end());
}

void ConsoleForm::ShowStatus(const std::string& text) {
    const bool blockText = IsBlockText(text);
    if (stopSignal_ != 0) return;
    lastStatus_ = text;
    if (!blockText && eventFd_ >= 0) SendEvent("{\"event\":\"status\",\"text\":" + JsonString(text) + "}");
    if (verbosity_ == Verbosity::Quiet || verbosity_ == Verbosity::Silent) return;
    if (verbosity_ == Verbosity::Normal && IsBlockText(text)) return;
    // A message once the programming has moved ends it (a failure): the bar
    // stays where it stopped, above the message. Before that the bar steps
    // aside for the message and comes back below it.
    if (barActive_ && progressPos_ > 0 && !IsBlockText(text)) EndBar();
    const bool redraw = barDrawn_;
    ClearBar();
    if (oneLine_) {
        // The open status line is replaced, as the window's status line is.
        if (statusOpen_) std::fputs("\r\033[K", out_);
        // A message while the bar waits below the status line goes back up
        // to that line, so the status keeps to one line above the bar.
        else if (redraw && statusAboveBar_)
            std::fputs("\033[A\r\033[K", out_);
        std::fputs(text.c_str(), out_);
        statusOpen_ = true;
    } else {
        std::fputs(text.c_str(), out_);
        std::fputc('\n', out_);
    }
    std::fflush(out_);
    if (redraw) {
        EndStatusLine();
        DrawBar(true);
    }
}

void ConsoleForm::EndStatusLine() {
    if (!statusOpen_) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    statusOpen_ = false;
}

void ConsoleForm::SystemBeep() {
    if (errIsTerminal_) WriteAll(errFd_, "\a", 1);
}

void ConsoleForm::ProcessMessages() {
    // 1. What to wait for: the converter (unless it hung up, then only until
    //    the next tick) and the watched inputs.
    const int linkFd = linkHungUntilTick_ ? -1 : LinkEventFd(DeviceHandle);
    std::vector<pollfd> fds;
    if (linkFd >= 0) fds.push_back({linkFd, POLLIN, 0});
    const size_t firstWatch = fds.size();
    for (const Watch& w : watches_) fds.push_back({w.fd, POLLIN, 0});

    // 2. Wait until one of them is readable or the tick is due.
    auto now = SteadyClock::now();
    auto wait = std::max(SteadyClock::duration::zero(), nextTick_ - now);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);

    // 3. Service what woke us.
    if (ready > 0) {
        if (linkFd >= 0 && fds[0].revents != 0) {
            if (fds[0].revents & POLLIN)
                LinkService(DeviceHandle);
            else
                linkHungUntilTick_ = true;  // an error or hang-up stays readable: do not spin on it
        }
        // A handler may change the watches; take the ones that fired first.
        std::vector<std::function<void()>> fired;
        for (size_t k = firstWatch; k < fds.size(); ++k)
            if (fds[k].revents != 0) fired.push_back(watches_[k - firstWatch].onReadable);
        for (auto& f : fired) f();
    }

    CheckStop();

    // 4. The tick, when it is due. After a long stall the ticks do not catch
    //    up in a burst; they resume from now.
    now = SteadyClock::now();
    if (now >= nextTick_) {
        nextTick_ += kTick;
        if (now - nextTick_ > std::chrono::seconds(1)) nextTick_ = now + kTick;
        linkHungUntilTick_ = false;
        Timer1Timer(*this);
    }
}

void ConsoleForm::SetProgressMaximum(int maximum) {
    progressMax_ = maximum;
    // The maximum is set when the programming begins: from here on the bar
    // follows it, below the message that stood last.
    if (errIsTerminal_) {
        statusAboveBar_ = oneLine_ && statusOpen_;
        EndStatusLine();
    }
    barActive_ = true;
    barStart_ = SteadyClock::now();
    DrawBar(true);
    SendProgress(true);
}

void ConsoleForm::SetProgressPosition(int position) {
    if (position < 0 || position > progressMax_) return;  // as a progress bar does
    progressPos_ = position;
    if (barActive_) SendProgress(position == progressMax_);
    // The full bar stays on its own line above what follows.
    if (barActive_ && position == progressMax_)
        EndBar();
    else
        DrawBar(false);
}

bool ConsoleForm::ChooseImageFile(std::string&) { return false; }

void ConsoleForm::AppendMonitorLine(const std::string& bytes) {
    if (monitorFd_ < 0) return;
    EndStatusLine();
    std::fflush(out_);
    WriteAll(monitorFd_, bytes.data(), bytes.size());
    monitorBytes_ += bytes.size();
    if (!bytes.empty()) lastMonitorByte_ = static_cast<unsigned char>(bytes.back());
}

bool ConsoleForm::CheckStop() {
    if (stopOnSignals_ && stopSignal_ == 0 && PendingStopSignal() != 0) {
        stopSignal_ = PendingStopSignal();
        StopRequested = 1;
    }
    return stopSignal_ != 0;
}

void ConsoleForm::ReportStop(const std::string& text) {
    const int signal = stopSignal_;
    stopSignal_ = 0;
    EndBar();
    ShowStatus(text);
    stopSignal_ = signal;
}

void ConsoleForm::Finish() {
    if (finished_) return;
    finished_ = true;
    EndBar();
    EndStatusLine();
    if (verbosity_ == Verbosity::Quiet && !lastStatus_.empty()) {
        std::fputs(lastStatus_.c_str(), out_);
        std::fputc('\n', out_);
        std::fflush(out_);
    }
}

uint64_t ConsoleForm::ProgressTotal() const {
    const uint64_t max = progressMax_ > 0 ? static_cast<uint64_t>(progressMax_) : 1;
    return progressBytes_ ? progressBytes_ : max;
}

uint64_t ConsoleForm::ProgressDone() const {
    const uint64_t max = progressMax_ > 0 ? static_cast<uint64_t>(progressMax_) : 1;
    const uint64_t pos = static_cast<uint64_t>(std::max(progressPos_, 0));
    return ProgressTotal() * pos / max;
}

void ConsoleForm::SendEvent(const std::string& json) {
    const std::string line = json + "\n";
    WriteAll(eventFd_, line.data(), line.size());
}

void ConsoleForm::SendProgress(bool force) {
    if (eventFd_ < 0) return;
    const auto now = SteadyClock::now();
    if (!force && now - eventLastProgress_ < kBarRedraw) return;
    eventLastProgress_ = now;
    char buf[128];
    std::snprintf(buf, sizeof buf, "{\"event\":\"progress\",\"done\":%llu,\"total\":%llu,\"elapsed_s\":%.3f}",
                  static_cast<unsigned long long>(ProgressDone()), static_cast<unsigned long long>(ProgressTotal()),
                  std::chrono::duration<double>(now - barStart_).count());
    SendEvent(buf);
}

void ConsoleForm::DrawBar(bool force) {
    if (!errIsTerminal_ || !barActive_) return;
    const auto now = SteadyClock::now();
    if (!force && barDrawn_ && now - barLastDraw_ < kBarRedraw) return;
    barLastDraw_ = now;

    const uint64_t total = ProgressTotal();
    const uint64_t done = ProgressDone();
    const double elapsed = std::chrono::duration<double>(now - barStart_).count();
    const std::string label = progressLabel_.empty() ? std::string() : progressLabel_ + " ";
    const std::string line = "\r" + label + FormatProgress(done, total, elapsed) + "\033[K";
    WriteAll(errFd_, line.data(), line.size());
    barDrawn_ = true;
}

void ConsoleForm::EndBar() {
    if (barActive_) DrawBar(true);
    if (barDrawn_) WriteAll(errFd_, "\n", 1);
    barDrawn_ = false;
    barActive_ = false;
    statusAboveBar_ = false;
}

void ConsoleForm::ClearBar() {
    if (!barDrawn_) return;
    WriteAll(errFd_, "\r\033[K", 4);
    barDrawn_ = false;
}
