// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace qrl {

namespace {

const char kDefaultPath[] = "Log/print.log";

std::string initialPath()
{
    const char *env = std::getenv("QRL_PRINTLOG");
    return env && *env ? std::string(env) : std::string(kDefaultPath);
}

std::string timestamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const int millis = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", millis);
    return text;
}

// printf-style formatting into a string of any length.
bool formatInto(std::string &out, const char *format, va_list args)
{
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0)
        return false;
    if (std::size_t(needed) < sizeof small) {
        out.append(small, std::size_t(needed));
        return true;
    }
    std::string large(std::size_t(needed) + 1, '\0');
    std::vsnprintf(&large[0], large.size(), format, args);
    large.resize(std::size_t(needed));
    out += large;
    return true;
}

} // namespace

struct DPrintLog::Private
{
    mutable std::mutex mutex;
    std::string path = initialPath();
    std::FILE *file = nullptr;

    bool openLocked()
    {
        if (file)
            return true;
        std::error_code ec;
        const std::filesystem::path target(path);
        if (target.has_parent_path())
            std::filesystem::create_directories(target.parent_path(), ec);
        file = std::fopen(path.c_str(), "ab");
        return file != nullptr;
    }

    void closeLocked()
    {
        if (file)
            std::fclose(file);
        file = nullptr;
    }
};

DPrintLog::DPrintLog()
    : d(new Private)
{}

DPrintLog::~DPrintLog()
{
    d->closeLocked();
}

// Never destroyed: threads may still log while static objects are torn down at exit.
DPrintLog *DPrintLog::instance()
{
    static DPrintLog *log = new DPrintLog;
    return log;
}

int DPrintLog::Log(const char *file, int line, const char *function, const char *text, int level,
                   const char *format, ...)
{
    std::string entry = timestamp();
    entry += " [";
    entry += std::to_string(level);
    entry += "] ";
    entry += file ? file : "";
    entry += ':';
    entry += std::to_string(line);
    entry += ' ';
    entry += function ? function : "";
    entry += ": ";
    if (text && *text) {
        entry += text;
        entry += ' ';
    }
    if (format) {
        va_list args;
        va_start(args, format);
        const bool formatted = formatInto(entry, format, args);
        va_end(args);
        if (!formatted)
            return -1;
    }
    entry += '\n';

    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->openLocked())
        return -1;
    // One write per entry under the lock keeps entries of different threads whole.
    const bool written = std::fwrite(entry.data(), 1, entry.size(), d->file) == entry.size();
    return written && std::fflush(d->file) == 0 ? 0 : -1;
}

void DPrintLog::SetFilePath(const std::string &path)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->closeLocked();
    d->path = path;
}

std::string DPrintLog::FilePath() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->path;
}

} // namespace qrl
