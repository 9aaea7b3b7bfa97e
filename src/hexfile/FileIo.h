#pragma once

#include <cstddef>
#include <limits>
#include <string>

// Plain descriptor I/O shared by the HEX reader and writer.

// Closes a descriptor when it goes out of scope.
struct TFd
{
    int Fd = -1;
    explicit TFd(int fd) : Fd(fd) {}
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    ~TFd() { Close(); }
    // False when the close itself failed (data not written after all).
    bool Close();
};

// Appends everything from fd's current offset to its end; false on a read
// error or when text would pass limit bytes.
bool ReadAll(int fd, std::string &text,
             size_t limit = std::numeric_limits<size_t>::max());

// Writes all of text; false on any error.
bool WriteAll(int fd, const std::string &text);
