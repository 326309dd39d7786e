#include <windows.h>

#include <cstdint>
#include <span>

#include "base/bounded_text.h"
#include "base/format_name.h"
#include "base/win32_owners.h"
#include "fsutil/file_system.h"
#include "launcher/launcher_state.h"
#include "launcher/messages.h"
#include "launcher/work_path.h"
#include "payload/entry_decoder.h"
#include "payload/entry_name.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "payload/progress_math.h"
#include "progress/progress_report.h"

namespace {
constexpr std::size_t kStatusBufferSize = 128;
constexpr std::size_t kFormatBufferSize = 4096;

// The bytes of one entry's resource, locked in place in the mapped image.
struct EntryData {
  UniqueResource loaded;
  std::span<const std::uint8_t> bytes;
};

bool LoadEntry(HMODULE module, LPCSTR type, LPCSTR name, EntryData* entry) {
  HRSRC found = FindResourceA(module, name, type);
  if (!found) return false;
  entry->loaded.reset(LoadResource(module, found));
  if (!entry->loaded) return false;
  const void* data = LockResource(entry->loaded.get());
  if (!data) return false;
  entry->bytes = {static_cast<const std::uint8_t*>(data), SizeofResource(module, found)};
  return true;
}

void ShowStatusForEntry(const char* name) {
  char format[kFormatBufferSize] = {};
  LoadStringA(g_state.instance, kStringUnpacking, format, sizeof format);
  char status[kStatusBufferSize];
  FormatWithName(format, name, status, sizeof status, IsAnsiLeadByte);
  SetStatusText(status);
}

// The answer once an entry is done: end the enumeration after the one entry -u asked for.
BOOL AnswerAfter(const char* name) {
  if (g_state.unpackName[0] && lstrcmpiA(g_state.unpackName, name) == 0) return FALSE;
  return TRUE;
}

// Ends the extraction after message `id`: the package is damaged or incomplete, so nothing of it
// is started (RunSetupAndCleanUp).
BOOL StopExtraction(unsigned id, const char* name) {
  g_state.extractionFailed = 1;
  g_state.extractionStopped = 1;
  ReportFailure(id, name);
  return FALSE;
}

bool WriteAll(HANDLE file, const std::uint8_t* data, std::size_t size) {
  DWORD written = 0;
  return WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}
}  // namespace

BOOL CALLBACK AddEntrySize(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR) {
  if (IS_INTRESOURCE(name)) return TRUE;  // not an entry ExtractEntry would unpack
  HRSRC found = FindResourceA(module, name, type);
  if (found) {
    UniqueResource loaded(LoadResource(module, found));
    g_state.totalPayloadBytes += SizeofResource(module, found);
  }
  return TRUE;
}

BOOL CALLBACK ExtractEntry(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR) {
  if (IS_INTRESOURCE(name)) return TRUE;  // payload entries are named; a numbered one is not ours
  ShowStatusForEntry(name);

  // A target that does not fit the buffer stays empty, and so does one for a name that would lead
  // outside the directory (or to a device, or a data stream): the entry then counts as one whose
  // file cannot be created, instead of landing under a cut name or anywhere else. So does one in
  // a work directory the launcher does not hold (the instance guard claims it).
  char target[kShortPathBufferSize] = {};
  if (!IsContainedEntryName(name)) {
    // stays empty
  } else if (g_state.unpackMode) {
    if (!CopyBounded(target, name)) target[0] = '\0';
  } else if (WorkDirIsOurs()) {
    MakeWorkPath(name, sizeof target, target);  // empty when it does not fit
  }

  if (g_state.unpackName[0] && lstrcmpiA(g_state.unpackName, name) != 0) return TRUE;
  if (g_state.unpackName[0]) g_state.unpackNameFound = 1;
  // The directories the entry's name holds, in the work directory or, in unpack mode, below the
  // current directory (only those of the entries it writes).
  if (target[0]) CreateEntryDirectories(target, lstrlenA(name));
  // Nothing is written through a link: not at the target, not in a directory on the way to it
  // (the work directory itself was judged when it was chosen).
  if (target[0] && (IsReparsePoint(target) || LinkOnTheWay(target, lstrlenA(name)))) {
    target[0] = '\0';
  }

  EntryData entry;
  if (!LoadEntry(module, type, name, &entry)) {
    g_state.extractionFailed = 1;
    return AnswerAfter(name);
  }

  UniqueFile file(target[0] ? CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_TEMPORARY, nullptr)
                            : INVALID_HANDLE_VALUE);
  if (!file) {
    g_state.extractionFailed = 1;
    return AnswerAfter(name);
  }
  RecordInManifest(name);

  EntryHeader header = {};
  const EntryOutcome outcome = DecodeEntry(
      entry.bytes, &header,
      [&file](const std::uint8_t* data, std::size_t size) {
        return WriteAll(file.get(), data, size);
      },
      [&header](std::uint32_t produced) {
        SetProgress(ExtractionPercent(g_state.doneCompressedBytes, produced, header.streamLength,
                                      static_cast<std::uint32_t>(header.outputSize),
                                      g_state.totalPayloadBytes));
      });

  switch (outcome) {
    case EntryOutcome::kComplete:
      g_state.doneCompressedBytes += header.streamLength;
      return AnswerAfter(name);
    case EntryOutcome::kBadProperties:
      g_state.extractionFailed = 1;
      return TRUE;
    case EntryOutcome::kOutOfMemory:
      return StopExtraction(kStringOutOfMemory, "");
    case EntryOutcome::kCorrupt:
      return StopExtraction(kStringCorrupt, "");
    case EntryOutcome::kWriteFailed:
      return StopExtraction(kStringCannotWrite, name);
  }
  return FALSE;
}
