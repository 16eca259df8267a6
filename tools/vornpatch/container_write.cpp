#include "container_write.h"

#include "archive/file_window.h"
#include "commands.h"
#include "messages.h"

CLzssFile* CreateContainerAt(CFile* disk, u32 offset, u32 blockSize, const Coding& coding,
                             const std::string& name, u8 spare) {
  ErrorCode error = nullptr;
  {
    CFileWindow head(disk, offset, 0, 0);
    error = CLzssFile::CreateContainer(&head, blockSize, coding.method, spare);
  }
  if (error) {
    ReportError(name, "cannot write the container header", error);
    return nullptr;
  }
  // The window's size is taken now, when the file ends with the empty container's header: the
  // stream takes it as the end of its stored blocks.
  CFileWindow* window = new (std::nothrow) CFileWindow(disk, offset, CFileWindow::kToEnd, 0);
  CLzssFile* container = window ? new (std::nothrow) CLzssFile(window, 1) : nullptr;
  if (!container) {
    delete window;
    ReportError(name, "cannot open the container", ERR_NOTENOUGHMEM);
    return nullptr;
  }
  if (!container->isOpen) {
    delete container;
    ReportFault(name, "the container just written cannot be opened");
    return nullptr;
  }
  container->SetEncoder(coding.encoder);
  return container;
}

ErrorCode Presize(CLzssFile* container, u32 length) {
  if (length <= container->GetSize()) return nullptr;
  ErrorCode error = container->SetLength(length);
  if (!error) error = container->Flush();
  if (!error) error = container->Seek(0, SEEK_FROM_START);
  return error;
}

int FinishContainer(CLzssFile* container, CFile* disk, u32 offset, const std::string& name) {
  ErrorCode error = container->Flush();
  const u32 end = container->BlockOffset(container->BlockCount());
  delete container;
  if (error) return ReportError(name, "cannot store the container's last blocks", error);
  error = disk->Seek(static_cast<i32>(offset + end), SEEK_FROM_START);
  if (!error) error = disk->Truncate();
  if (error) return ReportError(name, "cannot set the end of the file", error);
  return kExitOk;
}

int EndContainer(int status, CLzssFile* container, CFile* disk, u32 offset,
                 const std::string& name) {
  if (!container) return status;
  if (status) {
    delete container;
    return status;
  }
  return FinishContainer(container, disk, offset, name);
}
