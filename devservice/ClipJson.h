#pragma once

#include "Store.h"

#include <string>

namespace quillpost::devservice {

// Clips as JSON, written by hand: the clip list is the reply that polling clients ask for every
// few seconds. Stored texts are valid UTF-8 (every input is checked).

// Appends a clip object with its twelve keys in the order of the record.
void appendClip(std::string &out, const ClipView &clip);

// {"clip": ...}
std::string clipEnvelope(const ClipView &clip);

} // namespace quillpost::devservice
