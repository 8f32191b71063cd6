// The launch agent's property list around any bundle path: the text is well-formed XML, and read
// back it holds exactly its own keys and values, nothing the path holds can close an element or
// add one, and the bundle path comes back unchanged whenever XML can carry it at all.
//
// Input: the bundle path as UTF-8.
#include "fuzz/FuzzSupport.h"
#include "shell/LoginAgent.h"

#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>

using namespace spinforge;
using spinforge::fuzz::shown;
using spinforge::fuzz::violated;

namespace {

// The characters an XML 1.0 document may hold (its Char production); no escape brings in others.
bool fitsXml(const QString& text) {
    const QList<uint> characters = text.toUcs4();
    return std::all_of(characters.begin(), characters.end(), [](uint c) {
        return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
               (c >= 0x10000 && c <= 0x10FFFF);
    });
}

// The text of every <key> and <string> in document order, or the reader's complaint.
QStringList keysAndStrings(const QString& document, QString& error) {
    QXmlStreamReader reader(document);
    QStringList texts;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && (reader.name() == u"key" || reader.name() == u"string"))
            texts << reader.readElementText();
    }
    if (reader.hasError())
        error = QStringLiteral("line %1, column %2: %3").arg(reader.lineNumber()).arg(reader.columnNumber()).arg(reader.errorString());
    return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString bundle = QString::fromUtf8(spinforge::fuzz::bytesOf(data, size));
    const QString document = LoginAgent::propertyList(bundle);
    QString error;
    QStringList texts = keysAndStrings(document, error);
    if (!error.isEmpty()) violated("the property list is well-formed XML", shown(bundle) + QStringLiteral(": ") + error);

    constexpr qsizetype bundleAt = 4;
    const QStringList expected = {
        QStringLiteral("Label"),     QStringLiteral("com.spinforge.mac"),
        QStringLiteral("ProgramArguments"), QStringLiteral("/usr/bin/open"), bundle,
        QStringLiteral("RunAtLoad"), QStringLiteral("ProcessType"), QStringLiteral("Interactive"),
    };
    const bool roundTrips = fitsXml(bundle);
    if (!roundTrips && texts.size() == expected.size()) texts[bundleAt] = bundle;  // only the rest is compared
    if (texts != expected)
        violated(roundTrips ? "the property list reads back as its own keys and values, the bundle path unchanged"
                            : "the property list reads back as its own keys and values",
                 shown(bundle) + QStringLiteral(" -> ") + shown(texts.join(u'|')));
    return 0;
}
