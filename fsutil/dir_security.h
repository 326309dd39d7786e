// Who may touch a directory: whether one found in the temp directory may serve as the launcher's
// work directory, and the security descriptor the launcher gives the one it creates.
//
// Portable: this works on the self-relative binary forms that Windows hands out
// (GetFileSecurityA) and takes (SECURITY_ATTRIBUTES), so the decision is tested on the host and
// no Win32 call happens here. Every offset and length inside a descriptor is checked against the
// buffer before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// A SID's binary form is 8 bytes plus 4 per sub-authority, at most 15 of them.
inline constexpr std::size_t kMaxSidSize = 68;

// What the launcher knows of a directory it might use, and of itself.
struct DirFacts {
  bool reparsePoint = false;  // a symbolic link, junction or other reparse point
  bool directory = false;
  std::span<const std::uint8_t> descriptor;  // self-relative: owner and DACL
  std::span<const std::uint8_t> selfSid;     // the user of the launcher's token
  bool elevated = false;  // the Administrators group is enabled in the launcher's token
};

enum class DirVerdict {
  kUsable,
  kLink,            // a reparse point: what it leads to is someone else's choice
  kNotDirectory,    // a file of that name
  kUnreadable,      // no descriptor, or one that does not parse
  kUntrustedOwner,  // owned by someone other than SYSTEM, Administrators or the launcher's user
  kOthersMayWrite,  // grants write, delete or permission changes to someone else (or a null DACL)
  kNotWritable,     // trustworthy, but grants the launcher itself no way to add files
};

// The directory may be the work directory only when it is a real directory owned by SYSTEM,
// Administrators or the launcher's user, and no entry of its DACL, inherited ones and those
// meant for what is created inside included, lets anybody else write, delete or change
// permissions. Administrators count as the launcher itself only when its token is elevated.
DirVerdict JudgeWorkDir(const DirFacts& facts);

// Writes into `out` a self-relative security descriptor whose DACL is protected (nothing is
// inherited from the temp directory) and grants full control, to the directory and everything
// created in it, to SYSTEM, Administrators and `selfSid`. Owner and group are left to the
// system's defaults. Answers the descriptor's size, or 0 when `selfSid` is not a SID or `out` is
// too small (kWorkDirDescriptorMax always suffices).
std::size_t BuildWorkDirDescriptor(std::span<const std::uint8_t> selfSid,
                                   std::span<std::uint8_t> out);
inline constexpr std::size_t kWorkDirDescriptorMax = 20 + 8 + 3 * (8 + kMaxSidSize);

// The length of the SID at the start of `bytes`, or 0 when it is not a well-formed SID that fits.
std::size_t SidLength(std::span<const std::uint8_t> bytes);
