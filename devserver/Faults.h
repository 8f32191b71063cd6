#pragma once
// Fault switches: tests make the service misbehave in chosen ways (refuse a request, damage or
// cut a download, stall, throttle) to see how the agent copes. httplib answers on a thread
// pool, so the table is shared between threads.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace spinforge::devserver {

enum class Endpoint { Login, Manifest, Download, Status };
constexpr std::size_t kEndpointCount = 4;

const char* endpointName(Endpoint endpoint);
std::optional<Endpoint> endpointNamed(std::string_view name);

// Answer `status` instead of the normal answer.
struct Refusal {
    int status = 0;
    std::optional<std::string> error;     // body {"error": ...}
    std::optional<std::string> body;      // raw body with `contentType`
    std::string contentType = "text/html";
    std::optional<std::string> location;  // a Location header: with a 3xx status, a redirect
    std::uint64_t runOn = 0;              // spaces sent after the body, chunked without a length
};

// Damage to an answer that is otherwise served normally: its body (a download's, or the other
// endpoints' where the switch says so) or its header section.
struct BodyFault {
    enum class Kind {
        WrongBytes, DropAfter, StallAfter, Throttle, RunOn, Late,
        HeaderFields,    // the header section holds `bytes` fields more
        EndlessHeader,   // the header section never ends
        Cookies,         // the answer sets `bytes` new cookies
        CompressedBomb,  // a manifest gzip-compressed whatever was asked, inflating to `bytes` more
    };
    Kind kind = Kind::WrongBytes;
    // DropAfter/StallAfter: bytes sent first; Throttle: bytes per second; RunOn: bytes sent after
    // the answer's own, without a length; HeaderFields, Cookies: how many; CompressedBomb: bytes
    std::uint64_t bytes = 0;
    std::chrono::milliseconds stallFor{600'000};  // StallAfter: the silence; Late: the wait before answering
};

struct Fault {
    Endpoint endpoint = Endpoint::Login;
    std::optional<std::string> track;  // download faults: only this relative path
    std::variant<Refusal, BodyFault> action;
    std::optional<long long> times;  // uses left; none: until reset
};

class FaultError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads one fault from its JSON text. Throws FaultError naming what is wrong; unknown keys are
// refused so that a typo cannot leave a test running without the fault it asked for.
Fault parseFault(const std::string& json);

class FaultTable {
public:
    void add(Fault fault);
    // Forgets every fault and the count of uses.
    void clear();
    // How many requests a fault has acted on since the last clear: a test that expects its fault
    // to have been met can tell.
    long long uses() const;

    // The oldest matching fault of that kind, counting one use of it. `track` is the relative
    // path of the requested track, or empty.
    std::optional<Refusal> takeRefusal(Endpoint endpoint, const std::string& track = {});
    std::optional<BodyFault> takeBodyFault(Endpoint endpoint, const std::string& track = {});

private:
    template <class Action>
    std::optional<Action> take(Endpoint endpoint, const std::string& track);

    mutable std::mutex mutex_;
    std::vector<Fault> faults_;
    long long uses_ = 0;
};

}  // namespace spinforge::devserver
