#include "records/Json.h"

#include <cctype>

namespace spinforge::Json {
namespace {

// Builds the document as nlohmann/json does, with whole numbers read as integers.
class WholeNumberReader : public nlohmann::detail::json_sax_dom_parser<nlohmann::json> {
public:
    using json_sax_dom_parser::json_sax_dom_parser;
    bool number_float(double value, const std::string& text) {
        if (const std::optional<std::int64_t> whole = wholeNumber(text)) return number_integer(*whole);
        return json_sax_dom_parser::number_float(value, text);
    }
};

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

nlohmann::json parse(const QByteArray& bytes) {
    nlohmann::json document;
    WholeNumberReader reader(document);
    nlohmann::json::sax_parse(bytes.begin(), bytes.end(), &reader);
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
