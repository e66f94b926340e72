#include "TraceFile.h"

#include "ConfigImage.h"
#include "Frame.h"
#include "Protocol.h"
#include "SystemReason.h"
#include "crc16.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <system_error>
#include <windows.h>
// After windows.h:
#include <sddl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace v38 {

namespace {

// Where the cards stand in the block that holds them, and so in a frame: a 'K' frame
// carries the block after 2 length bytes and 2 request bytes, an answer to 'C' after
// the 2 length bytes.
constexpr int CardBlock = int(offset::serviceCards / BlockSize);
constexpr std::size_t CardsInBlock = offset::serviceCards - blockOffset(CardBlock);
constexpr std::size_t CardsEnd = CardsInBlock + ServiceCardSize * ServiceCardCount;
constexpr std::size_t WriteFrameSize = FrameOverhead + WriteRequestSize;
constexpr std::size_t BlockAnswerSize = FrameOverhead + BlockSize;
// A late answer to a read of the cards' block can come while the next requests go out.
constexpr int RequestsThatMayBeAnswersLate = 3;
constexpr std::size_t HistorySize = 1024;

bool between(std::size_t at, std::size_t from, std::size_t to) {
    return at >= from && at < to;
}

} // namespace

bool TraceMask::advance(Frame& frame, std::uint8_t byte) {
    switch (frame.state) {
    case Frame::State::Lost:
        return false;
    case Frame::State::Start:
        frame = Frame();
        frame.high = byte;
        frame.state = Frame::State::Length;
        break;
    case Frame::State::Length:
        frame.length = std::size_t(frame.high) << 8 | byte;
        if (frame.length < std::size_t(MinFrame) || frame.length > std::size_t(MaxFrame)) {
            frame.state = Frame::State::Lost;
            return false;
        }
        frame.state = Frame::State::Body;
        break;
    case Frame::State::Body:
        if (frame.at == 2)
            frame.command = byte;
        if (frame.at == 3)
            frame.block = byte;
        break;
    }
    frame.crc = crc16(&byte, 1, frame.at == 0 ? Crc16Init : frame.crc);
    ++frame.at;
    return true;
}

bool TraceMask::isCardBlock(const Frame& frame) {
    return frame.at >= 4 && frame.block == CardBlock &&
           (frame.command == WriteBlockRequest || frame.command == ReadBlockRequest);
}

bool TraceMask::cardsNear() const {
    return requestsSinceCards_ <= RequestsThatMayBeAnswersLate;
}

bool TraceMask::hideSent(std::uint8_t byte) {
    if (!advance(sent_, byte))
        return true; // we send whole frames; anything else is hidden
    const std::size_t at = sent_.at - 1;
    if (at == 3) // the request is known: its first byte, and the block where it has one
        requestsSinceCards_ = isCardBlock(sent_) ? 0 : std::min(requestsSinceCards_ + 1, 1000);
    const bool hidden = sent_.command == WriteBlockRequest && isCardBlock(sent_) &&
                        between(at, 4 + CardsInBlock, 4 + CardsEnd);
    if (sent_.state == Frame::State::Body && sent_.at == sent_.length)
        sent_.state = Frame::State::Start;
    return hidden;
}

bool TraceMask::hideReceived(std::uint8_t byte) {
    if (!advance(received_, byte))
        return cardsNear(); // lost: nothing here can be told from the cards
    const Frame& f = received_;
    const std::size_t at = f.at - 1;
    bool hidden = false;
    if (f.state == Frame::State::Body && at >= 2 && at + 2 < f.length) {
        if (f.length == WriteFrameSize && f.command == WriteBlockRequest)
            hidden = f.block == CardBlock && between(at, 4 + CardsInBlock, 4 + CardsEnd);
        else if (f.length == BlockAnswerSize)
            hidden = cardsNear() && between(at, 2 + CardsInBlock, 2 + CardsEnd);
        else if (f.length == FrameOverhead + ReadRequestSize && f.command == ReadBlockRequest)
            hidden = false; // the echo of a read request
        else // a frame of a size no answer has, maybe one cut short: all after its start
            hidden = cardsNear() && at >= 2 + CardsInBlock;
    }
    if (f.state == Frame::State::Body && f.at == f.length) {
        // A frame that does not check may have had a false length: where the next one
        // starts is not known.
        received_.state = f.crc == 0 ? Frame::State::Start : Frame::State::Lost;
    }
    return hidden;
}

std::vector<bool> TraceMask::hide(std::string_view event, const std::uint8_t* bytes,
                                  std::size_t size) {
    std::vector<bool> hidden(size, false);
    const bool sent = event == "sent" || event.substr(0, 4) == "send";
    const bool received = event == "received" || event.substr(0, 8) == "time-out";
    if (sent) {
        // A request starts a frame, and what is received next is its echo or its answer;
        // an answer cut off before it can be told from them.
        sent_.state = Frame::State::Start;
        const bool inFrame =
            received_.state == Frame::State::Length || received_.state == Frame::State::Body;
        received_.state = inFrame && cardsNear() ? Frame::State::Lost : Frame::State::Start;
        for (std::size_t i = 0; i < size; ++i)
            hidden[i] = hideSent(bytes[i]);
        if (received_.state == Frame::State::Lost && !cardsNear())
            received_.state = Frame::State::Start;
        return hidden;
    }
    if (received) {
        for (std::size_t i = 0; i < size; ++i) {
            hidden[i] = hideReceived(bytes[i]);
            history_.emplace_back(bytes[i], hidden[i]);
        }
        while (history_.size() > HistorySize)
            history_.pop_front();
        return hidden;
    }
    // A copy (bytes thrown away): hidden as they were when received, found from the end;
    // bytes not found among them are hidden while the cards may be on the line.
    if (size == 0)
        return hidden;
    for (std::size_t end = history_.size(); end >= size; --end) {
        bool same = true;
        for (std::size_t i = 0; i < size && same; ++i)
            same = history_[end - size + i].first == bytes[i];
        if (same) {
            for (std::size_t i = 0; i < size; ++i)
                hidden[i] = history_[end - size + i].second;
            return hidden;
        }
    }
    std::fill(hidden.begin(), hidden.end(), cardsNear());
    return hidden;
}

namespace {

#ifdef _WIN32
// Security that lets the user who runs us in and no one else, in the system's text form;
// empty where it cannot be told (a new trace then takes its folder's security).
std::wstring ownerOnly() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> user(size);
    const bool known = GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    LPWSTR sid = nullptr;
    if (!known ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid))
        return {};
    const std::wstring text = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    return text;
}

// A new trace is the user's alone; an existing one is opened where it stands, a
// symbolic link not followed, and only when it is a plain file on a disk.
std::FILE* openPrivate(const std::filesystem::path& path, TraceFailure& failure) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring sddl = ownerOnly();
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    if (!sddl.empty() && ConvertStringSecurityDescriptorToSecurityDescriptorW(
                             sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        security.lpSecurityDescriptor = descriptor;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ, &security, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (descriptor)
        LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        failure.told = std::system_category().message(int(GetLastError()));
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(file);
        failure.refusal = TraceRefusal::NotARegularFile;
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        failure.error = errno;
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "ab");
    if (!stream) {
        failure.error = errno;
        ::_close(fd);
    }
    return stream;
}
#else
std::FILE* openPrivate(const std::filesystem::path& path, TraceFailure& failure) {
    const int fd = ::open(
        path.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            failure.refusal = TraceRefusal::Link;
        else
            failure.error = error;
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        failure.error = errno;
    else if (!S_ISREG(info.st_mode))
        failure.refusal = TraceRefusal::NotARegularFile;
    else if (info.st_uid != ::geteuid())
        failure.refusal = TraceRefusal::ForeignFile;
    const bool refused = failure.error != 0 || failure.refusal != TraceRefusal::None;
    std::FILE* stream = refused ? nullptr : ::fdopen(fd, "a");
    if (!stream) {
        if (!refused)
            failure.error = errno;
        ::close(fd);
    }
    return stream;
}
#endif

// Our own reasons for not opening a trace, one row per value of TraceRefusal.
constexpr TextRow<TraceRefusal> RefusalTexts[] = {
    {TraceRefusal::None, "", ""},
    {TraceRefusal::Link, "a symbolic link: a trace is not written through one",
     "dowiązanie symboliczne: zapisu linii nie prowadzi się przez dowiązanie"},
    {TraceRefusal::NotARegularFile, "not a regular file", "to nie jest zwykły plik"},
    {TraceRefusal::ForeignFile,
     "a file of another user: a trace is appended only to a file of one's own",
     "plik innego użytkownika: zapis linii dopisuje się tylko do własnego pliku"},
};
static_assert(rowsInOrder(RefusalTexts, std::size_t(TraceRefusal::ForeignFile) + 1),
              "one text for every refusal, in the order of TraceRefusal");

} // namespace

std::string TraceFile::failure(TextLanguage language) const {
    if (failure_.error != 0)
        return systemReason(failure_.error, language);
    if (failure_.refusal != TraceRefusal::None) {
        return textIn(RefusalTexts[std::size_t(failure_.refusal)], language);
    }
    return failure_.told;
}

TraceFile::TraceFile(const std::filesystem::path& path, const std::string& title, bool showCards)
    : showCards_(showCards) {
    file_ = openPrivate(path, failure_);
    if (!file_)
        return;
    // The wall-clock time of the start ties the trace to what the user saw; the
    // events themselves count from the first one on the link's monotonic clock.
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "?";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
    std::fprintf(file_, "# %s  %s%s\n", stamp, title.c_str(),
                 showCards ? "  (service cards shown)" : "");
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
    const std::vector<bool> hidden = mask_.hide(event, bytes, size);
    const std::uint64_t elapsed = ms >= startMs_ ? ms - startMs_ : 0;
    std::string line(event);
    if (size > 0)
        line += " ";
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < size; ++i) {
        line += ' ';
        if (hidden[i] && !showCards_) {
            line += "**";
        } else {
            line += digits[bytes[i] >> 4];
            line += digits[bytes[i] & 0xF];
        }
    }
    std::fprintf(file_, "%5llu.%03llu  %s\n", static_cast<unsigned long long>(elapsed / 1000),
                 static_cast<unsigned long long>(elapsed % 1000), line.c_str());
    std::fflush(file_);
}

} // namespace v38
