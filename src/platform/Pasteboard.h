#pragma once

#include <QString>

namespace quillpost {

// The desktop's plain-text clipboard.
//
// After setText(text) the clipboard holds exactly `text` as plain text, replacing whatever it
// held. setSelectionText(text) does the same for the primary selection (the text that a middle
// click or Shift+Insert pastes in X11 terminals); it may do nothing where no such selection
// exists. Both are called on the GUI thread and never block it.
class Pasteboard
{
public:
    virtual ~Pasteboard() = default;
    virtual void setText(const QString &text) = 0;
    virtual void setSelectionText(const QString &text) = 0;
};

} // namespace quillpost
