#pragma once

#include "platform/Pasteboard.h"

#include <QObject>

namespace quillpost {

// The pasteboard over QClipboard: the CLIPBOARD selection and, where the platform has one, the
// PRIMARY selection. Qt serves both from this process's event loop and hands the clipboard to a
// clipboard manager at exit.
//
// Changes are counted from QClipboard::changed (on X11 Qt learns of other programs' copies
// through XFixes), except the one that our own setText() reports while it runs: that one is
// counted by setText() itself. Create it after the application object.
class ClipboardPasteboard final : public QObject, public Pasteboard
{
    Q_OBJECT

public:
    explicit ClipboardPasteboard(QObject *parent = nullptr);

    void setText(const QString &text) override;
    void setSelectionText(const QString &text) override;
    quint64 changeCount() const override { return m_changes; }

private:
    quint64 m_changes = 0;
    bool m_settingText = false;
};

} // namespace quillpost
