#include "download/PosixByteChannel.h"

#include "link/PortDiagnosis.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace norvex::download {

namespace {

using Clock = std::chrono::steady_clock;

bool speedCode(int baud, speed_t& code) {
    switch (baud) {
    case 9600:
        code = B9600;
        return true;
    case 19200:
        code = B19200;
        return true;
    case 38400:
        code = B38400;
        return true;
    case 57600:
        code = B57600;
        return true;
    case 115200:
        code = B115200;
        return true;
    default:
        return false;
    }
}

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

PosixByteChannel::PosixByteChannel(std::string devicePath) : path_(std::move(devicePath)) {}

PosixByteChannel::~PosixByteChannel() {
    close();
}

void PosixByteChannel::close() {
    if (fd_ < 0) return;
    int lines = TIOCM_DTR;
    (void)::ioctl(fd_, TIOCMBIC, &lines); // drop DTR; a pseudo-terminal refuses, which is fine
    (void)::tcflush(fd_, TCIOFLUSH);
    claim_.release(fd_); // exclusive use cleared, the settings found restored, the flock dropped
}

bool PosixByteChannel::reopen(int baud) {
    close();
    openErrno_ = 0;
    speed_t speed{};
    if (!speedCode(baud, speed)) return false;

    int fd = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openErrno_ = errno;
        return false;
    }
    if (!::isatty(fd)) {
        openErrno_ = ENOTTY;
        ::close(fd);
        return false;
    }
    if (!claim_.take(fd)) { // another program holds the port
        openErrno_ = errno != 0 ? errno : EBUSY;
        ::close(fd);
        return false;
    }
    auto fail = [this, &fd] {
        claim_.release(fd);
        return false;
    };

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0 || !loaderLine(tio, speed)) return fail();
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return fail();
    (void)::tcflush(fd, TCIOFLUSH);

    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIS, &lines); // refused by pseudo-terminals
    fd_ = fd;
    return true;
}

std::string PosixByteChannel::openFailureReason() const {
    if (openErrno_ == 0) return {};
    return link::PortDiagnosis().explain(path_, openErrno_).text;
}

bool PosixByteChannel::loaderLine(termios& tio, speed_t speed) {
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(PARENB | PARODD | CSTOPB | CSIZE | CRTSCTS | CMSPAR);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    // With O_NONBLOCK and VMIN 1 an empty queue reads as EAGAIN and only a hang-up reads as 0.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ::cfsetispeed(&tio, speed) == 0 && ::cfsetospeed(&tio, speed) == 0;
}

bool PosixByteChannel::write(const uint8_t* data, size_t length) {
    if (fd_ < 0) return false;
    size_t done = 0;
    auto stallDeadline = Clock::now() + std::chrono::milliseconds(WRITE_STALL_MS);
    while (done < length) {
        const ssize_t n = ::write(fd_, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            stallDeadline = Clock::now() + std::chrono::milliseconds(WRITE_STALL_MS);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const int left = remainingMs(stallDeadline);
        if (left == 0) return false;
        pollfd pfd{fd_, POLLOUT, 0};
        if (::poll(&pfd, 1, left) < 0 && errno != EINTR) return false;
        if (pfd.revents & (POLLERR | POLLNVAL)) return false;
    }
    (void)::tcdrain(fd_); // a pseudo-terminal may refuse; the bytes are in the device either way
    return true;
}

size_t PosixByteChannel::read(uint8_t* buf, size_t n, int timeoutMs) {
    if (fd_ < 0 || n == 0) return 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    size_t got = 0;
    for (;;) {
        const ssize_t r = ::read(fd_, buf + got, n - got);
        if (r > 0) {
            got += static_cast<size_t>(r);
            if (got == n) return got;
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return got; // hang-up or error
        const int left = remainingMs(deadline);
        if (left == 0) return got;
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, left);
        if (ready < 0 && errno != EINTR) return got;
        if (ready > 0 && !(pfd.revents & POLLIN)) return got; // hang-up or error without data
    }
}

void PosixByteChannel::delayMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace norvex::download
