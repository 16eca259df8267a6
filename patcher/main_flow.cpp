#include <new>

#include "archive/ini_table.h"
#include "core/pools.h"
#include "file/file_service.h"
#include "patcher/patcher_state.h"

namespace {

const char kGameMutex[] = "Vorn_Ashen_Banner_Ver_01";
constexpr u32 kMountCapacity = 8;

}  // namespace

void ShutDownFileLayer() {
  g_platform.UnmountRootService();
  // Destroys the pack with the stream and window beneath it; the own file goes after them.
  ShutdownMountTable();
  delete OwnFile;
  OwnFile = nullptr;
}

int RunPatcher(uintptr_t instance) {
  Instance = instance;
  InitMountTable(kMountCapacity);
  g_platform.MountRootService();

  OpenPayload();

  CPtrPool* nodes = new (std::nothrow) CSizedPtrPool;
  PatchIni = nodes ? new (std::nothrow) CIniTable(20, 500, nodes, 1) : nullptr;
  if (!PatchIni) delete nodes;
  if (!PatchIni || PatchIni->LoadFile("DATA\\Patch.ini")) {
    ShutDownFileLayer();
    return -1;
  }

  if (!ConfirmStart()) {
    ShutDownFileLayer();
    return -1;
  }

  u32 existed = 0;
  g_platform.CreateNamedMutex(kGameMutex, &existed);
  if (existed) FailWithMessage("vornrun", 0);

  if (!ReadInstallPath()) FailWithMessage("notvorn", 0);
  CheckInstallation();
  RunCopyWithProgress();

  if (CopyIncomplete) {
    ShowPatchMessage("errnotcomplete", MB_TYPE_OK, 0);
  } else {
    WriteGameVersion();
    InstallClientShortcut();
    OfferGameSpyInstall();
    ShowPatchMessage("done", MB_TYPE_OK, 0);
  }
  ShutDownFileLayer();
  return 0;
}
