// The byte-stream sources of a live session, served by one polling thread.
#include "live_sources.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

#include "live_names.h"
#include "safe_files.h"

namespace {

constexpr int kPollMs = 100;                           // timers and growing files are looked at this often
constexpr std::size_t kReadBytes = 65536;              // one read
constexpr std::size_t kFollowBytesPerTick = 1u << 20;  // a growing file's bytes read per look
constexpr int64_t kRetryFirstNs = 500000000;           // first reconnect after 0.5 s ...
constexpr int64_t kRetryMaxNs = 30000000000;           // ... doubling up to 30 s
constexpr int64_t kSerialRetryNs = 1000000000;         // a serial port is looked for every second
constexpr int kAcceptsPerWake = 16;

struct Stream {
    LiveSourceKind kind;
    std::string source;  // the SOURCE argument
    std::string device;
    std::string path;  // follow, serial
    int fd = -1;
    bool listener = false;    // a listening socket: accepts, carries no samples
    bool connecting = false;  // tcp: a connect under way
    bool connected = false;   // tcp, serial: connected or open before (a break is a gap)
    bool ended = false;       // done for good
    int64_t retryAtNs = 0;
    int64_t retryNs = kRetryFirstNs;
    uint64_t offset = 0;  // follow: bytes read
    sockaddr_storage address{};
    socklen_t addressSize = 0;
    LivePayload payload{};
};

std::string Basename(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "HOST:PORT" split at its last colon; a host in brackets ("[::1]:PORT")
// loses them.
bool SplitHostPort(const std::string& text, std::string* host, std::string* port)
{
    const std::size_t colon = text.find_last_of(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    *host = text.substr(0, colon);
    *port = text.substr(colon + 1);
    if (host->size() >= 2 && host->front() == '[' && host->back() == ']') {
        *host = host->substr(1, host->size() - 2);
    }
    return port->find_first_not_of("0123456789") == std::string::npos && port->size() <= 5 && std::stoi(*port) <= 65535;
}

std::string AddressText(const sockaddr* address)
{
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        port = ntohs(in6->sin6_port);
    }
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

bool IsLoopback(const sockaddr* address)
{
    if (address->sa_family == AF_INET) {
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    }
    return false;
}

bool Resolve(const std::string& host, const std::string& port, bool passive, sockaddr_storage* address, socklen_t* size,
             std::string* reason)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
    if (status != 0 || found == nullptr) {
        *reason = "cannot resolve " + host + ":" + port + ": " + ::gai_strerror(status);
        return false;
    }
    std::memcpy(address, found->ai_addr, found->ai_addrlen);
    *size = found->ai_addrlen;
    ::freeaddrinfo(found);
    return true;
}

speed_t BaudConstant(int baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    case 1000000:
        return B1000000;
    case 2000000:
        return B2000000;
    default:
        return B0;
    }
}

class Sources {
public:
    Sources(const LiveSourceOptions& options, LiveEngine* engine, const LiveNoticeSink& notices)
        : options_(options), engine_(engine), notices_(notices)
    {
        buffer_.resize(kReadBytes);
    }
    ~Sources()
    {
        for (auto& stream : streams_) {
            CloseFd(stream.get());
        }
    }
    Sources(const Sources&) = delete;
    Sources& operator=(const Sources&) = delete;

    bool Add(const LiveSourceTarget& target, std::string* reason);
    int Run(int stopFd);

private:
    Stream* NewStream(LiveSourceKind kind, const std::string& source, const std::string& device)
    {
        streams_.push_back(std::make_unique<Stream>());
        Stream* stream = streams_.back().get();
        stream->kind = kind;
        stream->source = source;
        stream->device = device;
        LivePayloadInit(&stream->payload, options_.format);
        return stream;
    }
    void CloseFd(Stream* stream)
    {
        if (stream->fd > 0) {
            ::close(stream->fd);
        }
        stream->fd = -1;
        stream->connecting = false;
    }
    void Deliver(Stream* stream, const unsigned char* bytes, std::size_t size);
    void Push(Stream* stream);
    void EndDevice(Stream* stream, const char* why);
    void Broken(Stream* stream, const std::string& what);
    void StartConnect(Stream* stream, int64_t now);
    void OpenSerial(Stream* stream, int64_t now);
    void ReadFollow(Stream* stream);
    void Accept(Stream* stream);
    void Readable(Stream* stream);

    LiveSourceOptions options_;
    LiveEngine* engine_;
    const LiveNoticeSink& notices_;
    std::vector<std::unique_ptr<Stream>> streams_;
    std::vector<unsigned char> buffer_;
    std::vector<ImuSample> samples_;
};

void Sources::Push(Stream* stream)
{
    const LiveCounts counts = LivePayloadTakeCounts(&stream->payload);
    const bool anyCount =
        LiveCountsBadInput(counts) + counts.skippedLines + counts.gaps + counts.rowGaps + counts.repeatedRows > 0;
    if (samples_.empty() && !anyCount) {
        return;
    }
    LiveEnginePush(engine_, stream->device, stream->source, samples_.data(), samples_.size(), LiveNowNs(), counts);
    samples_.clear();
}

void Sources::Deliver(Stream* stream, const unsigned char* bytes, std::size_t size)
{
    samples_.clear();
    LivePayloadFeed(&stream->payload, bytes, size, &samples_);
    Push(stream);
}

void Sources::EndDevice(Stream* stream, const char* why)
{
    LivePayloadBreak(&stream->payload);
    LiveEngineEnd(engine_, stream->device, stream->source, LivePayloadTakeCounts(&stream->payload), why);
}

// A stream that broke but comes back (tcp, serial): the break is a gap.
void Sources::Broken(Stream* stream, const std::string& what)
{
    CloseFd(stream);
    LivePayloadBreak(&stream->payload);
    ++stream->payload.counts.gaps;
    const int64_t wait = stream->kind == LiveSourceKind::Serial ? kSerialRetryNs : stream->retryNs;
    stream->retryAtNs = LiveNowNs() + wait;
    if (stream->kind == LiveSourceKind::Tcp) {
        stream->retryNs = std::min(stream->retryNs * 2, kRetryMaxNs);
    }
    notices_(stream->source + ": " + what + "; trying again in " + std::to_string(wait / 1000000) + " ms");
}

void Sources::StartConnect(Stream* stream, int64_t now)
{
    (void)now;
    const int fd = ::socket(stream->address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Broken(stream, "cannot open a socket: " + SafeErrorText(errno));
        return;
    }
    stream->fd = fd;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&stream->address), stream->addressSize) == 0) {
        stream->connecting = false;
        stream->connected = true;
        stream->retryNs = kRetryFirstNs;
        notices_(stream->source + ": connected");
        return;
    }
    if (errno != EINPROGRESS) {
        const int error = errno;
        stream->connected = false;
        CloseFd(stream);
        stream->retryAtNs = LiveNowNs() + stream->retryNs;
        notices_(stream->source + ": cannot connect: " + SafeErrorText(error) + "; trying again in " +
                 std::to_string(stream->retryNs / 1000000) + " ms");
        stream->retryNs = std::min(stream->retryNs * 2, kRetryMaxNs);
        return;
    }
    stream->connecting = true;
}

void Sources::OpenSerial(Stream* stream, int64_t now)
{
    const int fd = ::open(stream->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        stream->retryAtNs = now + kSerialRetryNs;
        return;  // not there (yet): looked for again
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        stream->retryAtNs = now + kSerialRetryNs;
        notices_(stream->source + ": not a serial port: " + SafeErrorText(error));
        return;
    }
    const LiveSerialSettings& s = options_.serial;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag |= s.dataBits == 5 ? CS5 : s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
    if (s.parity != 'N') {
        tio.c_cflag |= PARENB | (s.parity == 'O' ? PARODD : 0);
    }
    if (s.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = BaudConstant(s.baud);
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        stream->retryAtNs = now + kSerialRetryNs;
        notices_(stream->source + ": cannot set the line up: " + SafeErrorText(error));
        return;
    }
    stream->fd = fd;
    notices_(stream->source + (stream->connected ? ": open again" : ": open"));
    stream->connected = true;
}

void Sources::ReadFollow(Stream* stream)
{
    struct stat st {};
    if (::fstat(stream->fd, &st) == 0 && static_cast<uint64_t>(st.st_size) < stream->offset) {
        // Cut short (rewritten from its start): read again from the start.
        LivePayloadBreak(&stream->payload);
        ++stream->payload.counts.gaps;
        stream->offset = 0;
        ::lseek(stream->fd, 0, SEEK_SET);
        notices_(stream->source + ": the file was cut short; reading it again from its start");
    }
    std::size_t total = 0;
    while (total < kFollowBytesPerTick) {
        const ssize_t n = ::read(stream->fd, buffer_.data(), buffer_.size());
        if (n <= 0) {
            break;
        }
        stream->offset += static_cast<uint64_t>(n);
        total += static_cast<std::size_t>(n);
        Deliver(stream, buffer_.data(), static_cast<std::size_t>(n));
    }
}

void Sources::Accept(Stream* listener)
{
    for (int i = 0; i < kAcceptsPerWake; ++i) {
        sockaddr_storage peer{};
        socklen_t size = sizeof peer;
        const int fd = ::accept4(listener->fd, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the listener rests a second instead of waking the loop at once.
                listener->retryAtNs = LiveNowNs() + kSerialRetryNs;
                notices_(listener->source + ": cannot take more connections: " + SafeErrorText(errno));
            }
            return;
        }
        const std::string name = AddressText(reinterpret_cast<const sockaddr*>(&peer));
        Stream* stream = NewStream(LiveSourceKind::Listen, listener->source, name);
        stream->fd = fd;
        notices_(listener->source + ": connection from " + name);
    }
}

void Sources::Readable(Stream* stream)
{
    const ssize_t n = ::read(stream->fd, buffer_.data(), buffer_.size());
    if (n > 0) {
        Deliver(stream, buffer_.data(), static_cast<std::size_t>(n));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    const std::string what = n == 0 ? "closed" : SafeErrorText(errno);
    switch (stream->kind) {
    case LiveSourceKind::Stdin:
        stream->fd = -1;  // standard input stays open, unread
        stream->ended = true;
        EndDevice(stream, "end of stream");
        break;
    case LiveSourceKind::Listen:
        CloseFd(stream);
        stream->ended = true;
        notices_(stream->source + ": " + stream->device + " " + (n == 0 ? "closed the connection" : what));
        EndDevice(stream, "end of stream");
        break;
    case LiveSourceKind::Tcp:
        Broken(stream, n == 0 ? "the connection was closed" : "the connection failed: " + what);
        break;
    case LiveSourceKind::Serial:
        Broken(stream, n == 0 ? "the port was closed" : "the port is gone: " + what);
        break;
    case LiveSourceKind::Follow:
        break;
    }
}

bool Sources::Add(const LiveSourceTarget& target, std::string* reason)
{
    switch (target.kind) {
    case LiveSourceKind::Stdin: {
        Stream* stream = NewStream(target.kind, target.text, "stdin");
        stream->fd = 0;
        return true;
    }
    case LiveSourceKind::Follow: {
        FILE* file = SafeOpenInput(target.path, reason);
        if (file == nullptr) {
            *reason = target.text + ": " + *reason;
            return false;
        }
        Stream* stream = NewStream(target.kind, target.text, Basename(target.path));
        stream->path = target.path;
        stream->fd = ::dup(::fileno(file));
        std::fclose(file);
        ::fcntl(stream->fd, F_SETFD, FD_CLOEXEC);
        return true;
    }
    case LiveSourceKind::Tcp: {
        Stream* stream = NewStream(target.kind, target.text, target.host + ":" + target.port);
        if (!Resolve(target.host, target.port, false, &stream->address, &stream->addressSize, reason)) {
            *reason = target.text + ": " + *reason;
            return false;
        }
        return true;
    }
    case LiveSourceKind::Serial: {
        // The device is named by its path below /dev ("ttyUSB0", "pts/3").
        const std::string name = target.path.rfind("/dev/", 0) == 0 ? target.path.substr(5) : Basename(target.path);
        Stream* stream = NewStream(target.kind, target.text, name);
        stream->path = target.path;
        struct stat st {};
        if (::stat(target.path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) {
            *reason = target.text + ": not a serial port (" + SafeKindText(st.st_mode) + ")";
            return false;
        }
        if (::stat(target.path.c_str(), &st) != 0) {
            notices_(target.text + ": not there yet; looked for every second");
        }
        return true;
    }
    case LiveSourceKind::Listen: {
        Stream* stream = NewStream(target.kind, target.text, "");
        stream->listener = true;
        if (!Resolve(target.host, target.port, true, &stream->address, &stream->addressSize, reason)) {
            *reason = target.text + ": " + *reason;
            return false;
        }
        const int fd = ::socket(stream->address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&stream->address), stream->addressSize) != 0 ||
            ::listen(fd, 64) != 0) {
            *reason = target.text + ": cannot listen: " + SafeErrorText(errno);
            if (fd >= 0) {
                ::close(fd);
            }
            return false;
        }
        stream->fd = fd;
        sockaddr_storage bound{};
        socklen_t size = sizeof bound;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size);
        const sockaddr* at = reinterpret_cast<const sockaddr*>(&bound);
        notices_("listening on " + AddressText(at) +
                 (IsLoopback(at) ? " (loopback only)" : " (reachable from other machines)"));
        return true;
    }
    }
    return false;
}

int Sources::Run(int stopFd)
{
    std::vector<pollfd> polls;
    std::vector<Stream*> polled;
    for (;;) {
        const int64_t now = LiveNowNs();
        bool anyLeft = false;
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            Stream* stream = streams_[i].get();
            if (stream->ended) {
                continue;
            }
            anyLeft = true;
            if (stream->kind == LiveSourceKind::Tcp && stream->fd < 0 && now >= stream->retryAtNs) {
                StartConnect(stream, now);
            } else if (stream->kind == LiveSourceKind::Serial && stream->fd < 0 && now >= stream->retryAtNs) {
                OpenSerial(stream, now);
            } else if (stream->kind == LiveSourceKind::Follow) {
                ReadFollow(stream);
            }
        }
        if (!anyLeft && !options_.untilStopped) {
            return 0;
        }
        polls.clear();
        polled.clear();
        polls.push_back(pollfd{stopFd, POLLIN, 0});
        polled.push_back(nullptr);
        for (auto& stream : streams_) {
            if (stream->ended || stream->fd < 0 || stream->kind == LiveSourceKind::Follow ||
                (stream->listener && LiveNowNs() < stream->retryAtNs)) {
                continue;
            }
            polls.push_back(pollfd{stream->fd, static_cast<short>(stream->connecting ? POLLOUT : POLLIN), 0});
            polled.push_back(stream.get());
        }
        const int ready = ::poll(polls.data(), polls.size(), kPollMs);
        if (ready < 0 && errno != EINTR) {
            return 1;
        }
        if (polls[0].revents != 0) {
            for (auto& stream : streams_) {
                if (!stream->ended && !stream->listener) {
                    EndDevice(stream.get(), "stopped");
                }
            }
            return 1;
        }
        for (std::size_t i = 1; i < polls.size(); ++i) {
            Stream* stream = polled[i];
            if (polls[i].revents == 0) {
                continue;
            }
            if (stream->listener) {
                Accept(stream);
            } else if (stream->connecting) {
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(stream->fd, SOL_SOCKET, SO_ERROR, &error, &size);
                if (error != 0) {
                    CloseFd(stream);
                    stream->retryAtNs = LiveNowNs() + stream->retryNs;
                    notices_(stream->source + ": cannot connect: " + SafeErrorText(error) + "; trying again in " +
                             std::to_string(stream->retryNs / 1000000) + " ms");
                    stream->retryNs = std::min(stream->retryNs * 2, kRetryMaxNs);
                } else {
                    stream->connecting = false;
                    stream->connected = true;
                    stream->retryNs = kRetryFirstNs;
                    notices_(stream->source + ": connected");
                }
            } else {
                Readable(stream);
            }
        }
        // Connections that ended are forgotten.
        streams_.erase(std::remove_if(streams_.begin(), streams_.end(),
                                      [](const std::unique_ptr<Stream>& s) {
                                          return s->ended && s->kind == LiveSourceKind::Listen && !s->listener;
                                      }),
                       streams_.end());
    }
}

}  // namespace

bool LiveSourceParse(const std::string& text, LiveSourceTarget* target, std::string* reason)
{
    *target = LiveSourceTarget{};
    target->text = text;
    auto starts = [&text](const char* prefix) { return text.rfind(prefix, 0) == 0; };
    if (text == "-") {
        target->kind = LiveSourceKind::Stdin;
        return true;
    }
    if (starts("follow:") || starts("serial:")) {
        target->kind = starts("follow:") ? LiveSourceKind::Follow : LiveSourceKind::Serial;
        target->path = text.substr(text.find(':') + 1);
        if (target->path.empty()) {
            *reason = "source '" + text + "' names no file";
            return false;
        }
        return true;
    }
    if (starts("tcp:") || starts("listen:")) {
        target->kind = starts("tcp:") ? LiveSourceKind::Tcp : LiveSourceKind::Listen;
        if (!SplitHostPort(text.substr(text.find(':') + 1), &target->host, &target->port)) {
            *reason = "source '" + text + "' needs HOST:PORT (a port from 0 to 65535)";
            return false;
        }
        return true;
    }
    *reason = "unknown source '" + text +
              "' (the sources: -, follow:PATH, tcp:HOST:PORT, listen:ADDRESS:PORT, serial:PATH, "
              "mqtt://HOST:PORT/TOPIC)";
    return false;
}

bool LiveSerialFraming(const std::string& text, LiveSerialSettings* settings)
{
    if (text.size() != 3 || text[0] < '5' || text[0] > '8' || (text[2] != '1' && text[2] != '2')) {
        return false;
    }
    const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])));
    if (parity != 'N' && parity != 'E' && parity != 'O') {
        return false;
    }
    settings->dataBits = text[0] - '0';
    settings->parity = parity;
    settings->stopBits = text[2] - '0';
    return true;
}

bool LiveSerialBaudKnown(int baud)
{
    return BaudConstant(baud) != B0;
}

int LiveSourcesRun(const std::vector<LiveSourceTarget>& targets, const LiveSourceOptions& options, LiveEngine* engine,
                   int stopFd, const LiveNoticeSink& notices, std::string* reason)
{
    Sources sources(options, engine, notices);
    for (const LiveSourceTarget& target : targets) {
        if (!sources.Add(target, reason)) {
            return 2;
        }
    }
    return sources.Run(stopFd);
}
