#pragma once

#include "host/Outcome.h"

#include <string>

namespace qx {

// As Windows compares file names: without regard to case, by the system's own upper-case rules,
// letter by letter in every script. Nothing is resolved.
bool SameFileNames(const std::wstring& first, const std::wstring& second);

// The path by its long names, separators as Windows writes them, no trailing separator (a
// drive's root keeps its own): where the whole path does not exist, the longest leading part
// that does, by its long names, and the rest as given.
std::wstring LongFormOf(const std::wstring& path);

// Whether `location` (both already long) is `folder` or, `withSubfolders`, a folder above it.
bool LongLocationCovers(const std::wstring& location, const std::wstring& folder,
                        bool withSubfolders);

// The same for a trusted location as a policy writes it, and a folder: both expanded (%NAME%)
// and made long first. Fails (ERROR_ENVVAR_NOT_FOUND) when either names an environment variable
// this run does not have, or when it cannot be expanded.
Outcome<bool> LocationCovers(const std::wstring& location, const std::wstring& folder,
                             bool withSubfolders);

} // namespace qx
