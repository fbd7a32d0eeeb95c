#pragma once

#include "platform/Pasteboard.h"

namespace quillpost {

// The pasteboard over QClipboard: the CLIPBOARD selection and, where the platform has one, the
// PRIMARY selection. Qt serves both from this process's event loop and hands the clipboard to a
// clipboard manager at exit.
class ClipboardPasteboard final : public Pasteboard
{
public:
    void setText(const QString &text) override;
    void setSelectionText(const QString &text) override;
};

} // namespace quillpost
