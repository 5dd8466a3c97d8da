// Choosing where a provider runs, and the hosted provider: the provider library
// loaded by a host process (oskelsccih-host) and driven over a channel.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/provider.h"
#include "host/protocol.h"
#include "messages/messages.h"
#include "platform/platform.h"

namespace oskel {

namespace {

using hostproto::Kind;
using platform::Channel;

constexpr int32_t kFault = SCC_E_NONSPECIFICERROR;
// How long a host that lost its channel may take to exit by itself.
constexpr int32_t kExitGraceMs = 2000;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// One host process with one provider library loaded. Like a library loaded
// in-process, it is shared by every connection to that library in this
// process, so the provider keeps one state for all of them.
class HostConnection {
public:
    HostConnection() = default;
    ~HostConnection() { end(nullptr); }
    HostConnection(const HostConnection &) = delete;
    HostConnection &operator=(const HostConnection &) = delete;

    // Starts the host and has it load the library; false when either fails.
    bool start(const std::string &program, const char *libraryPath, int32_t timeoutMs);
    // Connected, and the host has not ended while the connection was idle.
    bool connected() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connected_ && !child_.ended();
    }

    // One provider call, waiting at most `timeoutMs` for each message of it.
    CallOutcome call(ProviderCall &c, int32_t timeoutMs);

private:
    // Reads one message; "" on success, otherwise what went wrong.
    std::string receive(hostproto::Header &header, std::vector<uint8_t> &payload);
    bool send(hostproto::Writer &w) {
        const auto &bytes = w.finish();
        return channel_.write(bytes.data(), bytes.size());
    }
    CallOutcome fault(const std::string &what);
    // Ends the connection: closes the channel, reaps the host. `how` gets how
    // the host ended.
    void end(std::string *how);

    std::mutex mutex_;
    platform::ChildProcess child_;
    Channel channel_;
    int32_t timeoutMs_ = 0;
    bool connected_ = false;
    LPTEXTOUTPROC textOut_ = nullptr;
};

std::string HostConnection::receive(hostproto::Header &header, std::vector<uint8_t> &payload) {
    uint8_t head[hostproto::kHeaderSize];
    auto status = channel_.read(head, sizeof head, timeoutMs_);
    if (status == Channel::Status::Ok) {
        if (!hostproto::readHeader(head, header))
            return "malformed message";
        payload.resize(header.length);
        status = header.length ? channel_.read(payload.data(), header.length, timeoutMs_)
                               : Channel::Status::Ok;
    }
    switch (status) {
    case Channel::Status::Ok:
        return {};
    case Channel::Status::Closed:
        return "closed";
    case Channel::Status::Timeout:
        return "no answer within " + std::to_string(timeoutMs_) + " ms";
    case Channel::Status::Error:
        break;
    }
    return "channel error";
}

void HostConnection::end(std::string *how) {
    channel_.close();
    std::string ended;
    // A host that answered no more is killed at once; one that lost its
    // channel gets a moment to exit by itself.
    child_.finish(how ? 0 : kExitGraceMs, ended);
    connected_ = false;
    if (how)
        *how = ended;
}

CallOutcome HostConnection::fault(const std::string &what) {
    std::string how;
    if (what == "closed") {
        // The host closed the channel: it is ending; say how.
        channel_.close();
        child_.finish(kExitGraceMs, how);
        connected_ = false;
    } else {
        end(&how);
        how = what + (how.empty() ? "" : ", " + how);
    }
    try {
        messages::appendMessage(messages::formatMessage(
            SCC_MSG_ERROR, ("SCC provider process ended: " + how).c_str()));
    } catch (...) {
        // Out of memory: the call still fails.
    }
    return {false, kFault};
}

bool HostConnection::start(const std::string &program, const char *libraryPath,
                           int32_t timeoutMs) {
    timeoutMs_ = timeoutMs;
    std::string error;
    if (!child_.start(program.c_str(), channel_, error))
        return false;
    hostproto::Header header;
    std::vector<uint8_t> payload;
    if (!receive(header, payload).empty() || header.kind != Kind::Hello) {
        end(nullptr);
        return false;
    }
    hostproto::Reader hello(payload.data(), payload.size());
    uint32_t magic = hello.u32(), version = hello.u32(), bits = hello.u32();
    if (!hello.ok() || magic != hostproto::kMagic || version != hostproto::kVersion ||
        (bits != 32 && bits != 64)) {
        end(nullptr);
        return false;
    }
    hostproto::Writer load(Kind::Load);
    load.text(libraryPath);
    if (!send(load) || !receive(header, payload).empty() || header.kind != Kind::Loaded) {
        end(nullptr);
        return false;
    }
    hostproto::Reader loaded(payload.data(), payload.size());
    if (loaded.i32() != 0 || !loaded.ok()) {
        end(nullptr);
        return false;
    }
    connected_ = true;
    return true;
}

CallOutcome HostConnection::call(ProviderCall &c, int32_t timeoutMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeoutMs_ = timeoutMs;
    if (!connected_)
        return {false, kFault};
    if (child_.ended())
        return fault("closed"); // it ended while the connection was idle: say how
    if (c.entry == EntryPoint::OpenProject)
        textOut_ = c.textOut;
    hostproto::Writer request(Kind::Call);
    hostproto::encodeCall(request, c);
    if (request.tooLarge()) {
        // Nothing was sent: the host and the other connections to it go on.
        try {
            messages::appendMessage(messages::formatMessage(
                SCC_MSG_ERROR, ("SCC provider call too large for the provider process: its names "
                                "and texts exceed " +
                                std::to_string(hostproto::kMaxPayload) + " bytes")
                                   .c_str()));
        } catch (...) {
            // Out of memory: the call still fails.
        }
        return {false, kFault};
    }
    if (!send(request))
        return fault("channel error");
    hostproto::Header header;
    std::vector<uint8_t> payload;
    for (;;) {
        std::string problem = receive(header, payload);
        if (!problem.empty())
            return fault(problem);
        hostproto::Reader r(payload.data(), payload.size());
        switch (header.kind) {
        case Kind::Text: {
            int32_t type = r.i32();
            std::string text;
            bool present = r.text(text);
            if (!r.ok() || !r.atEnd())
                return fault("malformed message");
            // The provider calls the callback it was given by the last
            // SccOpenProject, in this call or a later one.
            if (textOut_ != nullptr)
                textOut_(present ? text.c_str() : nullptr, type);
            break;
        }
        case Kind::Populate: {
            int32_t keep = r.i32(), status = r.i32();
            std::string name;
            bool present = r.text(name);
            if (!r.ok() || !r.atEnd() || c.populate == nullptr)
                return fault("malformed message");
            SCCBOOL answer = c.populate(c.callerData, keep, status, present ? name.c_str() : nullptr);
            hostproto::Writer w(Kind::Answer);
            w.i32(answer);
            if (!send(w))
                return fault("channel error");
            break;
        }
        case Kind::Reply: {
            CallOutcome outcome;
            if (!hostproto::decodeReply(r, outcome, c))
                return fault("malformed message");
            return outcome;
        }
        default:
            return fault("malformed message");
        }
    }
}

class HostedProvider final : public Provider {
public:
    HostedProvider(std::shared_ptr<HostConnection> connection, int32_t timeoutMs)
        : connection_(std::move(connection)), timeoutMs_(timeoutMs) {}
    CallOutcome call(ProviderCall &c) override { return connection_->call(c, timeoutMs_); }

private:
    std::shared_ptr<HostConnection> connection_;
    int32_t timeoutMs_;
};

// The running hosts by program and library path.
std::mutex hostsMutex;
auto *hosts = new std::map<std::string, std::weak_ptr<HostConnection>>(); // never destroyed

std::shared_ptr<HostConnection> connectHost(const std::string &program, const char *path,
                                            int32_t timeoutMs) {
    std::lock_guard<std::mutex> lock(hostsMutex);
    const std::string key = program + '\n' + path;
    for (auto it = hosts->begin(); it != hosts->end();)
        it = it->second.expired() ? hosts->erase(it) : std::next(it);
    if (auto found = hosts->find(key); found != hosts->end())
        if (auto existing = found->second.lock(); existing && existing->connected())
            return existing;
    auto connection = std::make_shared<HostConnection>();
    if (!connection->start(program, path, timeoutMs))
        return nullptr;
    (*hosts)[key] = connection;
    return connection;
}

// The machine type of a PE file (0x14c x86, 0x8664 x64); 0 when not one.
uint16_t peMachine(const char *path) {
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return 0;
    unsigned char dos[64];
    unsigned char nt[6];
    uint16_t machine = 0;
    if (std::fread(dos, 1, sizeof dos, f) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
        long offset = static_cast<long>(dos[60] | (dos[61] << 8) | (dos[62] << 16) |
                                        (static_cast<uint32_t>(dos[63]) << 24));
        if (offset > 0 && std::fseek(f, offset, SEEK_SET) == 0 &&
            std::fread(nt, 1, sizeof nt, f) == sizeof nt && nt[0] == 'P' && nt[1] == 'E' &&
            nt[2] == 0 && nt[3] == 0)
            machine = static_cast<uint16_t>(nt[4] | (nt[5] << 8));
    }
    std::fclose(f);
    return machine;
}

constexpr uint16_t kMachineX86 = 0x14c;
constexpr uint16_t kMachineX64 = 0x8664;

// The host program for a library of `machine` (0: this process's own kind).
std::string hostProgram(uint16_t machine) {
    if (const char *overridden = std::getenv("OSKELSCCIH_HOST"); overridden && *overridden)
        return overridden;
    std::string dir = platform::moduleDirectory();
    if (dir.empty())
        return {};
#ifdef _WIN32
    if (machine == 0)
        machine = sizeof(void *) == 8 ? kMachineX64 : kMachineX86;
    return dir + kSeparator +
           (machine == kMachineX86 ? "oskelsccih-host-x86.exe" : "oskelsccih-host-x64.exe");
#else
    (void)machine;
    return dir + kSeparator + "oskelsccih-host";
#endif
}

} // namespace

std::unique_ptr<Provider> openProvider(const char *path, const ProviderSettings &settings) {
    // Neither the machine-type check nor a loader may open a FIFO or a pipe:
    // that could wait for a peer for ever.
    if (path == nullptr || *path == '\0' || platform::namesNonRegularFile(path))
        return nullptr;
    bool hosted = settings.hosted;
    uint16_t machine = 0;
#ifdef _WIN32
    machine = peMachine(path);
    const uint16_t own = sizeof(void *) == 8 ? kMachineX64 : kMachineX86;
    if ((machine == kMachineX86 || machine == kMachineX64) && machine != own)
        hosted = true;
    else
        machine = 0;
#else
    (void)peMachine;
#endif
    if (!hosted)
        return inProcessProvider(platform::loadLibrary(path));
    std::string program = hostProgram(machine);
    if (program.empty())
        return nullptr;
    const auto timeoutMs =
        static_cast<int32_t>(settings.timeoutMs > 0x7fffffffu ? 0x7fffffffu : settings.timeoutMs);
    auto connection = connectHost(program, path, timeoutMs);
    if (!connection)
        return nullptr;
    return std::make_unique<HostedProvider>(std::move(connection), timeoutMs);
}

} // namespace oskel
