// Endpoints other than a port: loopback, file, raw-sample socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "line/line_endpoint.h"
#include "line/wav_file.h"
#include "platform/kernel.h"

namespace {

// ---------------------------------------------------------------------------------------------------------
// Loopback.
struct LoopbackEndpoint {
    LineEndpoint base;
    int16_t frame[kLineFrameSamples] = {};
};

bool LoopProduce(LineEndpoint* e, int16_t* samples, size_t n)
{
    auto* loop = static_cast<LoopbackEndpoint*>(e->owner);
    std::memcpy(samples, loop->frame, n * sizeof(int16_t));
    return true;
}

bool LoopConsume(LineEndpoint* e, const int16_t* samples, size_t n)
{
    auto* loop = static_cast<LoopbackEndpoint*>(e->owner);
    std::memcpy(loop->frame, samples, n * sizeof(int16_t));
    return true;
}

void NoAbort(LineEndpoint*) {}

void LoopClose(LineEndpoint* e)
{
    delete static_cast<LoopbackEndpoint*>(e->owner);
}

const LineEndpointOps kLoopbackOps = {LoopProduce, LoopConsume, NoAbort, LoopClose};

// ---------------------------------------------------------------------------------------------------------
// File.
struct FileEndpoint {
    LineEndpoint base;
    SampleFileReader play;
    SampleFileWriter record;
    bool playEnded = false;
};

bool FileProduce(LineEndpoint* e, int16_t* samples, size_t n)
{
    auto* f = static_cast<FileEndpoint*>(e->owner);
    size_t got = 0;
    if (f->play.file != nullptr)
        got = SampleFileRead(&f->play, samples, n);
    if (got < n) {
        std::memset(samples + got, 0, (n - got) * sizeof(int16_t));
        f->playEnded = true;
    }
    return true;
}

bool FileConsume(LineEndpoint* e, const int16_t* samples, size_t n)
{
    auto* f = static_cast<FileEndpoint*>(e->owner);
    if (f->record.file != nullptr && !SampleFileWrite(&f->record, samples, n)) {
        LineEndpointEnd(e, "cannot write the recording");
        return false;
    }
    return true;
}

void FileClose(LineEndpoint* e)
{
    auto* f = static_cast<FileEndpoint*>(e->owner);
    SampleFileCloseRead(&f->play);
    SampleFileCloseWrite(&f->record);
    delete f;
}

const LineEndpointOps kFileOps = {FileProduce, FileConsume, NoAbort, FileClose};

// ---------------------------------------------------------------------------------------------------------
// Raw-sample socket.
struct SocketEndpoint {
    LineEndpoint base;
    std::string path;
    int listenFd = -1;
    std::atomic<int> peerFd{-1};
    std::atomic<bool> aborted{false};
};

bool Accept(SocketEndpoint* s)
{
    if (s->peerFd.load() >= 0)
        return true;
    if (s->aborted.load()) {
        LineEndpointEnd(&s->base, "line stopped before a peer connected");
        return false;
    }
    DbgPrint("line socket %s: waiting for the far end\n", s->path.c_str());
    int fd;
    do {
        fd = accept(s->listenFd, nullptr, nullptr);
    } while (fd < 0 && errno == EINTR && !s->aborted.load());
    if (fd < 0) {
        LineEndpointEnd(&s->base, s->aborted.load() ? "line stopped before a peer connected"
                                                    : std::string("accept failed: ") + std::strerror(errno));
        return false;
    }
    s->peerFd.store(fd);
    DbgPrint("line socket %s: far end connected\n", s->path.c_str());
    return true;
}

bool SocketConsume(LineEndpoint* e, const int16_t* samples, size_t n)
{
    auto* s = static_cast<SocketEndpoint*>(e->owner);
    if (!Accept(s))
        return false;
    uint8_t bytes[2 * kLineFrameSamples];
    for (size_t i = 0; i < n; ++i) {
        const uint16_t v = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<uint8_t>(v);
        bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    size_t done = 0;
    while (done < 2 * n) {
        const ssize_t w = send(s->peerFd.load(), bytes + done, 2 * n - done, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (errno == EPIPE || errno == ECONNRESET)
                LineEndpointEnd(e, std::string("far end closed the connection (") + std::strerror(errno) + ")");
            else
                LineEndpointEnd(e, std::string("send failed: ") + std::strerror(errno));
            DbgPrint("line socket %s: %s\n", s->path.c_str(), e->endReason.c_str());
            return false;
        }
        done += static_cast<size_t>(w);
    }
    return true;
}

bool SocketProduce(LineEndpoint* e, int16_t* samples, size_t n)
{
    auto* s = static_cast<SocketEndpoint*>(e->owner);
    if (!Accept(s))
        return false;
    uint8_t bytes[2 * kLineFrameSamples];
    size_t done = 0;
    while (done < 2 * n) {
        // The modem side's time stands still until the far end's block is complete.
        const ssize_t r = recv(s->peerFd.load(), bytes + done, 2 * n - done, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            LineEndpointEnd(e, done == 0 ? "far end closed the connection"
                                         : "far end sent a short block (" + std::to_string(done) + " of " +
                                               std::to_string(2 * n) + " bytes)");
            DbgPrint("line socket %s: %s\n", s->path.c_str(), e->endReason.c_str());
            return false;
        }
        if (r < 0) {
            LineEndpointEnd(e, std::string("receive failed: ") + std::strerror(errno));
            DbgPrint("line socket %s: %s\n", s->path.c_str(), e->endReason.c_str());
            return false;
        }
        done += static_cast<size_t>(r);
    }
    for (size_t i = 0; i < n; ++i)
        samples[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return true;
}

void SocketAbort(LineEndpoint* e)
{
    auto* s = static_cast<SocketEndpoint*>(e->owner);
    s->aborted.store(true);
    if (s->listenFd >= 0)
        shutdown(s->listenFd, SHUT_RDWR);
    const int fd = s->peerFd.load();
    if (fd >= 0)
        shutdown(fd, SHUT_RDWR);
}

void SocketClose(LineEndpoint* e)
{
    auto* s = static_cast<SocketEndpoint*>(e->owner);
    if (s->peerFd.load() >= 0)
        close(s->peerFd.load());
    if (s->listenFd >= 0) {
        close(s->listenFd);
        unlink(s->path.c_str());
    }
    delete s;
}

const LineEndpointOps kSocketOps = {SocketProduce, SocketConsume, SocketAbort, SocketClose};

}  // namespace

LineEndpoint* LineLoopbackCreate()
{
    auto* loop = new LoopbackEndpoint();
    loop->base.ops = &kLoopbackOps;
    loop->base.owner = loop;
    loop->base.kind = "loopback";
    return &loop->base;
}

LineEndpoint* LineFileEndpointCreate(const std::string& playPath, const std::string& recordPath, std::string* error)
{
    auto* f = new FileEndpoint();
    f->base.ops = &kFileOps;
    f->base.owner = f;
    f->base.kind = "file";
    if (!playPath.empty() && !SampleFileOpenRead(&f->play, playPath, LineFileFormatOf(playPath), error)) {
        delete f;
        return nullptr;
    }
    if (!recordPath.empty() && !SampleFileOpenWrite(&f->record, recordPath, LineFileFormatOf(recordPath), error)) {
        SampleFileCloseRead(&f->play);
        delete f;
        return nullptr;
    }
    f->playEnded = playPath.empty();
    return &f->base;
}

bool LineFileEndpointPlayEnded(LineEndpoint* endpoint)
{
    return static_cast<FileEndpoint*>(endpoint->owner)->playEnded;
}

LineEndpoint* LineSocketEndpointCreate(const std::string& path, std::string* error)
{
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        if (error != nullptr)
            *error = "socket path \"" + path + "\" is empty or too long";
        return nullptr;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error != nullptr)
            *error = std::string("socket: ") + std::strerror(errno);
        return nullptr;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 1) != 0) {
        if (error != nullptr)
            *error = path + ": " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    auto* s = new SocketEndpoint();
    s->base.ops = &kSocketOps;
    s->base.owner = s;
    s->base.kind = "socket";
    s->base.consumeFirst = true;
    s->path = path;
    s->listenFd = fd;
    return &s->base;
}

void LineEndpointDestroy(LineEndpoint* endpoint)
{
    if (endpoint != nullptr && endpoint->ops != nullptr && endpoint->ops->close != nullptr)
        endpoint->ops->close(endpoint);
}
