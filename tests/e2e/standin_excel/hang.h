// An Excel that never answers: stuck behind an invisible first-run, sign-in or activation
// dialog, it neither hands out its object nor returns from a property.
#pragma once

#include <string_view>

namespace standin {

// Blocks the calling thread, and so every call COM brings to this server, when the test asked
// for a hang at `where`. Bounded, so that a server left by a test that died ends by itself.
void hang_if_asked(std::wstring_view where);

} // namespace standin
