// Patch.ini as the patcher will read it: the same INI table, and the keys of section "str" that
// the patcher looks up. A patch whose Patch.ini lacks them shows empty messages, or (no "ver")
// refuses every installed game, and nobody would know until it runs.
#pragma once

#include <string>

// The --allow-missing-keys option's line for build's help.
extern const char kAllowMissingKeysHelp[];

// Reports every key that is missing (or a version the patcher reads as 0) and returns
// kExitFailure; with `allowMissing` they are only warnings. A file that cannot be read fails.
int CheckPatchIni(const std::string& path, bool allowMissing);
