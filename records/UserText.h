#pragma once
// What the user reads in the status line, a notification or an alert. Those texts carry what the
// service sent (its error texts, the names of tracks), so they are made safe to show in one place:
// nothing in them can break a line, reorder what is shown, or make a notification of a megabyte.

#include <QString>

namespace spinforge::UserText {

// The longest text shown, in characters.
inline constexpr qsizetype kLongest = 240;

// `text` with each character that breaks a line (PathSafety::breaksLine) and each bidirectional
// control escaped ("\n", "\u2028", "\u202e"), and, past kLongest characters, cut in the middle with
// "…": the start and the end of a message are ours ("Integrity check failed for ", a full stop, the
// reason), and stay. Applied twice, it changes nothing more.
QString shown(const QString& text);

}  // namespace spinforge::UserText
