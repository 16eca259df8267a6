// The patcher's process-wide state and the stages of its main sequence.
#pragma once

#include "core/types.h"
#include "patcher/platform.h"

class CFile;
class CIniTable;

constexpr u32 kPathSize = 256;
constexpr u32 kTextBufferSize = 4095;

extern uintptr_t Instance;
extern CIniTable* PatchIni;
extern char TextBuffer[kTextBufferSize];
extern char InstallPath[kPathSize];
extern u8 CopyIncomplete;
extern PlatformWindow ProgressWindow;
extern u32 ShortcutsMade;
// The patcher's own executable file, open while the payload is mounted.
extern CFile* OwnFile;

// Texts and messages.
const char* GetPatchText(const char* key);
int ShowPatchMessage(const char* key, u32 type, PlatformWindow owner);
[[noreturn]] void FailWithMessage(const char* key, PlatformWindow owner);
// ASCII case-insensitive equality.
bool SameText(const char* a, const char* b);
// Appends text to the string in buffer (size bytes); false, with the string unchanged, when it
// would not fit.
bool AppendText(char* buffer, u32 size, const char* text);
// A version text of the patch ("ver", "vermin"): hexadecimal, as the runtime's strtol reads it.
u32 ParseVersionText(const char* text);

// The stages, in the order of the main sequence.
u32 OpenPayload();
bool ConfirmStart();
u32 ReadInstallPath();
u32 CheckInstallation();
u32 RunCopyWithProgress();
void WriteGameVersion();
void InstallClientShortcut();
void OfferGameSpyInstall();

// The main sequence; returns the exit code (0 or -1).
int RunPatcher(uintptr_t instance);
// Unmounts everything and closes the own file (the end of the main sequence).
void ShutDownFileLayer();

// Copy worker parts, exposed for tests.
uintptr_t ProgressDialogProc(PlatformWindow window, u32 message, uintptr_t wParam,
                             uintptr_t lParam);
u32 CopyThreadProc(void* parameter);
// Walks the pack folder and its subfolders, applying `apply` to each member, with the copy
// question for each member it fails.
void CopyPackTree(const char* directory, u32 (*apply)(const char* member));
// The whole copy: FILES, then the coded members, then the solid groups.
void CopyPayload();
u32 CopyPackFile(const char* source);
void MakeTargetFolder(const char* directory);
// Is this pack path's part below "DATA\Files" a safe relative path inside the game folder?
bool IsSafeMemberPath(const char* relative);

// Final steps parts.
void FindGameMenuFolders(const char* folder);
void CreateClientShortcut(const char* folder);

// Fixed names.
inline constexpr char kGameKey[] = "SOFTWARE\\Kavelunde\\Vorn";
inline constexpr char kPayloadRoot[] = "DATA\\Files";
inline constexpr char kCodedRoot[] = "DATA\\CODED";
inline constexpr char kSolidRoot[] = "DATA\\SOLID";
