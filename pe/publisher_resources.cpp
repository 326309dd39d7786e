#include "pe/publisher_resources.h"

#include <algorithm>
#include <set>

namespace {
constexpr std::uint16_t kDialogId = 101;
constexpr std::uint16_t kMainIconGroup = 1;

bool IsType(const OutputResource& r, std::uint16_t type) {
  return !r.type.isName && r.type.id == type;
}

bool BytesOf(const OutputResource& r, std::span<const std::uint8_t> stub,
             std::span<const std::uint8_t>* bytes) {
  if (r.bytes) {
    *bytes = *r.bytes;
    return true;
  }
  if (r.payload >= 0 || r.stubOffset > stub.size() || r.size > stub.size() - r.stubOffset) {
    return false;
  }
  *bytes = stub.subspan(r.stubOffset, r.size);
  return true;
}

// Keeps the faces asked for. An installer for English alone carries nothing in Chinese: its other
// resources move to language 1033, unless the stub has them there already.
bool ChooseFaces(Faces faces, std::vector<OutputResource>* resources, std::string* error) {
  if (faces == Faces::kBoth) return true;
  const std::uint16_t keep = faces == Faces::kChinese ? kChineseSimplified : kEnglishUs;
  auto isFace = [](const OutputResource& r) {
    return IsType(r, kRtString) ||
           (IsType(r, kRtDialog) && !r.name.isName && r.name.id == kDialogId);
  };
  bool strings = false, dialog = false;
  for (const OutputResource& r : *resources) {
    if (r.language != keep) continue;
    strings = strings || IsType(r, kRtString);
    dialog = dialog || (isFace(r) && IsType(r, kRtDialog));
  }
  if (!strings || !dialog) {
    *error = std::string("carries no ") + (faces == Faces::kChinese ? "Chinese" : "English") +
             " face (string table and dialog 101 in language " + std::to_string(keep) + ")";
    return false;
  }
  std::erase_if(*resources,
                [&](const OutputResource& r) { return isFace(r) && r.language != keep; });
  if (faces == Faces::kEnglish) {
    std::vector<OutputResource> moved;
    for (auto it = resources->begin(); it != resources->end();) {
      if (it->language != kChineseSimplified || (it->type.isName)) {
        ++it;
        continue;
      }
      const bool twin = std::any_of(resources->begin(), resources->end(), [&](const auto& o) {
        return o.language == kEnglishUs && CompareResourceKeys(o.type, it->type) == 0 &&
               CompareResourceKeys(o.name, it->name) == 0;
      });
      if (!twin) {
        moved.push_back(*it);
        moved.back().language = kEnglishUs;
      }
      it = resources->erase(it);
    }
    resources->insert(resources->end(), moved.begin(), moved.end());
  }
  return true;
}

// Replaces the main icon group and the images it names by the .ico's.
bool ReplaceIcon(const std::vector<IconImage>& icon, std::uint16_t defaultLanguage,
                 std::span<const std::uint8_t> stub, std::vector<OutputResource>* resources,
                 std::string* error) {
  auto group = resources->end();
  for (auto it = resources->begin(); it != resources->end(); ++it) {
    if (!IsType(*it, kRtGroupIcon)) continue;
    if (group == resources->end() || (!it->name.isName && it->name.id == kMainIconGroup))
      group = it;
  }
  std::uint16_t language = defaultLanguage;
  ResourceKey name = IdKey(kMainIconGroup);
  if (group != resources->end()) {
    std::span<const std::uint8_t> bytes;
    std::vector<std::uint16_t> old;
    if (!BytesOf(*group, stub, &bytes) || !ReadIconGroupIds(bytes, &old)) {
      *error = "has an icon group that cannot be read";
      return false;
    }
    language = group->language;
    name = group->name;
    const std::set<std::uint16_t> replaced(old.begin(), old.end());
    resources->erase(group);
    std::erase_if(*resources, [&](const OutputResource& r) {
      return IsType(r, kRtIcon) && !r.name.isName && replaced.count(r.name.id) &&
             r.language == language;
    });
  }
  std::set<std::uint16_t> taken;
  for (const OutputResource& r : *resources) {
    if (IsType(r, kRtIcon) && !r.name.isName) taken.insert(r.name.id);
  }
  std::vector<std::uint16_t> ids;
  for (std::uint32_t id = 1; ids.size() < icon.size() && id <= 0xFFFF; ++id) {
    if (!taken.count(static_cast<std::uint16_t>(id))) ids.push_back(static_cast<std::uint16_t>(id));
  }
  if (ids.size() < icon.size()) {
    *error = "has no free icon ids left";
    return false;
  }
  for (std::size_t i = 0; i < icon.size(); ++i) {
    resources->push_back(OwnResource(IdKey(kRtIcon), IdKey(ids[i]), language, icon[i].data));
  }
  resources->push_back(OwnResource(IdKey(kRtGroupIcon), name, language, MakeIconGroup(icon, ids)));
  return true;
}

bool ChangeVersion(const VersionChanges& changes, std::uint16_t defaultLanguage,
                   std::span<const std::uint8_t> stub, std::vector<OutputResource>* resources,
                   std::string* error) {
  auto found = std::find_if(resources->begin(), resources->end(),
                            [](const OutputResource& r) { return IsType(r, kRtVersion); });
  VersionBlock root;
  if (found == resources->end()) {
    root = EmptyVersionInfo(changes.language.value_or(defaultLanguage));
    resources->push_back(OwnResource(IdKey(kRtVersion), IdKey(1), defaultLanguage, {}));
    found = resources->end() - 1;
  } else {
    std::span<const std::uint8_t> bytes;
    std::string why;
    if (!BytesOf(*found, stub, &bytes) || !ParseVersionInfo(bytes, &root, &why)) {
      *error = "has version information that cannot be read: " + why;
      return false;
    }
  }
  std::vector<std::uint8_t> bytes;
  std::string why;
  if (!ApplyVersionChanges(changes, &root, &why) || !WriteVersionInfo(root, &bytes, &why)) {
    *error = "cannot take the version information asked for: " + why;
    return false;
  }
  *found = OwnResource(found->type, found->name, found->language, std::move(bytes));
  return true;
}

bool ChangeLevel(ExecutionLevel level, std::span<const std::uint8_t> stub,
                 std::vector<OutputResource>* resources, std::string* error) {
  bool any = false;
  for (OutputResource& r : *resources) {
    if (!IsType(r, kRtManifest)) continue;
    std::span<const std::uint8_t> bytes;
    std::string text;
    if (!BytesOf(r, stub, &bytes) ||
        !SetExecutionLevel(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), level,
            &text)) {
      *error = "has a manifest without a requestedExecutionLevel level to set";
      return false;
    }
    r = OwnResource(r.type, r.name, r.language,
                    std::vector<std::uint8_t>(text.begin(), text.end()));
    any = true;
  }
  if (!any) {
    *error = "has no application manifest to set the execution level in";
    return false;
  }
  return true;
}
}  // namespace

bool ParseFaces(std::string_view text, Faces* faces) {
  if (text == "both") {
    *faces = Faces::kBoth;
  } else if (text == "zh-CN") {
    *faces = Faces::kChinese;
  } else if (text == "en-US") {
    *faces = Faces::kEnglish;
  } else {
    return false;
  }
  return true;
}

bool ApplyPublisherResources(const PublisherResources& changes, std::span<const std::uint8_t> stub,
                             std::vector<OutputResource>* resources, std::string* error) {
  const bool english = changes.faces == Faces::kEnglish;
  const std::uint16_t language = english ? kEnglishUs : kChineseSimplified;
  if (!ChooseFaces(changes.faces, resources, error)) return false;
  if (changes.icon && !ReplaceIcon(*changes.icon, language, stub, resources, error)) return false;
  VersionChanges version = changes.version;
  if (english) version.language = kEnglishUs;
  const bool versionChanges =
      !version.strings.empty() || version.fileVersion || version.productVersion || version.language;
  if (versionChanges && !ChangeVersion(version, language, stub, resources, error)) return false;
  if (changes.level && !ChangeLevel(*changes.level, stub, resources, error)) return false;
  return true;
}
