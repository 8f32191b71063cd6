#include "devserver/Answers.h"

#include "devserver/Downloads.h"
#include "devserver/HttpJson.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace spinforge::devserver {
namespace {

using Kind = BodyFault::Kind;
using Clock = std::chrono::steady_clock;

// Named with its charset: httplib would otherwise compress it again for a client that accepts gzip.
const char* const kJson = "application/json; charset=utf-8";

// A gzip stream made as it is sent: `head`, then `filler` bytes of "{},", then `tail`.
class Bomb {
public:
    Bomb(std::string head, std::uint64_t filler, std::string tail)
        : head_(std::move(head)), filler_(filler / 3 * 3), tail_(std::move(tail)) {
        deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    }
    ~Bomb() { deflateEnd(&stream_); }
    Bomb(const Bomb&) = delete;
    Bomb& operator=(const Bomb&) = delete;

    // The next piece of the compressed stream; empty once all of it is out.
    std::string next() {
        std::string input;
        int flush = Z_NO_FLUSH;
        if (!headSent_) {
            input = std::exchange(head_, {});
            headSent_ = true;
        } else if (filler_ > 0) {
            const std::uint64_t count = std::min<std::uint64_t>(filler_, 3 << 20);
            input.reserve(count);
            for (std::uint64_t i = 0; i < count; i += 3) input += "{},";
            input.resize(count);
            filler_ -= count;
        } else if (!finished_) {
            input = std::exchange(tail_, {});
            flush = Z_FINISH;
            finished_ = true;
        } else {
            return {};
        }
        stream_.next_in = reinterpret_cast<Bytef*>(input.data());
        stream_.avail_in = uInt(input.size());
        std::string out;
        char buffer[64 * 1024];
        do {
            stream_.next_out = reinterpret_cast<Bytef*>(buffer);
            stream_.avail_out = sizeof buffer;
            deflate(&stream_, flush);
            out.append(buffer, sizeof buffer - stream_.avail_out);
        } while (stream_.avail_out == 0);
        // Deflate may hold a piece back: the next one then says it.
        return out.empty() && !finished_ ? next() : out;
    }

private:
    z_stream stream_{};
    std::string head_;
    std::uint64_t filler_;
    std::string tail_;
    bool headSent_ = false;
    bool finished_ = false;
};

void serveBomb(const std::string& text, std::uint64_t filler, ServiceState& state, httplib::Response& response) {
    nlohmann::json manifest = nlohmann::json::parse(text);
    manifest["tracks"] = nlohmann::json::array();
    const std::string empty = dumpJson(manifest), marker = "\"tracks\":[";
    const std::size_t at = empty.find(marker) + marker.size();
    auto bomb = std::make_shared<Bomb>(empty.substr(0, at), filler, "{}" + empty.substr(at));
    response.set_header("Content-Encoding", "gzip");
    response.set_chunked_content_provider(kJson, [bomb, &state](std::size_t, httplib::DataSink& sink) {
        if (state.stop.requested()) return false;
        const std::string piece = bomb->next();
        if (piece.empty()) {
            sink.done();
            return true;
        }
        if (sink.write(piece.data(), piece.size())) return true;
        state.counters.countLeft();
        return false;
    });
}

// The answer at `rate` bytes per second, about ten writes a second.
void serveTrickled(const std::string& text, std::uint64_t rate, ServiceState& state, httplib::Response& response) {
    const auto started = Clock::now();
    response.set_content_provider(text.size(), kJson, [text, rate, started, &state](std::size_t offset, std::size_t,
                                                                                     httplib::DataSink& sink) {
        const std::size_t count = std::min<std::size_t>(text.size() - offset, std::max<std::uint64_t>(1, rate / 10));
        const auto due = started + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(double(offset + count) / double(rate)));
        if (!state.stop.sleepUntil(due)) return false;
        if (sink.write(text.data() + offset, count)) return true;
        state.counters.countLeft();
        return false;
    });
}

}  // namespace

bool addHeaderDamage(const BodyFault& fault, httplib::Response& response) {
    // Each answer's cookies are new ones: a client that keeps them keeps them all.
    static std::atomic<std::uint64_t> answers{0};
    const std::uint64_t answer = ++answers;
    if (fault.kind == Kind::HeaderFields) {
        for (std::uint64_t i = 0; i < fault.bytes; ++i) response.set_header("X-Filler-" + std::to_string(i), "filler");
        return true;
    }
    if (fault.kind == Kind::Cookies) {
        for (std::uint64_t i = 0; i < fault.bytes; ++i)
            response.set_header("Set-Cookie", "c" + std::to_string(answer) + "_" + std::to_string(i) + "=" +
                                                  std::string(200, 'v') + "; Path=/");
        return true;
    }
    return false;
}

void serveEndlessHeader(ServiceState& state, httplib::Response& response) {
    // The interim answer's length is never reached: the client takes its body for the real answer.
    response.status = 100;
    response.set_content_provider(std::size_t(1) << 50, "text/plain",
                                  [&state, field = std::uint64_t(0)](std::size_t offset, std::size_t, httplib::DataSink& sink) mutable {
                                      if (state.stop.requested()) return false;
                                      std::string lines = offset == 0 ? "HTTP/1.1 200 OK\r\n" : "";
                                      while (lines.size() < 16 * 1024)
                                          lines += "X-Field-" + std::to_string(field++) + ": and another one\r\n";
                                      if (!sink.write(lines.data(), lines.size())) {
                                          state.counters.countLeft();
                                          return false;
                                      }
                                      state.counters.countRunOn(lines.size());
                                      return true;
                                  });
}

void serveJson(const std::string& text, const std::optional<BodyFault>& fault, ServiceState& state,
               httplib::Response& response) {
    response.status = 200;
    if (!fault) return response.set_content(text, kJson);
    switch (fault->kind) {
    case Kind::Late:
        state.stop.sleepFor(fault->stallFor);
        return response.set_content(text, kJson);
    case Kind::RunOn: return serveRunningOn(text, kJson, fault->bytes, state.stop, state.counters, response);
    case Kind::Throttle: return serveTrickled(text, fault->bytes, state, response);
    case Kind::EndlessHeader: return serveEndlessHeader(state, response);
    case Kind::CompressedBomb: return serveBomb(text, fault->bytes, state, response);
    default:
        addHeaderDamage(*fault, response);
        return response.set_content(text, kJson);
    }
}

}  // namespace spinforge::devserver
