#include "cli/CliLog.h"

#include "hexfile/FileIo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>

namespace {

// Length of the UTF-8 sequence starting at i, 0 when it is not a valid one.
size_t Utf8Length(const std::string &text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8: a
    // JSON reader would refuse the whole line.
    const unsigned char second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F)
        || (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

// A missing log is created; only a regular file is taken, as a FIFO would
// hold the run until something reads it.
int OpenForAppend(const std::string &path, std::string &problem)
{
    return OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, problem, 0644);
}

std::string Field(const char *name, const std::string &value)
{
    return std::string("\"") + name + "\":" + value;
}

} // namespace

std::string JsonText(const std::string &text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            const size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
                continue;
            }
            out += text.substr(i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return out + "\"";
}

std::string LogLine(const TLogEntry &entry)
{
    char time[32] = {};
    std::tm parts{};
    gmtime_r(&entry.Time, &parts);
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &parts);
    const auto textOrNull = [](const std::string &value) {
        return value.empty() ? std::string("null") : JsonText(value);
    };
    const std::string fields[] = {
        Field("time", JsonText(time)),
        Field("operation", JsonText(entry.Operation)),
        Field("chip", JsonText(entry.Chip)),
        Field("port", textOrNull(entry.Port)),
        Field("file", textOrNull(entry.File)),
        Field("sha256", textOrNull(entry.Sha256)),
        Field("id", textOrNull(entry.Id)),
        Field("config", textOrNull(entry.Config)),
        Field("result", JsonText(entry.Result)),
        Field("exit", std::to_string(entry.Exit)),
    };
    std::string line;
    for (const std::string &field : fields)
        line += (line.empty() ? "{" : ",") + field;
    return line + "}";
}

bool CheckLogFile(const std::string &path, std::string &error)
{
    std::string problem;
    const TFd file(OpenForAppend(path, problem));
    if (file.Fd < 0)
        error = path + ": " + problem;
    return file.Fd >= 0;
}

bool AppendLogLine(const std::string &path, const std::string &line, std::string &error)
{
    std::string problem;
    TFd file(OpenForAppend(path, problem));
    if (file.Fd < 0) {
        error = path + ": " + problem;
        return false;
    }
    if (WriteAll(file.Fd, line + "\n") && file.Close())
        return true;
    error = path + ": " + std::strerror(errno);
    return false;
}
