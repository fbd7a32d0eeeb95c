#pragma once

#include "delivery/PasteDelivery.h"
#include "platform/Accessibility.h"
#include "platform/Keystroke.h"

#include <QString>

#include <optional>

namespace quillpost {

// A status line's text with the fuller explanation that its tooltip and accessible description
// give. The text is short enough for the receiver panel's status line at its narrowest (330 px
// window); the explanation says what happened and what the user can do.
struct StatusText
{
    QString text;
    QString explanation;

    friend bool operator==(const StatusText &, const StatusText &) = default;
};

// Every status text of a delivery that did not type, in one place.

// Key presses may not be sent (the delivery stopped before activating anything).
StatusText notTrustedStatus(MissingTrust reason, const PasteDeliveryOptions &options);
// A scheduled keystroke typed nothing; nothing for Posted (the caller says what succeeded) and
// Superseded (a newer delivery reports for itself).
std::optional<StatusText> notTypedStatus(KeystrokeResult result, const PasteDeliveryOptions &options);
// The panel was pinned on a desktop that cannot keep it above other windows.
StatusText pinnedWithoutKeepAboveStatus();

// Every text above, for checks that each fits where it is shown.
QList<StatusText> allDeliveryStatusTexts(const PasteDeliveryOptions &options);

} // namespace quillpost
