#include "support/pack_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "archive/pack_writer.h"
#include "support/memory_file.h"

ErrorCode WritePack(CPackWriter* writer, const PackMembers& members) {
  std::vector<std::pair<std::string, std::string>> sorted;
  for (const auto& member : members) {
    std::string name = member.first;
    PackNormalizeName(&name[0]);
    sorted.emplace_back(name, member.second);
  }
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    return PackCompareNames(a.first.c_str(), b.first.c_str()) < 0;
  });
  std::vector<const char*> names;
  std::vector<u32> sizes;
  for (const auto& member : sorted) {
    names.push_back(member.first.c_str());
    sizes.push_back(static_cast<u32>(member.second.size()));
  }
  ErrorCode error = writer->Begin(static_cast<u32>(names.size()), names.data(), sizes.data());
  for (auto member = sorted.begin(); !error && member != sorted.end(); ++member)
    error = writer->Write(member->second.data(), static_cast<u32>(member->second.size()));
  return error ? error : writer->Finish();
}

std::vector<u8> BuildPack(const PackMembers& members) {
  MemoryFile out;
  CPackWriter writer(&out);
  EXPECT_EQ(WritePack(&writer, members), nullptr) << writer.Problem();
  return out.bytes;
}

u32 PackEntryOffset(const std::vector<u8>& pack, u32 index) {
  u32 offset = 40;
  for (u32 i = 0; i < index; ++i) offset += 2 + pack[offset] - pack[offset + 1] + 8;
  return offset;
}
