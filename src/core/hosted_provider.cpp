// Choosing where a provider runs, and the hosted provider: the provider library
// loaded by a host process (oskelsccih-host) and driven over a channel.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/connect_report.h"
#include "core/provider.h"
#include "core/host_protocol.h"
#include "core/SccInterface.h"
#include "core/message_list.h"
#include "core/provider_library.h"
#include "platform/platform.h"

namespace oskel {

namespace {

using hostproto::Kind;
using platform::Channel;

constexpr int32_t kFault = SCC_E_NONSPECIFICERROR;
// How long a host that lost its channel may take to exit by itself.
constexpr int32_t kExitGraceMs = 2000;

// Why a hosted call could not complete.
enum class HostFault {
    None,
    Closed,    // the host closed the channel: it is ending
    Timeout,   // no message within the timeout
    Channel,   // the channel broke
    Malformed, // a message that breaks the protocol
};

// How a fault reads in a message.
std::string describe(HostFault what, int32_t timeoutMs) {
    switch (what) {
    case HostFault::None:
        return "no fault";
    case HostFault::Closed:
        return "closed";
    case HostFault::Timeout:
        return "no answer within " + std::to_string(timeoutMs) + " ms";
    case HostFault::Malformed:
        return "malformed message";
    case HostFault::Channel:
        break;
    }
    return "channel error";
}

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
    void setLibrary(ProviderLibrary *library) { library_ = library; }
    // Connected, and the host has not ended while the connection was idle.
    bool connected() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connected_ && !child_.ended();
    }

    // One provider call, waiting at most `timeoutMs` for each message of it.
    CallOutcome call(ProviderCall &c, int32_t timeoutMs);
    // Delivers the text-out messages the provider has sent from a thread of
    // its own while no call ran, without waiting for more. Skipped while a
    // call runs: that call delivers them in order.
    void collect();

private:
    // Reads one message, waiting at most the timeout for the whole of it;
    // HostFault::None on success.
    HostFault receive(hostproto::Header &header, std::vector<uint8_t> &payload);
    // Reads exactly `size` bytes (what collect() left over first) by
    // `deadline` (negative: none).
    Channel::Status readFully(uint8_t *data, size_t size, int64_t deadline);
    // The whole messages that collect() has taken in, handed out one by one.
    bool nextCollected(hostproto::Header &header, std::vector<uint8_t> &payload, HostFault &fault);
    bool send(hostproto::Writer &w) {
        const auto &bytes = w.finish();
        return channel_.write(bytes.data(), bytes.size());
    }
    bool answerHost(int32_t answer) {
        hostproto::Writer w(Kind::Answer);
        w.i32(answer);
        return send(w);
    }
    CallOutcome fault(HostFault what);
    // Says so in the list of the calling connection, or, outside a call, of
    // the connections of this library.
    void report(const std::string &entry);
    // Hands a message a host may send between calls (text-out, a rename
    // report) to its callback; false when it is none of them or malformed.
    bool deliverUnasked(Kind kind, const std::vector<uint8_t> &payload);
    // Ends the connection: closes the channel, reaps the host. `how` gets how
    // the host ended.
    void end(std::string *how);

    std::mutex mutex_;
    platform::ChildProcess child_;
    // The room of the last request and of the messages of a call, reused by
    // the next call unless they were large.
    static void keep(std::vector<uint8_t> &slot, std::vector<uint8_t> bytes) {
        if (bytes.capacity() <= kKeptBytes)
            slot = std::move(bytes);
        else
            slot = std::vector<uint8_t>();
    }
    static constexpr size_t kKeptBytes = 64 * 1024;
    Channel channel_;
    std::vector<uint8_t> requestBytes_;
    std::vector<uint8_t> payload_;
    int32_t timeoutMs_ = 0;
    bool connected_ = false;
    LPTEXTOUTPROC textOut_ = nullptr;
    OPTNAMECHANGEPFN nameChange_ = nullptr; // the last one set through SccSetOption
    // The user data the connections to this host gave their provider: a
    // rename report carrying any other is forged, and dropped.
    std::vector<uint64_t> nameChangeIds_;
    // Bytes taken in between calls, not yet a whole message.
    std::vector<uint8_t> pending_;
    size_t pendingStart_ = 0;
    ProviderLibrary *library_ = nullptr;
    // What one fetch takes in from a host at most, so that a host sending
    // without end cannot hold a fetch.
    static constexpr size_t kCollectBudget = size_t(4) << 20;
};

Channel::Status HostConnection::readFully(uint8_t *data, size_t size, int64_t deadline) {
    if (pendingStart_ < pending_.size()) {
        const size_t n = std::min(size, pending_.size() - pendingStart_);
        std::memcpy(data, pending_.data() + pendingStart_, n);
        pendingStart_ += n;
        data += n;
        size -= n;
        if (pendingStart_ == pending_.size()) {
            pending_.clear();
            pendingStart_ = 0;
        }
    }
    while (size > 0) {
        int32_t waitMs = -1;
        if (deadline >= 0) {
            const int64_t left = deadline - platform::monotonicMs();
            waitMs = left > 0 ? static_cast<int32_t>(std::min<int64_t>(left, 0x7fffffff)) : 0;
        }
        size_t got = 0;
        const Channel::Status status = channel_.readSome(data, size, waitMs, got);
        if (status != Channel::Status::Ok)
            return status;
        data += got;
        size -= got;
    }
    return Channel::Status::Ok;
}

HostFault HostConnection::receive(hostproto::Header &header, std::vector<uint8_t> &payload) {
    // The timeout bounds the whole message, not each part of it: a host that
    // sends a byte at a time cannot stretch a call.
    const int64_t deadline = timeoutMs_ < 0 ? -1 : platform::monotonicMs() + timeoutMs_;
    uint8_t head[hostproto::kHeaderSize];
    auto status = readFully(head, sizeof head, deadline);
    if (status == Channel::Status::Ok) {
        if (!hostproto::readHeader(head, header))
            return HostFault::Malformed;
        // The room grows with what arrives: a header announcing more than is
        // sent costs nothing.
        constexpr size_t kStep = size_t(1) << 20;
        payload.clear();
        while (status == Channel::Status::Ok && payload.size() < header.length) {
            const size_t at = payload.size();
            const size_t part = std::min<size_t>(header.length - at, kStep);
            payload.resize(at + part);
            status = readFully(payload.data() + at, part, deadline);
        }
    }
    switch (status) {
    case Channel::Status::Ok:
        return HostFault::None;
    case Channel::Status::Closed:
        return HostFault::Closed;
    case Channel::Status::Timeout:
        return HostFault::Timeout;
    case Channel::Status::Error:
        break;
    }
    return HostFault::Channel;
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

void HostConnection::report(const std::string &entry) {
    if (currentCall() == nullptr && library_ != nullptr)
        library_->deliverOutsideCall(entry);
    else
        messages::appendForCurrentCall(entry);
}

CallOutcome HostConnection::fault(HostFault what) {
    try {
        std::string how;
        if (what == HostFault::Closed) {
            // The host closed the channel: it is ending; say how.
            channel_.close();
            child_.finish(kExitGraceMs, how);
            connected_ = false;
        } else {
            end(&how);
            how = describe(what, timeoutMs_) + (how.empty() ? "" : ", " + how);
        }
        report(messages::formatMessage(SCC_MSG_ERROR,
                                       ("SCC provider process ended: " + how).c_str()));
    } catch (...) {
        // Out of memory: the call still fails.
        channel_.close();
        connected_ = false;
    }
    return {false, kFault, true};
}

bool HostConnection::start(const std::string &program, const char *libraryPath,
                           int32_t timeoutMs) {
    timeoutMs_ = timeoutMs;
    std::string error;
    if (!child_.start(program.c_str(), channel_, error)) {
        connectReport().hostError = error;
        return false;
    }
    hostproto::Header header;
    std::vector<uint8_t> payload;
    HostFault problem = receive(header, payload);
    if (problem != HostFault::None || header.kind != Kind::Hello) {
        std::string how;
        end(&how);
        connectReport().hostError = "no greeting from the host (" +
                                    (problem == HostFault::None ? "an unexpected message"
                                                                : describe(problem, timeoutMs_)) +
                                    ")" + (how.empty() ? "" : "; host process: " + how);
        return false;
    }
    hostproto::Reader hello(payload.data(), payload.size());
    uint32_t magic = hello.u32(), version = hello.u32(), bits = hello.u32();
    if (!hello.ok() || magic != hostproto::kMagic || version != hostproto::kVersion ||
        (bits != 32 && bits != 64)) {
        end(nullptr);
        connectReport().hostError = "the host speaks another protocol";
        return false;
    }
    hostproto::Writer load(Kind::Load);
    load.text(libraryPath);
    if (!send(load) || receive(header, payload) != HostFault::None || header.kind != Kind::Loaded) {
        std::string how;
        end(&how);
        connectReport().hostError = "the host did not answer the load" +
                                    (how.empty() ? std::string() : "; host process: " + how);
        return false;
    }
    hostproto::Reader loaded(payload.data(), payload.size());
    if (loaded.i32() != 0 || !loaded.ok()) {
        std::string loaderText;
        if (loaded.ok() && !loaded.atEnd())
            loaded.text(loaderText);
        end(nullptr);
        connectFailed("the provider library did not load in the host");
        connectReport().loaderError = loaderText;
        return false;
    }
    connected_ = true;
    return true;
}

CallOutcome HostConnection::call(ProviderCall &c, int32_t timeoutMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeoutMs_ = timeoutMs;
    if (!connected_)
        return {false, kFault, true};
    if (child_.ended())
        return fault(HostFault::Closed); // it ended while the connection was idle: say how
    if (c.entry == EntryPoint::OpenProject)
        textOut_ = c.textOut;
    if (c.nameChange != nullptr)
        nameChange_ = c.nameChange;
    if (c.entry == EntryPoint::SetOption && c.code == SCC_OPT_USERDATA && c.optionValue != 0 &&
        std::find(nameChangeIds_.begin(), nameChangeIds_.end(), uint64_t(c.optionValue)) ==
            nameChangeIds_.end())
        nameChangeIds_.push_back(static_cast<uint64_t>(c.optionValue));
    hostproto::Writer request(Kind::Call, std::move(requestBytes_));
    hostproto::encodeCall(request, c);
    if (request.tooLarge()) {
        // Nothing was sent: the host and the other connections to it go on.
        try {
            report(messages::formatMessage(
                SCC_MSG_ERROR, ("SCC provider call too large for the provider process: its names "
                                "and texts exceed " +
                                std::to_string(hostproto::kMaxPayload) + " bytes")
                                   .c_str()));
        } catch (...) {
            // Out of memory: the call still fails.
        }
        return {false, kFault, true};
    }
    const bool sent = send(request);
    keep(requestBytes_, request.release());
    if (!sent)
        return fault(HostFault::Channel);
    hostproto::Header header;
    std::vector<uint8_t> &payload = payload_;
    // A large reply's room is not held on to once the call is over.
    struct Trim {
        std::vector<uint8_t> &bytes;
        ~Trim() { keep(bytes, std::move(bytes)); }
    } trim{payload};
    for (;;) {
        if (HostFault problem = receive(header, payload); problem != HostFault::None)
            return fault(problem);
        hostproto::Reader r(payload.data(), payload.size());
        switch (header.kind) {
        case Kind::Text:
        case Kind::Ask: {
            int32_t type = r.i32();
            std::string text;
            bool present = r.text(text);
            if (!r.ok() || !r.atEnd())
                return fault(HostFault::Malformed);
            // The provider calls the callback it was given by the last
            // SccOpenProject, in this call or a later one. A question (sent
            // during the call) gets the callback's answer back.
            SCCLONG answer = 0;
            if (textOut_ != nullptr)
                answer = textOut_(present ? text.c_str() : nullptr, type);
            if (header.kind == Kind::Ask && !answerHost(answer))
                return fault(HostFault::Channel);
            break;
        }
        case Kind::Change: {
            std::string name, latest;
            bool hasName = r.text(name);
            uint32_t type = r.u32();
            bool hasLatest = r.text(latest);
            if (!r.ok() || !r.atEnd() || c.changes == nullptr)
                return fault(HostFault::Malformed);
            QUERYCHANGESDATA change{sizeof(QUERYCHANGESDATA), hasName ? name.c_str() : nullptr,
                                    type, hasLatest ? latest.c_str() : nullptr};
            if (!answerHost(c.changes(c.callerData, &change)))
                return fault(HostFault::Channel);
            break;
        }
        case Kind::DirItem: {
            int32_t folder = r.i32();
            std::string name;
            bool present = r.text(name);
            if (!r.ok() || !r.atEnd() || c.dirItems == nullptr)
                return fault(HostFault::Malformed);
            if (!answerHost(c.dirItems(c.callerData, folder, present ? name.c_str() : nullptr)))
                return fault(HostFault::Channel);
            break;
        }
        case Kind::Renamed:
            // Reported in a call or between calls alike.
            if (!deliverUnasked(header.kind, payload))
                return fault(HostFault::Malformed);
            break;
        case Kind::Populate: {
            int32_t keep = r.i32(), status = r.i32();
            std::string name;
            bool present = r.text(name);
            if (!r.ok() || !r.atEnd() || c.populate == nullptr)
                return fault(HostFault::Malformed);
            SCCBOOL answer = c.populate(c.callerData, keep, status, present ? name.c_str() : nullptr);
            if (!answerHost(answer))
                return fault(HostFault::Channel);
            break;
        }
        case Kind::Reply: {
            CallOutcome outcome;
            if (!hostproto::decodeReply(r, outcome, c))
                return fault(HostFault::Malformed);
            return outcome;
        }
        default:
            return fault(HostFault::Malformed);
        }
    }
}

bool HostConnection::deliverUnasked(Kind kind, const std::vector<uint8_t> &payload) {
    hostproto::Reader r(payload.data(), payload.size());
    if (kind == Kind::Text) {
        int32_t type = r.i32();
        std::string text;
        bool present = r.text(text);
        if (!r.ok() || !r.atEnd())
            return false;
        // The callback the provider was given by the last SccOpenProject.
        if (textOut_ != nullptr)
            textOut_(present ? text.c_str() : nullptr, type);
        return true;
    }
    if (kind == Kind::Renamed) {
        uint64_t callerData = r.u64();
        std::string oldName, newName;
        bool hasOld = r.text(oldName);
        bool hasNew = r.text(newName);
        if (!r.ok() || !r.atEnd())
            return false;
        // Only for a receiver installed through this host: another host
        // cannot reach the connections of this one.
        if (nameChange_ != nullptr &&
            std::find(nameChangeIds_.begin(), nameChangeIds_.end(), callerData) !=
                nameChangeIds_.end())
            nameChange_(reinterpret_cast<void *>(static_cast<uintptr_t>(callerData)),
                        hasOld ? oldName.c_str() : nullptr, hasNew ? newName.c_str() : nullptr);
        return true;
    }
    return false;
}

bool HostConnection::nextCollected(hostproto::Header &header, std::vector<uint8_t> &payload,
                                   HostFault &problem) {
    const size_t have = pending_.size() - pendingStart_;
    if (have < hostproto::kHeaderSize)
        return false;
    uint8_t head[hostproto::kHeaderSize];
    std::memcpy(head, pending_.data() + pendingStart_, sizeof head);
    if (!hostproto::readHeader(head, header)) {
        problem = HostFault::Malformed;
        return false;
    }
    if (have - sizeof head < header.length)
        return false; // the rest has not arrived: the next fetch or call takes it
    const uint8_t *start = pending_.data() + pendingStart_ + sizeof head;
    payload.assign(start, start + header.length);
    pendingStart_ += sizeof head + header.length;
    if (pendingStart_ == pending_.size()) {
        pending_.clear();
        pendingStart_ = 0;
    }
    return true;
}

void HostConnection::collect() {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || !connected_)
        return;
    // Between calls the host sends text-out messages and rename reports only.
    // What has arrived is taken without waiting; a message part of which is
    // still on its way stays for the next fetch (or the next call).
    hostproto::Header header;
    std::vector<uint8_t> payload;
    size_t budget = kCollectBudget;
    try {
        for (;;) {
            HostFault problem = HostFault::None;
            while (nextCollected(header, payload, problem)) {
                if (!deliverUnasked(header.kind, payload)) {
                    fault(HostFault::Malformed);
                    return;
                }
            }
            if (problem != HostFault::None) {
                fault(problem);
                return;
            }
            if (budget == 0)
                return;
            if (pendingStart_ > 0) {
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(pendingStart_));
                pendingStart_ = 0;
            }
            const size_t at = pending_.size();
            const size_t room = std::min<size_t>(budget, Channel::kReadAhead);
            pending_.resize(at + room);
            size_t got = 0;
            const Channel::Status status = channel_.readSome(pending_.data() + at, room, 0, got);
            pending_.resize(at + got);
            if (status == Channel::Status::Timeout)
                return; // nothing more has arrived
            if (status != Channel::Status::Ok)
                return; // the host has ended: the next call says how
            budget -= got;
        }
    } catch (...) {
        // Out of memory: what was taken in stays for the next fetch.
    }
}

class HostedProvider final : public Provider {
public:
    HostedProvider(std::shared_ptr<HostConnection> connection, int32_t timeoutMs)
        : connection_(std::move(connection)), timeoutMs_(timeoutMs) {}
    CallOutcome call(ProviderCall &c) override { return connection_->call(c, timeoutMs_); }
    void collect() override { connection_->collect(); }

private:
    std::shared_ptr<HostConnection> connection_;
    int32_t timeoutMs_;
};

// The running hosts by program and library path. Hosts start one at a time;
// the map itself is locked only briefly, so that collecting messages never
// waits for a host that is starting.
std::mutex startingMutex;
std::mutex hostsMutex;
auto *hosts = new std::map<std::string, std::weak_ptr<HostConnection>>(); // never destroyed

std::shared_ptr<HostConnection> connectHost(const std::string &program, const char *path,
                                            int32_t timeoutMs, ProviderLibrary &library) {
    std::lock_guard<std::mutex> starting(startingMutex);
    const std::string key = program + '\n' + path;
    std::shared_ptr<HostConnection> existing;
    {
        std::lock_guard<std::mutex> lock(hostsMutex);
        for (auto it = hosts->begin(); it != hosts->end();)
            it = it->second.expired() ? hosts->erase(it) : std::next(it);
        if (auto found = hosts->find(key); found != hosts->end())
            existing = found->second.lock();
    }
    if (existing && existing->connected())
        return existing;
    auto connection = std::make_shared<HostConnection>();
    connection->setLibrary(&library);
    if (!connection->start(program, path, timeoutMs))
        return nullptr;
    std::lock_guard<std::mutex> lock(hostsMutex);
    (*hosts)[key] = connection;
    return connection;
}

// The host program for the library at `path`, and whether it must run there.
std::string hostProgram(const platform::HostProgram &host) {
    if (const char *overridden = std::getenv("OSKELSCCIH_HOST"); overridden && *overridden)
        return overridden;
    std::string dir = platform::moduleDirectory();
    if (dir.empty())
        return {};
    return dir + platform::kPathSeparator + host.fileName;
}

} // namespace

void collectHostMessages() {
    std::vector<std::shared_ptr<HostConnection>> running;
    {
        std::lock_guard<std::mutex> lock(hostsMutex);
        for (const auto &entry : *hosts)
            if (auto connection = entry.second.lock())
                running.push_back(std::move(connection));
    }
    for (const auto &connection : running)
        connection->collect();
}

std::unique_ptr<Provider> openProvider(const char *path, const ProviderSettings &settings,
                                       ProviderLibrary *&library) {
    // Neither the machine-type check nor a loader may open a FIFO or a pipe:
    // that could wait for a peer for ever.
    if (path == nullptr || *path == '\0' || platform::namesNonRegularFile(path))
        return nullptr;
    const platform::HostProgram host = platform::hostProgramFor(path);
    if (!settings.hosted && !host.required) {
        platform::LibraryHandle loaded = platform::loadLibrary(path);
        auto provider = inProcessProvider(loaded);
        if (!provider) {
            connectFailed("the provider library did not load");
            connectReport().loaderError = platform::lastLoadError();
            return nullptr;
        }
        char image[2 + 2 * sizeof(void *) + 1];
        std::snprintf(image, sizeof image, "%p", loaded);
        library = &ProviderLibrary::forKey(std::string("in-process ") + image);
        library->shareLock(loaded, path);
        return provider;
    }
    connectReport().hosted = true;
    std::string program = hostProgram(host);
    if (program.empty()) {
        connectFailed("the host program was not found: the folder of the oskelsccih library is unknown");
        return nullptr;
    }
    connectReport().hostProgram = program;
    const auto timeoutMs =
        static_cast<int32_t>(settings.timeoutMs > 0x7fffffffu ? 0x7fffffffu : settings.timeoutMs);
    ProviderLibrary &hostLibrary = ProviderLibrary::forKey("hosted " + program + '\n' + path);
    auto connection = connectHost(program, path, timeoutMs, hostLibrary);
    if (!connection) {
        connectFailed("the provider host process did not start");
        return nullptr;
    }
    library = &hostLibrary;
    return std::make_unique<HostedProvider>(std::move(connection), timeoutMs);
}

} // namespace oskel
