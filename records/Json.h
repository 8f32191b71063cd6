#pragma once
// JSON as the agent reads it, from the service and from a drive's marker: nlohmann/json's parser,
// except that a number written with a fraction or an exponent whose value is exactly a whole
// number in the signed 64-bit range ("1024.0", "1e3") is read as that integer. Services written
// in JavaScript or Python send integers so. Other numbers stay as parsed: a fraction, or a whole
// number past 64 bits, still fails an integer field.

#include <QByteArray>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace spinforge::Json {

// Throws what nlohmann::json::parse throws for text that is not one JSON value.
nlohmann::json parse(const QByteArray& bytes);

// The exact value of a JSON number's text when it is a whole number that fits a signed 64-bit
// integer, else nullopt.
std::optional<std::int64_t> wholeNumber(const std::string& text);

}  // namespace spinforge::Json
