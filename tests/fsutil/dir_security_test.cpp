#include "fsutil/dir_security.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {
using Bytes = std::vector<std::uint8_t>;

const Bytes kSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const Bytes kAdministrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const Bytes kEveryone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const Bytes kUsers = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
const Bytes kCreatorOwner = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
const Bytes kSelf = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 1,
                     1, 1, 2, 2, 2, 2, 3, 3, 3,  3, 0xE8, 3, 0, 0};  // S-1-5-21-...-1000
const Bytes kOtherUser = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0,    0, 0, 1, 1, 1,
                          1, 2, 2, 2, 2, 3, 3, 3, 3,  0xE9, 3, 0, 0};  // the same domain, RID 1001

struct Ace {
  std::uint8_t type;
  std::uint8_t flags;
  std::uint32_t mask;
  Bytes sid;
};

void Put(Bytes* b, std::size_t at, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) (*b)[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A self-relative descriptor with `owner` (empty: none) and a DACL of `aces` (no DACL when
// `dacl` is false), laid out as Windows lays one out: header, owner, DACL.
Bytes Descriptor(const Bytes& owner, bool dacl, const std::vector<Ace>& aces) {
  Bytes d(20, 0);
  d[0] = 1;
  Put(&d, 2, 0x8000 | (dacl ? 0x0004 : 0), 2);
  if (!owner.empty()) {
    Put(&d, 4, static_cast<std::uint32_t>(d.size()), 4);
    d.insert(d.end(), owner.begin(), owner.end());
  }
  if (dacl) {
    const std::size_t at = d.size();
    Put(&d, 16, static_cast<std::uint32_t>(at), 4);
    d.resize(at + 8);
    d[at] = 2;
    for (const Ace& a : aces) {
      const std::size_t ace = d.size();
      d.resize(ace + 8);
      d[ace] = a.type;
      d[ace + 1] = a.flags;
      Put(&d, ace + 2, static_cast<std::uint32_t>(8 + a.sid.size()), 2);
      Put(&d, ace + 4, a.mask, 4);
      d.insert(d.end(), a.sid.begin(), a.sid.end());
    }
    Put(&d, at + 2, static_cast<std::uint32_t>(d.size() - at), 2);
    Put(&d, at + 4, static_cast<std::uint32_t>(aces.size()), 2);
  }
  return d;
}

constexpr std::uint32_t kFull = 0x1F01FF;
constexpr std::uint32_t kReadExecute = 0x1200A9;  // what Wine reports for r-x bits
constexpr std::uint8_t kAllow = 0, kDeny = 1, kAllowObject = 5, kAllowCallback = 9;
constexpr std::uint8_t kInheritOnly = 0x08 | 0x01 | 0x02;

// The launcher's own directory, as it creates it; each case changes one thing.
std::vector<Ace> Ours() {
  return {
      {kAllow, 3, kFull, kSystem}, {kAllow, 3, kFull, kAdministrators}, {kAllow, 3, kFull, kSelf}};
}
std::vector<Ace> With(std::vector<Ace> aces, Ace extra) {
  aces.push_back(extra);
  return aces;
}

TEST(JudgeWorkDir, DecidesByLinkOwnerAndEveryKindOfEntry) {
  struct Case {
    const char* what;
    bool link, directory;
    Bytes descriptor;
    bool elevated;
    DirVerdict verdict;
  } const cases[] = {
      {"ours", false, true, Descriptor(kSelf, true, Ours()), true, DirVerdict::kUsable},
      {"ours, owned by Administrators (an elevated creator)", false, true,
       Descriptor(kAdministrators, true, Ours()), true, DirVerdict::kUsable},
      {"owned by SYSTEM", false, true, Descriptor(kSystem, true, Ours()), false,
       DirVerdict::kUsable},
      {"a link, whatever its descriptor", true, true, Descriptor(kSelf, true, Ours()), true,
       DirVerdict::kLink},
      {"a file", false, false, Descriptor(kSelf, true, Ours()), true, DirVerdict::kNotDirectory},
      {"owned by another user", false, true, Descriptor(kOtherUser, true, Ours()), true,
       DirVerdict::kUntrustedOwner},
      {"no owner", false, true, Descriptor({}, true, Ours()), true, DirVerdict::kUntrustedOwner},
      {"no DACL: everybody may do everything", false, true, Descriptor(kSelf, false, {}), true,
       DirVerdict::kOthersMayWrite},
      {"Everyone may write (Wine's 0777)", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllow, 0, 0x1301FF, kEveryone})), true,
       DirVerdict::kOthersMayWrite},
      {"Everyone may read and list (Wine's 0755)", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllow, 0, kReadExecute, kEveryone})), true,
       DirVerdict::kUsable},
      {"Users may change permissions only", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllow, 0, 0x00040000, kUsers})), true,
       DirVerdict::kOthersMayWrite},
      {"Users may delete only", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllow, 0, 0x00010000, kUsers})), true,
       DirVerdict::kOthersMayWrite},
      {"generic write for another user", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllow, 0, 0x40000000, kOtherUser})), true,
       DirVerdict::kOthersMayWrite},
      {"inherit-only write for Users: what we create would be theirs to change", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllow, kInheritOnly, 0x2, kUsers})), true,
       DirVerdict::kOthersMayWrite},
      {"CREATOR OWNER full control, inherit-only (as in Windows\\Temp)", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllow, kInheritOnly, kFull, kCreatorOwner})), true,
       DirVerdict::kUsable},
      {"a deny entry for Everyone takes away, never grants", false, true,
       Descriptor(kSelf, true, With(Ours(), {kDeny, 0, kFull, kEveryone})), true,
       DirVerdict::kUsable},
      {"a callback entry granting others write", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllowCallback, 0, 0x2, kUsers})), true,
       DirVerdict::kOthersMayWrite},
      {"an object entry granting write, whoever it names", false, true,
       Descriptor(kSelf, true, With(Ours(), {kAllowObject, 0, 0x2, kSelf})), true,
       DirVerdict::kOthersMayWrite},
      {"only Administrators may write, and the launcher is elevated", false, true,
       Descriptor(kAdministrators, true,
                  {{kAllow, 3, kFull, kSystem}, {kAllow, 3, kFull, kAdministrators}}),
       true, DirVerdict::kUsable},
      {"only Administrators may write, and the launcher is not elevated", false, true,
       Descriptor(kAdministrators, true,
                  {{kAllow, 3, kFull, kSystem}, {kAllow, 3, kFull, kAdministrators}}),
       false, DirVerdict::kNotWritable},
      {"the launcher's own write is inherit-only", false, true,
       Descriptor(kSelf, true, {{kAllow, kInheritOnly, kFull, kSelf}}), true,
       DirVerdict::kNotWritable},
      {"an empty DACL", false, true, Descriptor(kSelf, true, {}), true, DirVerdict::kNotWritable},
  };
  for (const Case& c : cases) {
    DirFacts facts;
    facts.reparsePoint = c.link;
    facts.directory = c.directory;
    facts.descriptor = c.descriptor;
    facts.selfSid = kSelf;
    facts.elevated = c.elevated;
    EXPECT_EQ(JudgeWorkDir(facts), c.verdict) << c.what;
  }
}

TEST(JudgeWorkDir, ATruncatedOrCorruptDescriptorIsNeverUsable) {
  const Bytes good = Descriptor(kSelf, true, With(Ours(), {kAllow, 0, kReadExecute, kEveryone}));
  DirFacts facts;
  facts.directory = true;
  facts.selfSid = kSelf;
  for (std::size_t n = 0; n < good.size(); ++n) {
    const Bytes part(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    facts.descriptor = part;
    EXPECT_NE(JudgeWorkDir(facts), DirVerdict::kUsable) << n;
  }
  for (std::size_t k = 0; k < good.size(); ++k) {
    Bytes bad = good;
    bad[k] ^= 0xFF;
    facts.descriptor = bad;
    JudgeWorkDir(facts);  // any verdict, but no read outside the buffer (ASan)
  }
}

TEST(BuildWorkDirDescriptor, GrantsFullControlToSystemAdministratorsAndSelfOnly) {
  std::uint8_t out[kWorkDirDescriptorMax];
  const std::size_t size = BuildWorkDirDescriptor(kSelf, out);
  ASSERT_GT(size, 0u);
  const Bytes built(out, out + size);
  // Protected, self-relative, DACL present; no owner, group or SACL of its own.
  EXPECT_EQ(built[2] | built[3] << 8, 0x8000 | 0x1000 | 0x0004);
  EXPECT_EQ(Bytes(built.begin() + 4, built.begin() + 16), Bytes(12, 0));
  const Bytes expected = Descriptor({}, true, Ours());
  EXPECT_EQ(Bytes(built.begin() + 20, built.end()), Bytes(expected.begin() + 20, expected.end()));
  // Once the system has made the launcher (or Administrators) its owner, it passes.
  Bytes owned = Descriptor(kSelf, true, Ours());
  DirFacts facts;
  facts.directory = true;
  facts.descriptor = owned;
  facts.selfSid = kSelf;
  EXPECT_EQ(JudgeWorkDir(facts), DirVerdict::kUsable);

  EXPECT_EQ(BuildWorkDirDescriptor(Bytes{1, 16, 0, 0, 0, 0, 0, 5}, out), 0u);  // not a SID
  EXPECT_EQ(BuildWorkDirDescriptor(kSelf, std::span<std::uint8_t>(out, size - 1)), 0u);
}
}  // namespace
