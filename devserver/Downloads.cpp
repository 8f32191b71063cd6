#include "devserver/Downloads.h"

#include "devserver/HttpJson.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace spinforge::devserver {
namespace {

using Kind = BodyFault::Kind;
using Clock = std::chrono::steady_clock;

// The bytes of `size` that `read` gives, then `trailing` spaces, in chunks that announce no
// length: httplib calls the provider with the next offset until it says done; false drops the
// connection.
using ReadAt = std::function<bool(std::uint64_t offset, char* out, std::size_t count)>;
void serveRunningOn(std::uint64_t size, ReadAt read, const char* contentType, std::uint64_t trailing,
                    StopSignal& stop, Counters& counters, httplib::Response& response) {
    auto buffer = std::make_shared<std::vector<char>>(kDownloadChunkBytes);
    response.set_chunked_content_provider(
        contentType, [=, &stop, &counters](std::size_t offset, httplib::DataSink& sink) {
            if (stop.requested()) return false;
            if (offset >= size + trailing) {
                sink.done();
                return true;
            }
            std::size_t count = std::min<std::uint64_t>(kDownloadChunkBytes, size + trailing - offset);
            const bool ownBytes = offset < size;
            if (ownBytes) {
                count = std::min<std::uint64_t>(count, size - offset);
                if (!read(offset, buffer->data(), count)) return false;
            } else {
                std::fill_n(buffer->begin(), count, ' ');
            }
            if (!sink.write(buffer->data(), count)) {
                counters.countLeft();
                return false;
            }
            if (!ownBytes) counters.countRunOn(count);
            return true;
        });
}

// One response's stream. httplib calls sendFrom() again and again with the next offset until
// the announced length is sent; returning false makes it drop the connection.
class Transfer {
public:
    Transfer(const Track& track, const std::optional<BodyFault>& fault, StopSignal& stop)
        : file_(track.file, std::ios::binary), size_(track.byteSize), fault_(fault), stop_(stop) {}

    bool opened() const { return bool(file_); }

    bool readAt(std::uint64_t offset, char* out, std::size_t count) {
        file_.seekg(std::streamoff(offset));
        file_.read(out, std::streamsize(count));
        return std::size_t(file_.gcount()) == count;
    }

    bool sendFrom(std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        if (is(Kind::DropAfter) && offset >= fault_->bytes) return false;
        if (is(Kind::StallAfter) && offset >= fault_->bytes) {
            stop_.sleepFor(fault_->stallFor);
            return false;
        }
        const std::size_t count = chunkSize(offset, length);
        buffer_.resize(count);
        if (!readAt(offset, buffer_.data(), count)) return false;
        if (is(Kind::WrongBytes)) corruptMiddleByte(offset, count);
        if (is(Kind::Throttle) && !waitForRate(count)) return false;
        sent_ += count;
        return sink.write(buffer_.data(), count);
    }

private:
    bool is(Kind kind) const { return fault_ && fault_->kind == kind; }

    std::size_t chunkSize(std::size_t offset, std::size_t length) const {
        std::size_t count = std::min(length, kDownloadChunkBytes);
        if (is(Kind::DropAfter) || is(Kind::StallAfter)) count = std::min<std::uint64_t>(count, fault_->bytes - offset);
        // About ten writes a second keeps a throttled body steady rather than bursty.
        if (is(Kind::Throttle)) count = std::min<std::uint64_t>(count, std::max<std::uint64_t>(1, fault_->bytes / 10));
        return count;
    }


    void corruptMiddleByte(std::size_t offset, std::size_t count) {
        const std::uint64_t middle = size_ / 2;
        if (middle >= offset && middle < offset + count) buffer_[middle - offset] ^= 0x5a;
    }

    // Holds the next `count` bytes back until the rate allows them, so that by any moment the
    // client has received at most rate * elapsed bytes: the body takes at least size / rate.
    bool waitForRate(std::size_t count) {
        const double dueSeconds = double(sent_ + count) / double(fault_->bytes);
        const auto due = started_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(dueSeconds));
        return stop_.sleepUntil(due);
    }

    std::ifstream file_;
    std::uint64_t size_;
    std::optional<BodyFault> fault_;
    StopSignal& stop_;
    std::vector<char> buffer_;
    Clock::time_point started_ = Clock::now();
    std::uint64_t sent_ = 0;
};

}  // namespace

void serveRunningOn(const std::string& text, const char* contentType, std::uint64_t trailing, StopSignal& stop,
                    Counters& counters, httplib::Response& response) {
    auto held = std::make_shared<std::string>(text);
    const auto read = [held](std::uint64_t offset, char* out, std::size_t count) {
        std::copy_n(held->data() + offset, count, out);
        return true;
    };
    serveRunningOn(held->size(), read, contentType, trailing, stop, counters, response);
}

void serveTrackFile(const Track& track, const std::optional<BodyFault>& fault, StopSignal& stop, Counters& counters,
                    httplib::Response& response) {
    auto transfer = std::make_shared<Transfer>(track, fault, stop);
    if (!transfer->opened()) return sendError(response, 500, "Cannot read the track file.");
    if (fault && fault->kind == Kind::RunOn) {
        const auto read = [transfer](std::uint64_t offset, char* out, std::size_t count) {
            return transfer->readAt(offset, out, count);
        };
        return serveRunningOn(track.byteSize, read, "application/octet-stream", fault->bytes, stop, counters, response);
    }
    // httplib sends no Content-Length for a zero-length content provider.
    if (track.byteSize == 0) return response.set_content("", "application/octet-stream");
    response.set_content_provider(
        std::size_t(track.byteSize), "application/octet-stream",
        [transfer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return transfer->sendFrom(offset, length, sink);
        });
}

}  // namespace spinforge::devserver
