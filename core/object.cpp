#include "core/object.h"

namespace {
const char kNameCObject[] = "CObject";
const char kNameCFile[] = "CFile";
const char kNameCFileService[] = "CFileService";
const char kNameCHpfsFile[] = "CHPFSFile";
const char kNameCHpfs[] = "CHPFS";
const char kNameCLzssFile[] = "CLzssFile";
const char kNameCPtrPool[] = "CPtrPool";
const char kNameCHandlePool[] = "CHandlePool";
const char kNameCPackFs[] = "CPackFS";
const char kNameCHpFile[] = "CHPFile";
const char kNameCFileHandlePool[] = "CFileHandlePool";
const char kNameCBfhp[] = "CBFHP";
}  // namespace

const ClassName CLASS_COBJECT = kNameCObject;
const ClassName CLASS_CFILE = kNameCFile;
const ClassName CLASS_CFILESERVICE = kNameCFileService;
const ClassName CLASS_CHPFSFILE = kNameCHpfsFile;
const ClassName CLASS_CHPFS = kNameCHpfs;
const ClassName CLASS_CLZSSFILE = kNameCLzssFile;
const ClassName CLASS_CPTRPOOL = kNameCPtrPool;
const ClassName CLASS_CHANDLEPOOL = kNameCHandlePool;
const ClassName CLASS_CPACKFS = kNameCPackFs;
const ClassName CLASS_CHPFILE = kNameCHpFile;
const ClassName CLASS_CFILEHANDLEPOOL = kNameCFileHandlePool;
const ClassName CLASS_CBFHP = kNameCBfhp;

ClassName CObject::GetClassName() const { return CLASS_COBJECT; }

void* CObject::CastTo(ClassName name) {
  return name == CLASS_COBJECT ? static_cast<void*>(this) : nullptr;
}
