#include "records/Json.h"

#include <cctype>
#include <utility>

namespace spinforge::Json {
namespace {

using nlohmann::json;

// Builds the document as nlohmann/json does, with whole numbers read as integers, from only the
// values that its shape keeps: a skipped member is read past, never stored.
class ShapedReader {
public:
    ShapedReader(json& document, const Shape* kept) : dom_(document), root_(kept) {}

    bool null() { return !keep() || dom_.null(); }
    bool boolean(bool value) { return !keep() || dom_.boolean(value); }
    bool number_integer(json::number_integer_t value) { return !keep() || dom_.number_integer(value); }
    bool number_unsigned(json::number_unsigned_t value) { return !keep() || dom_.number_unsigned(value); }
    bool number_float(json::number_float_t value, const std::string& text) {
        if (!keep()) return true;
        if (const std::optional<std::int64_t> whole = wholeNumber(text)) return dom_.number_integer(*whole);
        return dom_.number_float(value, text);
    }
    bool string(std::string& value) { return !keep() || dom_.string(value); }
    bool binary(json::binary_t& value) { return !keep() || dom_.binary(value); }
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
        frames_.push_back({root_ ? shape_ : nullptr, array});
        return array ? dom_.start_array(size) : dom_.start_object(size);
    }

    bool close(bool array) {
        if (skipping_ > 0) {
            --skipping_;
            return true;
        }
        frames_.pop_back();
        return array ? dom_.end_array() : dom_.end_object();
    }

    nlohmann::detail::json_sax_dom_parser<json> dom_;
    const Shape* root_;            // null: everything is kept
    std::vector<Frame> frames_;    // the kept objects and arrays the parser is inside
    const Shape* next_ = nullptr;  // the shape of the member whose key was just read, if kept
    const Shape* shape_ = nullptr;
    std::size_t skipping_ = 0;     // depth inside a skipped object or array
};

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

json parse(const QByteArray& bytes, const Shape* kept) {
    json document;
    ShapedReader reader(document, kept);
    json::sax_parse(bytes.begin(), bytes.end(), &reader);
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
