#include "shell/MenuText.h"

namespace spinforge::MenuText {

QString forMenu(const QString& text) {
    QString title = text;
    return title.replace(u'&', QStringLiteral("&&"));
}

QString shownBy(const QString& title) {
    QString shown;
    shown.reserve(title.size());
    for (qsizetype i = 0; i < title.size(); ++i) {
        if (title[i] == u'&' && i + 1 < title.size()) ++i;
        shown += title[i];
    }
    return shown;
}

QString forExportedMenu(const QString& text) {
    QString label = text;
    return label.replace(u'_', QStringLiteral("__"));
}

}  // namespace spinforge::MenuText
