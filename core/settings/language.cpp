// Parsing and caching language files; filling the message table.
#include "settings/language.h"

#include <sys/stat.h>

#include <map>
#include <pugixml.hpp>

#include "base/messages.h"
#include "base/records.h"
#include "base/utf.h"
#include "platform/file_utils.h"
#include "settings/settings.h"

namespace qovra {
namespace {

// Predefined entities and character references only; no DOCTYPE handling.
constexpr unsigned kParseOptions =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol | pugi::parse_wconv_attribute;

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The element's direct text and CDATA children, joined.
std::string OwnText(pugi::xml_node element) {
  std::string text;
  for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) text += c.value();
  }
  return text;
}

TLanguageEntry ReadEntry(pugi::xml_node element) {
  TLanguageEntry e;
  e.name = element.name();
  e.text = OwnText(element);
  if (const pugi::xml_attribute hint = element.attribute("hint")) {
    e.has_hint = true;
    e.hint = hint.value();
  }
  for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element) e.items.push_back(OwnText(c));
  }
  return e;
}

struct CachedFile {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  struct timespec mtime {};
  std::shared_ptr<const TLanguageFile> file;
};

std::map<std::string, CachedFile>& Cache() {
  static std::map<std::string, CachedFile> cache;
  return cache;
}

bool SameFile(const CachedFile& c, const struct stat& st) {
  return c.dev == st.st_dev && c.ino == st.st_ino && c.size == st.st_size &&
         c.mtime.tv_sec == st.st_mtim.tv_sec && c.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

}  // namespace

std::string_view LanguageCode(int langid) {
  switch (langid) {
    case 0:
      return "uzc";
    case 1:
      return "ru";
    default:
      return {};
  }
}

std::string LanguageFilePath(int langid) {
  const std::string_view code = LanguageCode(langid);
  if (code.empty()) return {};
  return ProgramDir + "lang/lang." + std::string(code) + ".xml";
}

bool TLanguageFile::Parse(std::string_view bytes) {
  classes_.clear();
  has_messages_ = false;
  messages_.clear();
  pugi::xml_document doc;
  if (bytes.size() > kMaxLanguageFileSize ||
      !doc.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto) ||
      !doc.document_element()) {
    return false;
  }
  for (pugi::xml_node cls = doc.document_element().first_child(); cls; cls = cls.next_sibling()) {
    if (cls.type() != pugi::node_element) continue;
    const std::string lower = LowerAscii(cls.name());
    ClassEntries* target = nullptr;
    for (ClassEntries& c : classes_) {
      if (c.lower_name == lower) target = &c;  // a repeated class element adds to the first
    }
    if (!target) target = &classes_.emplace_back(ClassEntries{lower, {}});
    const size_t first_new = target->entries.size();
    for (pugi::xml_node c = cls.first_child(); c; c = c.next_sibling()) {
      if (c.type() == pugi::node_element) target->entries.push_back(ReadEntry(c));
    }
    if (lower == "messages") {
      has_messages_ = true;
      messages_.clear();
      for (size_t i = first_new; i < target->entries.size(); ++i)
        messages_.emplace_back(target->entries[i].name, target->entries[i].text);
    }
  }
  return true;
}

const std::vector<TLanguageEntry>& TLanguageFile::Entries(std::string_view class_name) const {
  static const std::vector<TLanguageEntry> kNone;
  const std::string lower = LowerAscii(class_name);
  for (const ClassEntries& c : classes_) {
    if (c.lower_name == lower) return c.entries;
  }
  return kNone;
}

std::shared_ptr<const TLanguageFile> LoadLanguageFile(const std::string& path) {
  auto& cache = Cache();
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    cache.erase(path);
    return nullptr;
  }
  const auto it = cache.find(path);
  if (it != cache.end() && SameFile(it->second, st)) return it->second.file;
  cache.erase(path);
  if (static_cast<uint64_t>(st.st_size) > kMaxLanguageFileSize) return nullptr;

  auto file = std::make_shared<TLanguageFile>();
  if (!file->Parse(LoadFileToString(Utf8ToUtf16(path)))) return nullptr;
  CachedFile entry;
  entry.dev = st.st_dev;
  entry.ino = st.st_ino;
  entry.size = st.st_size;
  entry.mtime = st.st_mtim;
  entry.file = file;
  cache.emplace(path, std::move(entry));
  return file;
}

std::shared_ptr<const TLanguageFile> CurrentLanguageFile() {
  const std::string path = LanguageFilePath(Options.langid);
  if (path.empty()) return nullptr;
  return LoadLanguageFile(path);
}

void ClearLanguageCache() {
  Cache().clear();
}

void ApplyLanguageMessages(const TLanguageFile* file) {
  if (file && file->HasMessages()) ReplaceMsgTable(file->Messages());
}

void ApplyLanguageMessages() {
  const auto file = CurrentLanguageFile();
  ApplyLanguageMessages(file.get());
}

}  // namespace qovra
