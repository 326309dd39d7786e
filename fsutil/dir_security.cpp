#include "fsutil/dir_security.h"

#include <algorithm>
#include <cstring>

namespace {
// Self-relative SECURITY_DESCRIPTOR: revision, padding, control, then the offsets of owner,
// group, SACL and DACL from its start.
constexpr std::size_t kDescriptorHeader = 20;
constexpr std::uint16_t kDaclPresent = 0x0004;
constexpr std::uint16_t kDaclProtected = 0x1000;
constexpr std::uint16_t kSelfRelative = 0x8000;
// ACL: revision, padding, size, ACE count, padding. ACE: type, flags, size, then by type.
constexpr std::size_t kAclHeader = 8;
constexpr std::size_t kAceHeader = 4;
constexpr std::uint8_t kAclRevision = 2;
constexpr std::uint8_t kAccessAllowed = 0x00;
constexpr std::uint8_t kAccessDenied = 0x01;
constexpr std::uint8_t kAccessAllowedCallback = 0x09;
constexpr std::uint8_t kAccessDeniedObject = 0x06;
constexpr std::uint8_t kAccessDeniedCallback = 0x0A;
constexpr std::uint8_t kAccessDeniedCallbackObject = 0x0C;
constexpr std::uint8_t kInheritOnly = 0x08;
constexpr std::uint8_t kObjectAndContainerInherit = 0x01 | 0x02;

// Rights on a directory that let their holder change what it holds or who may: add files or
// subdirectories, write extended attributes or attributes, delete children or the directory,
// change its DACL or owner, and the generic rights that map onto those.
constexpr std::uint32_t kAddFile = 0x0002;
constexpr std::uint32_t kAddSubdirectory = 0x0004;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kModifyingRights =
    kAddFile | kAddSubdirectory | 0x0010 /* write EA */ | 0x0040 /* delete child */ |
    0x0100 /* write attributes */ | 0x00010000 /* delete */ | 0x00040000 /* write DAC */ |
    0x00080000 /* write owner */ | kGenericAll | kGenericWrite;
constexpr std::uint32_t kFullControl = 0x001F01FF;  // FILE_ALL_ACCESS

// Well-known SIDs in their binary form.
constexpr std::uint8_t kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
constexpr std::uint8_t kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
// CREATOR OWNER and OWNER RIGHTS stand for whoever owns what the entry applies to: the
// directory's trusted owner, or the launcher for what it creates inside.
constexpr std::uint8_t kCreatorOwnerSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
constexpr std::uint8_t kOwnerRightsSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool SameSid(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// The SID at `offset` of `bytes`, or an empty span when it does not fit.
std::span<const std::uint8_t> SidAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset >= bytes.size()) return {};
  const std::size_t length = SidLength(bytes.subspan(offset));
  return bytes.subspan(offset, length);
}

enum class Principal { kSelf, kTrusted, kAdministrators, kOther };

Principal Classify(std::span<const std::uint8_t> sid, std::span<const std::uint8_t> self) {
  if (SameSid(sid, self)) return Principal::kSelf;
  if (SameSid(sid, kAdministratorsSid)) return Principal::kAdministrators;
  if (SameSid(sid, kSystemSid) || SameSid(sid, kCreatorOwnerSid) || SameSid(sid, kOwnerRightsSid)) {
    return Principal::kTrusted;
  }
  return Principal::kOther;
}

bool IsDenyType(std::uint8_t type) {
  return type == kAccessDenied || type == kAccessDeniedObject || type == kAccessDeniedCallback ||
         type == kAccessDeniedCallbackObject;
}
}  // namespace

std::size_t SidLength(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 8 || bytes[0] != 1 || bytes[1] > 15) return 0;
  const std::size_t length = 8 + 4 * std::size_t{bytes[1]};
  return length <= bytes.size() ? length : 0;
}

DirVerdict JudgeWorkDir(const DirFacts& facts) {
  if (facts.reparsePoint) return DirVerdict::kLink;
  if (!facts.directory) return DirVerdict::kNotDirectory;
  const std::span<const std::uint8_t> d = facts.descriptor;
  if (d.size() < kDescriptorHeader || d[0] != 1) return DirVerdict::kUnreadable;
  const std::uint16_t control = Le16(&d[2]);
  const std::uint32_t ownerAt = Le32(&d[4]);
  const std::uint32_t daclAt = Le32(&d[16]);
  if (!(control & kSelfRelative)) return DirVerdict::kUnreadable;

  const std::span<const std::uint8_t> owner =
      ownerAt ? SidAt(d, ownerAt) : std::span<const std::uint8_t>();
  if (owner.empty()) return DirVerdict::kUntrustedOwner;
  if (Classify(owner, facts.selfSid) == Principal::kOther || SameSid(owner, kCreatorOwnerSid) ||
      SameSid(owner, kOwnerRightsSid)) {
    return DirVerdict::kUntrustedOwner;
  }
  // No DACL at all grants everybody everything.
  if (!(control & kDaclPresent) || daclAt == 0) return DirVerdict::kOthersMayWrite;
  if (daclAt > d.size() || d.size() - daclAt < kAclHeader) return DirVerdict::kUnreadable;
  const std::uint8_t* acl = &d[daclAt];
  const std::size_t aclSize = Le16(acl + 2);
  const std::size_t aceCount = Le16(acl + 4);
  if (aclSize < kAclHeader || aclSize > d.size() - daclAt) return DirVerdict::kUnreadable;
  const std::span<const std::uint8_t> aces(acl + kAclHeader, aclSize - kAclHeader);

  bool selfMayAdd = false;
  std::size_t at = 0;
  for (std::size_t i = 0; i < aceCount; ++i) {
    if (aces.size() - at < kAceHeader) return DirVerdict::kUnreadable;
    const std::uint8_t type = aces[at];
    const std::uint8_t flags = aces[at + 1];
    const std::size_t size = Le16(&aces[at + 2]);
    if (size < kAceHeader + 4 || size > aces.size() - at) return DirVerdict::kUnreadable;
    const std::span<const std::uint8_t> ace = aces.subspan(at, size);
    at += size;
    if (IsDenyType(type)) continue;  // takes rights away: never a danger
    const std::uint32_t mask = Le32(&ace[kAceHeader]);
    if (!(mask & kModifyingRights)) continue;
    // Granting entries of other layouts (object, compound, callback-object) are not expected
    // on a directory; their SID cannot be trusted to be where a plain entry keeps it.
    if (type != kAccessAllowed && type != kAccessAllowedCallback)
      return DirVerdict::kOthersMayWrite;
    const std::span<const std::uint8_t> sid = SidAt(ace, kAceHeader + 4);
    if (sid.empty()) return DirVerdict::kUnreadable;
    const Principal who = Classify(sid, facts.selfSid);
    if (who == Principal::kOther) return DirVerdict::kOthersMayWrite;
    const bool forThisDirectory = !(flags & kInheritOnly);
    const bool addsFiles = (mask & (kAddFile | kGenericAll | kGenericWrite)) != 0;
    if (forThisDirectory && addsFiles &&
        (who == Principal::kSelf || (who == Principal::kAdministrators && facts.elevated))) {
      selfMayAdd = true;
    }
  }
  return selfMayAdd ? DirVerdict::kUsable : DirVerdict::kNotWritable;
}

std::size_t BuildWorkDirDescriptor(std::span<const std::uint8_t> selfSid,
                                   std::span<std::uint8_t> out) {
  const std::size_t selfLength = SidLength(selfSid);
  if (selfLength == 0) return 0;
  const std::span<const std::uint8_t> sids[] = {kSystemSid, kAdministratorsSid,
                                                selfSid.first(selfLength)};
  std::size_t aclSize = kAclHeader;
  for (const auto& sid : sids) aclSize += kAceHeader + 4 + sid.size();
  const std::size_t total = kDescriptorHeader + aclSize;
  if (total > out.size()) return 0;

  std::uint8_t* p = out.data();
  std::memset(p, 0, total);
  p[0] = 1;  // revision
  Put16(p + 2, kSelfRelative | kDaclPresent | kDaclProtected);
  Put32(p + 16, static_cast<std::uint32_t>(kDescriptorHeader));  // the DACL follows the header
  std::uint8_t* acl = p + kDescriptorHeader;
  acl[0] = kAclRevision;
  Put16(acl + 2, static_cast<std::uint16_t>(aclSize));
  Put16(acl + 4, static_cast<std::uint16_t>(std::size(sids)));
  std::uint8_t* ace = acl + kAclHeader;
  for (const auto& sid : sids) {
    const std::size_t size = kAceHeader + 4 + sid.size();
    ace[0] = kAccessAllowed;
    ace[1] = kObjectAndContainerInherit;
    Put16(ace + 2, static_cast<std::uint16_t>(size));
    Put32(ace + kAceHeader, kFullControl);
    std::memcpy(ace + kAceHeader + 4, sid.data(), sid.size());
    ace += size;
  }
  return total;
}
