// SPDX-License-Identifier: MIT
// The windowing framework's own texts through the message table: the key names of shortcut
// texts and the captions of standard message-box buttons, so that they follow the open
// dictionary like every other message.
#pragma once

#include "platform/res_string.h"

#include <QString>
#include <QTranslator>

namespace pix {

// A text of the message table as a QString (the table's texts are UTF-8).
QString LoadResQString(const TResString& string);

// Installed once at program start with QCoreApplication::installTranslator. Answers the
// framework's (context, source text) pairs it knows with their table entry while that entry
// is translated; for anything else it answers nothing, and the framework keeps its own text.
class TFrameworkTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override;
    bool isEmpty() const override { return false; }
};

}  // namespace pix
