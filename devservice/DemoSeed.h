#pragma once

#include "Store.h"

namespace quillpost::devservice {

inline constexpr const char *demoPhone = "13800000000";

// The demo data: the demo account (phone 13800000000, "演示用户", with a picture), two
// colleagues, a space the demo user may edit and one it may only read, and a dozen clips.
SeedData demoSeed();

} // namespace quillpost::devservice
