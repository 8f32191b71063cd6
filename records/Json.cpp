#include "records/Json.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

namespace spinforge::Json {
namespace {

using nlohmann::json;

// Builds the document as nlohmann/json does, with whole numbers read as integers, from only the
// values that its shape keeps: a skipped member is read past, never stored.
class ShapedReader {
public:
    ShapedReader(json& document, const Shape* kept, ElementSink* sink) : document_(document), dom_(document), root_(kept), sink_(sink) {}

    bool null() { return !keep() || (dom_.null() && delivered()); }
    bool boolean(bool value) { return !keep() || (dom_.boolean(value) && delivered()); }
    bool number_integer(json::number_integer_t value) { return !keep() || (dom_.number_integer(value) && delivered()); }
    bool number_unsigned(json::number_unsigned_t value) { return !keep() || (dom_.number_unsigned(value) && delivered()); }
    bool number_float(json::number_float_t value, const std::string& text) {
        if (!keep()) return true;
        if (const std::optional<std::int64_t> whole = wholeNumber(text)) return dom_.number_integer(*whole) && delivered();
        return dom_.number_float(value, text) && delivered();
    }
    bool string(std::string& value) { return !keep() || (dom_.string(value) && delivered()); }
    bool binary(json::binary_t& value) { return !keep() || (dom_.binary(value) && delivered()); }
    bool start_object(std::size_t size) { return open(size, false); }
    bool start_array(std::size_t size) { return open(size, true); }
    bool end_object() { return close(false); }
    bool end_array() { return close(true); }
    bool key(std::string& name) {
        if (skipping_ > 0) return true;
        if (root_) {
            next_ = memberShape(*frames_.back().shape, name);
            if (!next_) return true;  // the member's value is skipped too
        }
        key_ = name;
        return dom_.key(name);
    }
    // Passed on with its own type (a parse_error, an out_of_range), which is what is thrown.
    template <class Exception>
    bool parse_error(std::size_t position, const std::string& token, const Exception& error) {
        return dom_.parse_error(position, token, error);
    }

private:
    struct Frame {
        const Shape* shape;  // null when the whole document is kept
        bool array;
        std::string key;          // the member it is the value of; empty for an element or the root
        std::size_t streamed = 0;  // a streamed array: the elements handed on so far
    };

    static const Shape* memberShape(const Shape& object, std::string_view key) {
        for (const Shape::Member& member : object.members)
            if (member.key == key) return member.shape;
        return nullptr;
    }

    // Whether the value that begins now is kept; shape_ is then the shape it is kept with.
    bool keep() {
        if (skipping_ > 0) return false;
        if (!root_) return true;
        if (frames_.empty()) {
            shape_ = root_;
        } else {
            const Frame& parent = frames_.back();
            shape_ = parent.array ? parent.shape->elements : std::exchange(next_, nullptr);
        }
        return shape_ != nullptr;
    }

    bool open(std::size_t size, bool array) {
        if (!keep()) {
            ++skipping_;
            return true;
        }
        const bool inArray = !frames_.empty() && frames_.back().array;
        frames_.push_back({root_ ? shape_ : nullptr, array, inArray ? std::string() : std::exchange(key_, {})});
        if (isStreamed(frames_.back())) sink_->begin();
        return array ? dom_.start_array(size) : dom_.start_object(size);
    }

    bool close(bool array) {
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        frames_.pop_back();
        return (array ? dom_.end_array() : dom_.end_object()) && delivered();
    }

    bool isStreamed(const Frame& frame) const { return frame.shape && frame.array && frame.shape->streamed && sink_; }

    // After a value is complete: when it is an element of a streamed array, it is handed on and
    // dropped from the array.
    bool delivered() {
        if (frames_.empty() || !isStreamed(frames_.back())) return true;
        // The array, found from the document's root by the members and elements leading to it.
        json* at = &document_;
        for (std::size_t i = 1; i < frames_.size(); ++i)
            at = frames_[i - 1].array ? &at->back() : &(*at)[frames_[i].key];
        json::array_t& elements = at->get_ref<json::array_t&>();
        sink_->element(frames_.back().streamed++, elements.back(), document_);
        elements.pop_back();
        return true;
    }

    json& document_;
    nlohmann::detail::json_sax_dom_parser<json> dom_;
    const Shape* root_;            // null: everything is kept
    ElementSink* sink_;
    std::string key_;              // the key just read, for the value that follows
    std::vector<Frame> frames_;    // the kept objects and arrays the parser is inside
    const Shape* next_ = nullptr;  // the shape of the member whose key was just read, if kept
    const Shape* shape_ = nullptr;
    std::size_t skipping_ = 0;     // depth inside a skipped object or array
};

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Gives back to the system the pages of a text that a reader has passed.
class PageGiver {
public:
    // Pages are given back a mebibyte at a time.
    static constexpr std::ptrdiff_t kStep = 1 << 20;

    explicit PageGiver(const char* begin) : given_(alignedUp(begin)), next_(begin + kStep) {}
    const char* next() const { return next_; }
    void passed(const char* at) {
        const char* upTo = alignedDown(at);
        if (upTo > given_) ::madvise(const_cast<char*>(given_), std::size_t(upTo - given_), MADV_DONTNEED);
        given_ = std::max(given_, upTo);
        next_ = at + kStep;
    }

private:
    static std::uintptr_t pageSize() { return std::uintptr_t(::sysconf(_SC_PAGESIZE)); }
    static const char* alignedUp(const char* at) {
        return reinterpret_cast<const char*>((reinterpret_cast<std::uintptr_t>(at) + pageSize() - 1) & ~(pageSize() - 1));
    }
    static const char* alignedDown(const char* at) {
        return reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(at) & ~(pageSize() - 1));
    }

    const char* given_;  // everything from the first whole page up to here is given back
    const char* next_;
};

// The parser's way through the text, telling a PageGiver each mebibyte it passes.
class GivingCursor {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    GivingCursor(const char* at, PageGiver& giver) : at_(at), giver_(&giver) {}
    reference operator*() const { return *at_; }
    GivingCursor& operator++() {
        if (++at_ == giver_->next()) giver_->passed(at_);
        return *this;
    }
    GivingCursor operator++(int) {
        GivingCursor before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const GivingCursor& a, const GivingCursor& b) { return a.at_ == b.at_; }

private:
    const char* at_;
    PageGiver* giver_;
};

}  // namespace

json parse(QByteArray bytes, const Shape* kept, ElementSink* sink) {
    json document;
    ShapedReader reader(document, kept, sink);
    // A text of several pages, held by no one else, costs memory only ahead of the parser: a
    // manifest's peak is then what its tracks decode to, not that and its text besides.
    if (!bytes.isDetached() || bytes.size() < 4 * PageGiver::kStep) {
        json::sax_parse(std::as_const(bytes).begin(), std::as_const(bytes).end(), &reader);
        return document;
    }
    const char* begin = bytes.data();
    PageGiver giver(begin);
    json::sax_parse(GivingCursor(begin, giver), GivingCursor(begin + bytes.size(), giver), &reader);
    return document;
}

std::optional<std::int64_t> wholeNumber(const std::string& text) {
    // The grammar is JSON's (the parser has checked it): -? digits (. digits)? ([eE] [+-]? digits)?
    std::size_t at = 0;
    const bool negative = at < text.size() && text[at] == '-';
    if (negative) ++at;
    std::string digits;  // every digit of the mantissa; the value is digits × 10^shift
    long long shift = 0;
    for (; at < text.size() && isDigit(text[at]); ++at) digits += text[at];
    if (at < text.size() && text[at] == '.')
        for (++at; at < text.size() && isDigit(text[at]); ++at, --shift) digits += text[at];
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool negativeExponent = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
        long long exponent = 0;
        for (; at < text.size() && isDigit(text[at]); ++at)
            exponent = std::min(exponent * 10 + (text[at] - '0'), 1'000'000LL);  // far past any 64-bit value
        shift += negativeExponent ? -exponent : exponent;
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty()) return 0;  // any zero, whatever its exponent
    // Digits moved past the point must all be zeros for the value to be whole.
    for (; shift < 0; ++shift) {
        if (digits.back() != '0') return std::nullopt;
        digits.pop_back();
    }
    if (std::size_t(shift) + digits.size() > 19) return std::nullopt;  // 10^19 is past 2^63 already
    digits.append(std::size_t(shift), '0');
    unsigned long long magnitude = std::stoull(digits);
    const unsigned long long limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    if (magnitude > limit) return std::nullopt;
    return negative ? std::int64_t(-magnitude) : std::int64_t(magnitude);
}

}  // namespace spinforge::Json
