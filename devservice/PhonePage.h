#pragma once

#include <string>

namespace quillpost::devservice {

// The self-contained page served at "/" that plays the phone: sign in, write and send clips.
const std::string &phonePage();

} // namespace quillpost::devservice
