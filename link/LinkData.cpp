#include "LinkData.h"

#include <cstring>
#include <unistd.h>

namespace norvex::link {

bool LinkData::submit(const std::uint8_t* frame, std::size_t length) {
    if (length == 0 || length > TX_SLOT_SIZE) return false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (txLength.load() != 0) return false;
        std::memcpy(txBytes.data(), frame, length);
        txLength.store(static_cast<std::uint8_t>(length));
    }
    const int fd = wakeFd.load();
    if (fd >= 0) {
        const std::uint64_t one = 1;
        // A full counter only means the worker has not read earlier wake-ups yet.
        [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    }
    return true;
}

std::size_t LinkData::take(std::array<std::uint8_t, TX_SLOT_SIZE>& out) {
    std::lock_guard<std::mutex> guard(lock);
    const std::size_t n = txLength.load();
    if (n == 0) return 0;
    std::memcpy(out.data(), txBytes.data(), n);
    return n;
}

} // namespace norvex::link
