#pragma once

#include <QString>
#include <QtGlobal>

namespace quillpost {

// The desktop's plain-text clipboard.
//
// After setText(text) the clipboard holds exactly `text` as plain text, replacing whatever it
// held. setSelectionText(text) does the same for the primary selection (the text that a middle
// click or Shift+Insert pastes in X11 terminals); it may do nothing where no such selection
// exists. Both are called on the GUI thread and never block it.
//
// changeCount() numbers the changes of the clipboard (not of the primary selection): each
// setText() adds exactly one before it returns, and every other change (another program's copy,
// or this program's writes that bypass this seam) adds at least one once the event loop has
// learnt of it. The contents are never read back: reading another program's clipboard waits on
// that program.
//
// Deliveries put their text back on the clipboard just before their keystroke, so that each of
// two deliveries in quick succession pastes its own text. They must never put it back over
// something newer that anyone else put there. For that they record the changes they make
// (recordDeliveryChange() right after their setText()), and a delivery's delayed job asks
// onlyDeliveriesChangedSince(its own change) before it restores its text.
class Pasteboard
{
public:
    virtual ~Pasteboard() = default;
    virtual void setText(const QString &text) = 0;
    virtual void setSelectionText(const QString &text) = 0;
    virtual quint64 changeCount() const = 0;

    // Records the latest change (changeCount()) as one made by a delivery; every change since
    // the last recorded one was made by someone else.
    void recordDeliveryChange()
    {
        const quint64 latest = changeCount();
        if (latest > m_lastDeliveryChange + 1)
            m_lastOtherChange = latest - 1;
        m_lastDeliveryChange = latest;
    }

    // True when every change after `change` was made by a delivery (also when there was none).
    bool onlyDeliveriesChangedSince(quint64 change) const
    {
        const quint64 latest = changeCount();
        const quint64 lastOther = latest > m_lastDeliveryChange ? latest : m_lastOtherChange;
        return lastOther <= change;
    }

private:
    quint64 m_lastDeliveryChange = 0;
    // The latest change known to be someone else's (0: none).
    quint64 m_lastOtherChange = 0;
};

} // namespace quillpost
