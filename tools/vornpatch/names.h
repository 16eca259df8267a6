// Rules for the names of pack members, where they come from the disk (build, pack) and where
// they go back to it (extract).
#pragma once

#include <string>

// For extract: a component that would leave the destination folder or address something other
// than a plain file or folder inside it ("", ".", "..", separators, a drive colon, control
// characters; on Windows also device names and trailing dots or spaces). Returns the reason, or
// null when the component is safe.
const char* UnsafeComponent(const std::string& component);

// For build and pack: a component that the patcher could not recreate on Windows (all of the
// above plus the characters < > " | ? *). Returns the reason, or null.
const char* UnportableComponent(const std::string& component);

// Checks every '\'-separated component of a relative member name with `check`.
const char* CheckMemberPath(const std::string& path, const char* (*check)(const std::string&));

// Longest full member name a pack stores.
constexpr size_t kMaxMemberName = 255;
