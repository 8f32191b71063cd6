#include "devserver/Faults.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace spinforge::devserver {
namespace {

using nlohmann::json;

constexpr std::array<const char*, kEndpointCount> kEndpointNames{"login", "manifest", "download", "status"};

constexpr std::array<std::string_view, 19> kKnownKeys{
    "endpoint", "times", "track", "status", "error", "body", "content_type", "location", "wrong_bytes",
    "drop_after", "stall_after", "stall_seconds", "bytes_per_second", "trailing_bytes", "delay_seconds",
    "header_fields", "endless_header", "set_cookies", "compressed_bomb"};

constexpr std::array<std::string_view, 11> kActionKeys{
    "status", "wrong_bytes", "drop_after", "stall_after", "bytes_per_second", "trailing_bytes", "delay_seconds",
    "header_fields", "endless_header", "set_cookies", "compressed_bomb"};

[[noreturn]] void fail(const std::string& message) { throw FaultError(message); }

void rejectUnknownKeys(const json& object) {
    for (const auto& [key, value] : object.items()) {
        bool known = false;
        for (std::string_view name : kKnownKeys) known = known || key == name;
        if (!known) fail("unknown fault field \"" + key + "\"");
    }
}

std::optional<std::string> optionalText(const json& object, const char* key) {
    if (!object.contains(key)) return std::nullopt;
    if (!object[key].is_string()) fail(std::string("\"") + key + "\" must be a string");
    return object[key].get<std::string>();
}

std::optional<long long> optionalInteger(const json& object, const char* key, long long min) {
    if (!object.contains(key)) return std::nullopt;
    const json& value = object[key];
    if (!value.is_number_integer() || (value.is_number_unsigned() && value.get<std::uint64_t>() > (1ULL << 62)))
        fail(std::string("\"") + key + "\" must be a whole number");
    const long long number = value.get<long long>();
    if (number < min) fail(std::string("\"") + key + "\" must be at least " + std::to_string(min));
    return number;
}

Endpoint endpointOf(const json& object) {
    const std::optional<std::string> name = optionalText(object, "endpoint");
    if (!name) fail("a fault needs \"endpoint\" (login, manifest, download or status)");
    const std::optional<Endpoint> endpoint = endpointNamed(*name);
    if (!endpoint) fail("unknown endpoint \"" + *name + "\" (use login, manifest, download or status)");
    return *endpoint;
}

std::string_view onlyActionKey(const json& object) {
    std::vector<std::string_view> present;
    for (std::string_view key : kActionKeys)
        // A refusal may run on: its "trailing_bytes" goes with its "status".
        if (object.contains(key) && !(key == "trailing_bytes" && object.contains("status"))) present.push_back(key);
    if (present.size() != 1)
        fail("a fault needs exactly one of \"status\", \"wrong_bytes\", \"drop_after\", \"stall_after\", "
             "\"bytes_per_second\", \"trailing_bytes\", \"delay_seconds\", \"header_fields\", \"endless_header\", "
             "\"set_cookies\", \"compressed_bomb\"");
    return present.front();
}

Refusal refusalFrom(const json& object) {
    Refusal refusal;
    refusal.status = int(*optionalInteger(object, "status", 100));
    if (refusal.status > 599) fail("\"status\" must be an HTTP status from 100 to 599");
    refusal.error = optionalText(object, "error");
    refusal.body = optionalText(object, "body");
    if (refusal.error && refusal.body) fail("give \"error\" or \"body\", not both");
    if (const auto type = optionalText(object, "content_type")) {
        if (!refusal.body) fail("\"content_type\" goes with \"body\"");
        refusal.contentType = *type;
    }
    refusal.location = optionalText(object, "location");
    refusal.runOn = std::uint64_t(optionalInteger(object, "trailing_bytes", 1).value_or(0));
    return refusal;
}

std::chrono::milliseconds secondsOf(const json& object, const char* key) {
    if (!object.contains(key)) return std::chrono::minutes(10);
    const json& value = object[key];
    if (!value.is_number() || value.get<double>() < 0 || value.get<double>() > 86400)
        fail(std::string("\"") + key + "\" must be a number from 0 to 86400");
    return std::chrono::milliseconds(std::llround(value.get<double>() * 1000));
}

BodyFault bodyFaultFrom(const json& object, std::string_view actionKey) {
    for (const char* key : {"error", "body", "content_type", "location"})
        if (object.contains(key)) fail(std::string("\"") + key + "\" goes with \"status\"");
    if (object.contains("stall_seconds") && actionKey != "stall_after")
        fail("\"stall_seconds\" goes with \"stall_after\"");
    BodyFault fault;
    if (actionKey == "wrong_bytes") {
        if (object["wrong_bytes"] != true) fail("\"wrong_bytes\" must be true");
        fault.kind = BodyFault::Kind::WrongBytes;
    } else if (actionKey == "drop_after") {
        fault.kind = BodyFault::Kind::DropAfter;
        fault.bytes = std::uint64_t(*optionalInteger(object, "drop_after", 0));
    } else if (actionKey == "stall_after") {
        fault.kind = BodyFault::Kind::StallAfter;
        fault.bytes = std::uint64_t(*optionalInteger(object, "stall_after", 0));
        fault.stallFor = secondsOf(object, "stall_seconds");
    } else if (actionKey == "delay_seconds") {
        fault.kind = BodyFault::Kind::Late;
        fault.stallFor = secondsOf(object, "delay_seconds");
    } else if (actionKey == "trailing_bytes") {
        fault.kind = BodyFault::Kind::RunOn;
        fault.bytes = std::uint64_t(*optionalInteger(object, "trailing_bytes", 1));
    } else if (actionKey == "header_fields") {
        fault.kind = BodyFault::Kind::HeaderFields;
        fault.bytes = std::uint64_t(*optionalInteger(object, "header_fields", 1));
    } else if (actionKey == "endless_header") {
        if (object["endless_header"] != true) fail("\"endless_header\" must be true");
        fault.kind = BodyFault::Kind::EndlessHeader;
    } else if (actionKey == "set_cookies") {
        fault.kind = BodyFault::Kind::Cookies;
        fault.bytes = std::uint64_t(*optionalInteger(object, "set_cookies", 1));
    } else if (actionKey == "compressed_bomb") {
        fault.kind = BodyFault::Kind::CompressedBomb;
        fault.bytes = std::uint64_t(*optionalInteger(object, "compressed_bomb", 1));
    } else {
        fault.kind = BodyFault::Kind::Throttle;
        fault.bytes = std::uint64_t(*optionalInteger(object, "bytes_per_second", 1));
    }
    return fault;
}

// Which endpoints each kind of damage is for; the header's, every endpoint.
void requireEndpointFor(std::string_view actionKey, Endpoint endpoint) {
    struct Allowed {
        std::string_view key;
        std::vector<Endpoint> endpoints;
        const char* named;
    };
    static const std::vector<Allowed> limited{
        {"wrong_bytes", {Endpoint::Download}, "download faults only"},
        {"drop_after", {Endpoint::Download}, "download faults only"},
        {"stall_after", {Endpoint::Download}, "download faults only"},
        {"bytes_per_second", {Endpoint::Download, Endpoint::Login}, "downloads and sign-in only"},
        {"trailing_bytes", {Endpoint::Download, Endpoint::Manifest, Endpoint::Login, Endpoint::Status}, ""},
        {"delay_seconds", {Endpoint::Manifest}, "the manifest only"},
        {"compressed_bomb", {Endpoint::Manifest}, "the manifest only"},
    };
    for (const Allowed& allowed : limited)
        if (allowed.key == actionKey && std::find(allowed.endpoints.begin(), allowed.endpoints.end(), endpoint) ==
                                            allowed.endpoints.end())
            fail("\"" + std::string(actionKey) + "\" is for " + allowed.named);
}

bool matches(const Fault& fault, Endpoint endpoint, const std::string& track) {
    return fault.endpoint == endpoint && (!fault.track || *fault.track == track);
}

}  // namespace

const char* endpointName(Endpoint endpoint) { return kEndpointNames[std::size_t(endpoint)]; }

std::optional<Endpoint> endpointNamed(std::string_view name) {
    for (std::size_t i = 0; i < kEndpointNames.size(); ++i)
        if (name == kEndpointNames[i]) return Endpoint(i);
    return std::nullopt;
}

Fault parseFault(const std::string& text) {
    const json object = json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) fail("a fault must be a JSON object");
    rejectUnknownKeys(object);
    Fault fault;
    fault.endpoint = endpointOf(object);
    fault.times = optionalInteger(object, "times", 1);
    fault.track = optionalText(object, "track");
    if (fault.track && fault.endpoint != Endpoint::Download) fail("\"track\" goes with download faults only");
    const std::string_view actionKey = onlyActionKey(object);
    if (actionKey == "status") {
        fault.action = refusalFrom(object);
        return fault;
    }
    requireEndpointFor(actionKey, fault.endpoint);
    fault.action = bodyFaultFrom(object, actionKey);
    return fault;
}

void FaultTable::add(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

void FaultTable::clear() {
    std::lock_guard lock(mutex_);
    faults_.clear();
    uses_ = 0;
}

long long FaultTable::uses() const {
    std::lock_guard lock(mutex_);
    return uses_;
}

std::optional<Refusal> FaultTable::takeRefusal(Endpoint endpoint, const std::string& track) {
    return take<Refusal>(endpoint, track);
}

std::optional<BodyFault> FaultTable::takeBodyFault(Endpoint endpoint, const std::string& track) {
    return take<BodyFault>(endpoint, track);
}

template <class Action>
std::optional<Action> FaultTable::take(Endpoint endpoint, const std::string& track) {
    std::lock_guard lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!matches(*it, endpoint, track) || !std::holds_alternative<Action>(it->action)) continue;
        Action action = std::get<Action>(it->action);
        if (it->times && --*it->times == 0) faults_.erase(it);
        ++uses_;
        return action;
    }
    return std::nullopt;
}

}  // namespace spinforge::devserver
