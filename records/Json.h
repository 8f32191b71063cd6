#pragma once
// JSON as the agent reads it, from the service and from a drive's marker: nlohmann/json's parser,
// except that a number written with a fraction or an exponent whose value is exactly a whole
// number in the signed 64-bit range ("1024.0", "1e3") is read as that integer. Services written
// in JavaScript or Python send integers so. Other numbers stay as parsed: a fraction, or a whole
// number past 64 bits, still fails an integer field.

#include <QByteArray>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spinforge::Json {

// The part of a document that is kept as it is parsed; everything else is skipped as it is read,
// at every level, so a document costs memory only for what its reader uses. A member's value
// and an array's elements are kept with the shape given for them; a value kept with a shape that
// names no members and no elements keeps its scalars, and its objects and arrays only as empty
// ones (their type still tells a reader what was sent).
struct Shape {
    struct Member {
        std::string_view key;
        const Shape* shape;
    };
    std::vector<Member> members;      // the object members that are kept
    const Shape* elements = nullptr;  // the shape of each element of an array; null: none kept
    // An array whose elements are handed to the parse's ElementSink one by one, each as soon as it
    // is complete, and then dropped: the array is kept empty, so a long one costs the memory of
    // one element.
    bool streamed = false;
};

// Receives the elements of streamed arrays.
class ElementSink {
public:
    virtual ~ElementSink() = default;
    // A streamed array begins; another one may follow (a repeated key), whose elements replace these.
    virtual void begin() = 0;
    // Its element at `index`, complete, kept with the array's element shape; `document` is what is
    // kept of the whole document so far. May throw to end the parse at once.
    virtual void element(std::size_t index, nlohmann::json& value, const nlohmann::json& document) = 0;
};

// Throws what nlohmann::json::parse throws for text that is not one JSON value. With a shape,
// only what it names is kept; without, the whole document. Streamed arrays need a sink. Bytes
// held by no one else (QByteArray::isDetached) are given back to the system as they are parsed,
// in whole pages: what is left of them afterwards is not to be read.
nlohmann::json parse(QByteArray bytes, const Shape* kept = nullptr, ElementSink* sink = nullptr);

// The exact value of a JSON number's text when it is a whole number that fits a signed 64-bit
// integer, else nullopt.
std::optional<std::int64_t> wholeNumber(const std::string& text);

}  // namespace spinforge::Json
