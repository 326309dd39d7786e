#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/bounded_text.h"
#include "base/win32_owners.h"
#include "fsutil/file_system.h"
#include "fsutil/path_text.h"

namespace {
constexpr std::size_t kBufferSize = 4096;
// Far beyond any real descriptor (an ACL holds at most 64 KiB): a larger answer is not trusted.
constexpr DWORD kMaxDescriptorSize = 0x20000;

// A link is removed itself: RemoveDirectoryA removes a directory link or junction without
// touching what it leads to, DeleteFileA a file link.
void RemoveLink(const char* path, unsigned long attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryA(path);
  } else {
    DeleteFileA(path);
  }
}

// The launcher's token: its user's SID and whether it is elevated.
struct TokenIdentity {
  std::uint8_t sid[kMaxSidSize];
  std::size_t sidLength;
  bool elevated;
};

bool ReadTokenIdentity(TokenIdentity* me) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  // TOKEN_USER is a pointer followed by the SID it points to.
  union {
    TOKEN_USER user;
    std::uint8_t bytes[sizeof(TOKEN_USER) + kMaxSidSize];
  } info;
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, &info, sizeof info, &size)) return false;
  const auto* sid = static_cast<const std::uint8_t*>(info.user.User.Sid);
  const auto* end = info.bytes + sizeof info;
  if (sid < info.bytes || sid >= end) return false;
  me->sidLength = SidLength({sid, static_cast<std::size_t>(end - sid)});
  if (me->sidLength == 0) return false;
  std::memcpy(me->sid, sid, me->sidLength);
  TOKEN_ELEVATION elevation = {};
  me->elevated =
      GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
      elevation.TokenIsElevated;
  return true;
}
}  // namespace

unsigned long FileExists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

void CreateEntryDirectories(const char* path, std::size_t tailLength) {
  char work[kBufferSize] = {};
  if (!CopyBounded(work, path)) return;  // longer than the buffer: not a path this launcher makes
  const std::size_t length = std::strlen(work);
  const std::size_t tail = tailLength < length ? length - tailLength : 0;
  ForEachParentCut(work, length, [&work, tail](std::size_t cut) {
    if (cut < tail) return;
    const char separator = work[cut];
    work[cut] = '\0';
    CreateDirectoryA(work, nullptr);
    work[cut] = separator;
  });
}

void CreateParentDirectories(const char* path) { CreateEntryDirectories(path, std::strlen(path)); }

void DeleteTree(const char* path, int recursive) {
  const unsigned long attributes = FileExists(path);
  if (!attributes) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveLink(path, attributes);
    return;
  }
  if (recursive) {
    char pattern[kBufferSize] = {};
    if (CopyBounded(pattern, path)) {
      AppendBackslash(pattern, sizeof pattern);
      const std::size_t base = std::strlen(pattern);
      if (AppendBounded(pattern, "*")) {
        WIN32_FIND_DATAA found;
        UniqueFind listing(FindFirstFileA(pattern, &found));
        for (bool more = static_cast<bool>(listing); more;
             more = FindNextFileA(listing.get(), &found) != FALSE) {
          if (lstrcmpiA(found.cFileName, ".") == 0 || lstrcmpiA(found.cFileName, "..") == 0) {
            continue;
          }
          pattern[base] = '\0';
          if (!AppendBounded(pattern, found.cFileName)) continue;
          if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            RemoveLink(pattern, found.dwFileAttributes);
          } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DeleteTree(pattern, 1);
          } else {
            DeleteFileA(pattern);
          }
        }
      }
    }
  }
  RemoveDirectoryA(path);
}

bool IsReparsePoint(const char* path) {
  return (FileExists(path) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool LinkOnTheWay(const char* path, std::size_t tailLength) {
  char work[kBufferSize] = {};
  if (!CopyBounded(work, path)) return true;  // not a path this launcher makes: trust nothing
  const std::size_t length = std::strlen(work);
  if (tailLength > length) return true;
  const std::size_t tail = length - tailLength;
  bool link = false;
  ForEachParentCut(work, length, [&](std::size_t cut) {
    if (cut < tail || link) return;
    const char separator = work[cut];
    work[cut] = '\0';
    link = IsReparsePoint(work);
    work[cut] = separator;
  });
  return link;
}

DirVerdict JudgeDirectory(const char* path) {
  DirFacts facts;
  const unsigned long attributes = FileExists(path);
  facts.reparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (facts.reparsePoint || !facts.directory) return JudgeWorkDir(facts);
  TokenIdentity me;
  if (!ReadTokenIdentity(&me)) return DirVerdict::kUnreadable;
  facts.selfSid = {me.sid, me.sidLength};
  facts.elevated = me.elevated;
  constexpr SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityA(path, kWanted, nullptr, 0, &needed);
  if (needed == 0 || needed > kMaxDescriptorSize) return DirVerdict::kUnreadable;
  UniqueHeap buffer(std::malloc(needed));
  DWORD size = needed;
  if (!buffer || !GetFileSecurityA(path, kWanted, buffer.get(), size, &needed)) {
    return DirVerdict::kUnreadable;
  }
  facts.descriptor = {static_cast<const std::uint8_t*>(buffer.get()), size};
  return JudgeWorkDir(facts);
}

bool CreateProtectedDirectory(const char* path) {
  TokenIdentity me;
  if (!ReadTokenIdentity(&me)) return false;
  alignas(4) std::uint8_t descriptor[kWorkDirDescriptorMax];
  if (!BuildWorkDirDescriptor({me.sid, me.sidLength}, descriptor)) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  return CreateDirectoryA(path, &attributes) != FALSE;
}
