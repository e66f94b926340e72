#include "TraceFile.h"

#include "HexText.h"

#include <ctime>

namespace v38 {

TraceFile::TraceFile(const std::filesystem::path& path, const std::string& title) {
#ifdef _WIN32
    file_ = ::_wfopen(path.c_str(), L"ab");
#else
    file_ = std::fopen(path.c_str(), "ab");
#endif
    if (!file_)
        return;
    // The wall-clock time of the start ties the trace to what the user saw; the
    // events themselves count from the first one on the link's monotonic clock.
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "?";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
    std::fprintf(file_, "# %s  %s\n", stamp, title.c_str());
    std::fflush(file_);
}

TraceFile::~TraceFile() {
    if (file_)
        std::fclose(file_);
}

void TraceFile::note(std::uint64_t ms, std::string_view event, const std::uint8_t* bytes,
                     std::size_t size) {
    if (!file_)
        return;
    if (!started_) {
        started_ = true;
        startMs_ = ms;
    }
    const std::uint64_t elapsed = ms >= startMs_ ? ms - startMs_ : 0;
    std::fprintf(file_, "%5llu.%03llu  %.*s", static_cast<unsigned long long>(elapsed / 1000),
                 static_cast<unsigned long long>(elapsed % 1000), int(event.size()), event.data());
    if (size > 0)
        std::fprintf(file_, "  %s", hexText(bytes, size, " ").c_str());
    std::fputc('\n', file_);
    std::fflush(file_);
}

} // namespace v38
