#include "coded_members.h"

#include <cstdio>
#include <cstring>

#include "archive/pack_writer.h"
#include "archive/payload_bounds.h"
#include "archive/tarn_format.h"
#include "commands.h"
#include "core/crc32.h"
#include "messages.h"
#include "names.h"
#include "os.h"
#include "tree.h"

namespace {

u32 Little(const u8* p, u32 bytes) {
  u32 value = 0;
  for (u32 i = 0; i < bytes; ++i) value |= static_cast<u32>(p[i]) << (8 * i);
  return value;
}

std::string Hex(u32 value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Why `path` (relative to FILES\) could not be a FILES\ member, or null.
const char* BadFilePath(const std::string& path) {
  if (const char* fault = CheckMemberPath(path, UnsafeComponent)) return fault;
  if (path.size() + sizeof kFilesRoot - 1 > kMaxMemberName) return "is too long for a pack";
  return PackCheckName((kFilesRoot + path).c_str());
}

CFile* OpenMember(CFileService* service, const std::string& member, ErrorCode* error) {
  *error = nullptr;
  CFile* file = service->Open(member.c_str(), OPEN_READ, error);
  if (!file && !*error) *error = ERR_OPENFAIL;
  return file;
}

}  // namespace

MemberRoot RootOf(const std::string& member, std::string* path) {
  const struct {
    const char* prefix;
    MemberRoot root;
  } kRoots[] = {{kFilesRoot, MemberRoot::kFiles},
                {kCodedRoot, MemberRoot::kCoded},
                {kSolidRoot, MemberRoot::kSolid}};
  for (const auto& root : kRoots) {
    if (StartsWith(member, root.prefix)) {
      *path = member.substr(std::strlen(root.prefix));
      return root.root;
    }
  }
  *path = member;
  return MemberRoot::kOther;
}

void AppendLittleEndian(std::vector<u8>* out, u32 value, u32 bytes) {
  for (u32 i = 0; i < bytes; ++i) out->push_back(static_cast<u8>(value >> (8 * i)));
}

std::string SolidMemberName(u32 group) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04u", group);
  return kSolidRoot + std::string(digits);
}

void AppendSolidEntry(std::vector<u8>* table, const std::string& name, u32 size, u32 crc) {
  AppendLittleEndian(table, size, 4);
  AppendLittleEndian(table, crc, 4);
  AppendLittleEndian(table, static_cast<u32>(name.size()), 2);
  table->insert(table->end(), name.begin(), name.end());
}

std::string ParseSolidOutput(const std::vector<u8>& output, std::vector<SolidEntry>* entries) {
  entries->clear();
  const u64 size = output.size();
  if (size < kSolidCountBytes) return "has a table cut short";
  const u32 count = Little(output.data(), kSolidCountBytes);
  u64 at = kSolidCountBytes, bytes = 0;
  for (u32 i = 0; i < count; ++i) {
    if (at + kSolidEntryHead > size) return "has a table cut short";
    SolidEntry entry;
    entry.size = Little(&output[at], 4);
    entry.crc = Little(&output[at + 4], 4);
    const u32 length = Little(&output[at + 8], 2);
    at += kSolidEntryHead;
    if (at + length > size) return "has a table cut short";
    entry.name.assign(reinterpret_cast<const char*>(&output[at]), length);
    at += length;
    if (const char* fault = BadFilePath(entry.name))
      return "holds the file '" + entry.name + "' whose name " + fault;
    bytes += entry.size;
    entries->push_back(entry);
  }
  if (at + bytes != size) {
    return "has a table of " + std::to_string(bytes) + " bytes of files before " +
           std::to_string(size - at) + " bytes";
  }
  for (SolidEntry& entry : *entries) {
    entry.offset = static_cast<u32>(at);
    const u32 crc = Crc32Update(0, output.data() + at, entry.size);
    if (crc != entry.crc) {
      return "holds the file " + entry.name + " with the CRC-32 " + Hex(crc) + ", its table says " +
             Hex(entry.crc);
    }
    at += entry.size;
  }
  return std::string();
}

ErrorCode MemorySink::Write(const void* buffer, u32 size, u32* done) {
  if (done) *done = 0;
  if (size > limit_ - bytes.size()) return ERR_OUTOFRANGE;
  const u8* from = static_cast<const u8*>(buffer);
  bytes.insert(bytes.end(), from, from + size);
  if (done) *done = size;
  return nullptr;
}

int BaseTree::Index(const std::string& root, const NameCoding& names) {
  files_.clear();
  const char* rest = "";
  CFileService* disk = ResolvePath(&rest);
  if (!disk) return ReportFault(root, "no disk service");
  std::map<std::string, std::string> folders;  // stored forms of the folders' relative paths
  WalkResult walk = WalkTree(disk, root, kDiskSeparator, [&](const WalkEntry& entry) -> int {
    std::string stored;
    // A name the pack could not hold cannot be the source of any member: it is passed by.
    if (!StoredComponent(names, entry.name, &stored).empty()) return kExitOk;
    const size_t cut = entry.relative.rfind('\\');
    if (cut != std::string::npos) {
      auto folder = folders.find(entry.relative.substr(0, cut));
      if (folder == folders.end()) return kExitOk;
      stored = folder->second + '\\' + stored;
    }
    std::vector<char> upper(stored.begin(), stored.end());
    upper.push_back(0);
    PackNormalizeName(upper.data());
    if (entry.IsDirectory()) {
      folders[entry.relative] = upper.data();
    } else {
      files_.emplace(upper.data(), entry.full);
    }
    return kExitOk;
  });
  if (walk.error) return ReportError(walk.failedDirectory, "cannot list the folder", walk.error);
  return walk.stopped;
}

const std::string* BaseTree::Find(const std::string& path) const {
  auto found = files_.find(path);
  return found == files_.end() ? nullptr : &found->second;
}

std::string PatchMembers::Claim(const std::string& path, const std::string& member) {
  auto placed = owners_.emplace(path, member);
  if (placed.second) return std::string();
  return "the file " + path + " is given twice, by " + placed.first->second + " and by " + member;
}

std::string PatchMembers::AddCoded(CFileService* service, const std::string& member,
                                   const std::string& path, const BaseTree* base) {
  CodedMember coded{member, path, {}};
  ErrorCode error = nullptr;
  CFile* file = OpenMember(service, member, &error);
  if (!file) return "member " + member + " cannot be opened: " + DescribeError(error);
  u8 head[kTarnHeaderSize];
  error = file->ReadAt(head, 0, sizeof head, nullptr);
  if (file->GetSize() < sizeof head) error = ERR_INVALIDFORMAT;
  if (!error) error = TarnReadHeader(head, sizeof head, &coded.header);
  delete file;
  if (error) return "member " + member + " is not a coded stream: " + DescribeError(error);
  if (coded.header.windowLog > kCodedMaxWindowLog)
    return "member " + member + " needs a window larger than 16 MiB";
  if (base && coded.header.dictionarySize) {
    std::string fault;
    delete OpenDeltaSource(*base, coded, &fault);
    if (!fault.empty()) return fault;
  }
  coded_.push_back(coded);
  return Claim(path, member);
}

std::string PatchMembers::AddSolid(CFileService* service, const std::string& member) {
  std::vector<u8> output;
  SolidGroup group{member, 0, {}};
  std::string fault = DecodeSolidGroup(service, member, &output, &group.entries);
  if (!fault.empty()) return fault;
  CFile* file = service->Open(member.c_str(), OPEN_READ, nullptr);
  group.codedSize = file ? file->GetSize() : 0;
  delete file;
  for (const SolidEntry& entry : group.entries) {
    fault = Claim(entry.name, member);
    if (!fault.empty()) return fault;
  }
  solid_.push_back(group);
  return std::string();
}

std::string PatchMembers::Scan(CFileService* service, const BaseTree* base) {
  std::string fault;
  WalkResult walk = WalkTree(service, std::string(), '\\', [&](const WalkEntry& entry) -> int {
    std::string path;
    const MemberRoot root = RootOf(entry.relative, &path);
    if (entry.IsDirectory() || root == MemberRoot::kOther) return kExitOk;
    if (root == MemberRoot::kFiles) {
      fault = Claim(path, entry.relative);
    } else if (const char* bad = BadFilePath(path)) {
      fault = "member " + entry.relative + " has a name that " + bad;
    } else if (root == MemberRoot::kCoded) {
      fault = AddCoded(service, entry.relative, path, base);
    } else if (path.size() != 4 || path.find_first_not_of("0123456789") != std::string::npos ||
               path == "0000") {
      fault = "member " + entry.relative + " is not named SOLID\\0001 to SOLID\\9999";
    } else {
      fault = AddSolid(service, entry.relative);
    }
    return fault.empty() ? kExitOk : kExitFailure;
  });
  if (walk.error && fault.empty())
    fault = "the directory cannot be listed: " + DescribeError(walk.error);
  return fault;
}

const CodedMember* PatchMembers::Coded(const std::string& member) const {
  for (const CodedMember& coded : coded_) {
    if (coded.member == member) return &coded;
  }
  return nullptr;
}

const SolidGroup* PatchMembers::Solid(const std::string& member) const {
  for (const SolidGroup& group : solid_) {
    if (group.member == member) return &group;
  }
  return nullptr;
}

const CodedMember* PatchMembers::FirstDelta() const {
  for (const CodedMember& coded : coded_) {
    if (coded.header.dictionarySize) return &coded;
  }
  return nullptr;
}

int IndexBaseOption(const char* command, const Args& args, const NameCoding& names, BaseTree* tree,
                    const BaseTree** base) {
  const char* folder = args.Value("base");
  if (!folder) return kExitOk;
  if (!*folder) return UsageError(command, "--base needs the folder of the installed game");
  *base = tree;
  return tree->Index(folder, names);
}

CFile* OpenDeltaSource(const BaseTree& base, const CodedMember& coded, std::string* fault) {
  const TarnHeader& header = coded.header;
  const std::string* disk = base.Find(coded.path);
  if (!disk) {
    *fault = "member " + coded.member + " is a delta, and the base holds no " + coded.path;
    return nullptr;
  }
  ErrorCode error = nullptr;
  CFile* file = FileServiceTable.Open(disk->c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
  if (!file) {
    *fault = *disk + " cannot be opened: " + DescribeError(error ? error : ERR_OPENFAIL);
    return nullptr;
  }
  u64 size = file->GetSize();
  FileSize64(file, &size);
  u32 crc = 0;
  const ErrorCode readError =
      size == header.dictionarySize ? PayloadCrc(file, 0, header.dictionarySize, &crc) : nullptr;
  if (size != header.dictionarySize || readError || crc != header.dictionaryCrc) {
    *fault = readError ? *disk + " cannot be read: " + DescribeError(readError)
                       : "member " + coded.member + " is a delta against a " + coded.path + " of " +
                             std::to_string(header.dictionarySize) + " bytes with the CRC-32 " +
                             Hex(header.dictionaryCrc) + "; " + *disk + " is another version";
    delete file;
    return nullptr;
  }
  return file;
}

ErrorCode DecodeCodedMember(CFileService* service, const CodedMember& coded, CFile* source,
                            CFile* out) {
  ErrorCode error = nullptr;
  CFile* member = OpenMember(service, coded.member, &error);
  if (!member) return error;
  error = TarnDecodeFile(member, 0, member->GetSize(), source, out);
  delete member;
  return error;
}

std::string DecodeSolidGroup(CFileService* service, const std::string& member,
                             std::vector<u8>* output, std::vector<SolidEntry>* entries) {
  ErrorCode error = nullptr;
  CFile* file = OpenMember(service, member, &error);
  if (!file) return "member " + member + " cannot be opened: " + DescribeError(error);
  u8 head[kTarnHeaderSize];
  TarnHeader header{};
  error = file->GetSize() < sizeof head ? ERR_INVALIDFORMAT : nullptr;
  if (!error) error = file->ReadAt(head, 0, sizeof head, nullptr);
  if (!error) error = TarnReadHeader(head, sizeof head, &header);
  std::string fault;
  if (error) {
    fault = "is not a coded stream: " + DescribeError(error);
  } else if (header.dictionarySize) {
    fault = "names a dictionary, which a group cannot have";
  } else if (header.outputSize > kSolidMaxOutput) {
    fault =
        "would give " + std::to_string(header.outputSize) + " bytes, more than a group's 64 MiB";
  } else {
    MemorySink sink(header.outputSize);
    error = TarnDecodeFile(file, 0, file->GetSize(), nullptr, &sink);
    if (error) fault = "is damaged: " + DescribeError(error);
    output->swap(sink.bytes);
  }
  delete file;
  if (fault.empty()) fault = ParseSolidOutput(*output, entries);
  return fault.empty() ? fault : "member " + member + " " + fault;
}
