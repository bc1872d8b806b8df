#include "platform/posix/process_output.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace vexo::platform {

namespace {

constexpr size_t kMaxLineBytes = 4096;
constexpr size_t kMaxWaitingLines = 1000;

} // namespace

Process::Output::~Output() {
    for (int f : {fd, stopFds[0], stopFds[1]})
        if (f >= 0)
            ::close(f);
}

void Process::Output::Add(std::string line) {
    std::lock_guard<std::mutex> lock(mutex);
    if (lines.size() == kMaxWaitingLines)
        lines.pop_front();
    lines.push_back(std::move(line));
}

void Process::Output::Read(const std::shared_ptr<Output>& self) {
    char buffer[16384];
    for (;;) {
        pollfd fds[2] = {{self->fd, POLLIN, 0}, {self->stopFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            return;
        const ssize_t n = ::read(self->fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                std::string line = std::move(self->partial);
                self->partial.clear();
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                self->Add(std::move(line));
            } else if (self->partial.size() < kMaxLineBytes) {
                self->partial += buffer[i];
            }
        }
    }
    if (!self->partial.empty())
        self->Add(std::move(self->partial));
    self->partial.clear();
    std::lock_guard<std::mutex> lock(self->mutex);
    self->closed = true;
}

bool Process::OutputClosed() {
    if (!output_)
        return true;
    std::lock_guard<std::mutex> lock(output_->mutex);
    return output_->closed;
}

std::vector<std::string> Process::TakeOutputLines() {
    std::vector<std::string> taken;
    if (!output_)
        return taken;
    std::lock_guard<std::mutex> lock(output_->mutex);
    taken.assign(std::make_move_iterator(output_->lines.begin()),
                 std::make_move_iterator(output_->lines.end()));
    output_->lines.clear();
    return taken;
}

} // namespace vexo::platform
