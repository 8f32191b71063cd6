// What the user reads of the service's texts: on one line, in the order written, and short.
#include "records/UserText.h"

#include <gtest/gtest.h>

using spinforge::UserText::shown;

namespace {

TEST(UserText, BreaksAndDirectionMarksAreEscapedAndLongTextsCutInTheMiddle) {
    struct Case {
        QString text, shown;
    };
    const QString million = QStringLiteral("Integrity check failed for ") + QString(1'000'000, u'x') + QStringLiteral(" end.mp3.");
    const Case cases[] = {
        {QStringLiteral("Integrity check failed for b.mp3."), QStringLiteral("Integrity check failed for b.mp3.")},
        {QStringLiteral("a\nb\r\tc\u0001d\u007fe\u0085f\u2028g\u2029h\u202ei\u2066j"),
         QStringLiteral("a\\nb\\r\\tc\\u0001d\\u007fe\\u0085f\\u2028g\\u2029h\\u202ei\\u2066j")},
        // The start and the end stay: ours, around the service's part.
        {million, QStringLiteral("Integrity check failed for ") + QString(132, u'x') + QChar(0x2026) + QString(71, u'x') +
                      QStringLiteral(" end.mp3.")},
        // A cut never splits a character written as two.
        {QString(300, u'x').replace(158, 1, QStringLiteral("\U0001F3A7")),
         QString(158, u'x') + QChar(0x2026) + QString(80, u'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.left(80).toStdString());
        EXPECT_EQ(shown(c.text), c.shown);
        EXPECT_EQ(shown(shown(c.text)), c.shown) << "shown twice";
    }
}

}  // namespace
