#include "hexfile/FileIo.h"

#include <cerrno>

#include <unistd.h>

bool TFd::Close()
{
    const bool ok = Fd < 0 || ::close(Fd) == 0;
    Fd = -1;
    return ok;
}

bool ReadAll(int fd, std::string &text, size_t limit)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (text.size() + static_cast<size_t>(got) > limit)
            return false;
        text.append(buffer, static_cast<size_t>(got));
    }
}

bool WriteAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
