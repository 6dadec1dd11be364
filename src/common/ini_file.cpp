#include "common/ini_file.h"

#include <optional>
#include <sstream>

#include "common/file_io.h"
#include "common/text.h"

namespace voxhall::common {

namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

// The name inside "[name]", or false when the line is no section header.
bool SectionHeader(std::string_view line, std::string& name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(std::string_view(t).substr(1, close - 1));
  return true;
}

// Splits "key=value"; false for lines without "=" or comments.
bool KeyLine(std::string_view line, std::string& key, std::string_view& value) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = line.substr(eq + 1);
  return !key.empty();
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

std::string CleanValue(std::string_view raw) {
  std::string v = Trim(raw);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) { Reload(); }

void IniFile::Reload() {
  lines_.clear();
  dirty_ = false;
  const std::optional<std::string> text = ReadWholeFile(path_);
  if (!text) return;
  std::istringstream in(*text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(std::move(line));
  }
}

std::size_t IniFile::FindSection(std::string_view section) const {
  std::string name;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (SectionHeader(lines_[i], name) && EqualsIgnoreCase(name, section)) return i;
  }
  return npos;
}

std::size_t IniFile::FindKey(std::size_t header, std::string_view key) const {
  std::string name, k;
  std::string_view v;
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    if (SectionHeader(lines_[i], name)) break;
    if (KeyLine(lines_[i], k, v) && EqualsIgnoreCase(k, key)) return i;
  }
  return npos;
}

const std::string* IniFile::RawValue(std::string_view section, std::string_view key) const {
  const std::size_t header = FindSection(section);
  if (header == npos) return nullptr;
  const std::size_t at = FindKey(header, key);
  return at == npos ? nullptr : &lines_[at];
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  const std::string* line = RawValue(section, key);
  if (!line) return std::string(fallback);
  std::string k;
  std::string_view v;
  KeyLine(*line, k, v);
  return CleanValue(v);
}

std::int64_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int64_t fallback) const {
  if (!ValueExists(section, key)) return fallback;
  std::int64_t v = 0;
  return ParseInteger(ReadString(section, key, ""), v) ? v : fallback;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != npos;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  return RawValue(section, key) != nullptr;
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  const std::size_t header = FindSection(section);
  if (header == npos) return keys;
  std::string name, k;
  std::string_view v;
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    if (SectionHeader(lines_[i], name)) break;
    if (KeyLine(lines_[i], k, v)) keys.push_back(k);
  }
  return keys;
}

void IniFile::WriteString(std::string_view section_text, std::string_view key_text,
                          std::string_view value_text) {
  // A line break inside a value (or name) would start a key or section of
  // its own in the file: line breaks are dropped.
  const std::string section = WithoutLineBreaks(section_text);
  const std::string key = WithoutLineBreaks(key_text);
  const std::string value = WithoutLineBreaks(value_text);
  std::string line = key + "=" + value;
  dirty_ = true;
  std::size_t header = FindSection(section);
  if (header == npos) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(line));
    return;
  }
  const std::size_t at = FindKey(header, key);
  if (at != npos) {
    lines_[at] = std::move(line);
    return;
  }
  // Add behind the section's last non-blank line.
  std::size_t insert = header + 1;
  std::string name;
  for (std::size_t i = header + 1; i < lines_.size(); ++i) {
    if (SectionHeader(lines_[i], name)) break;
    if (!Trim(lines_[i]).empty()) insert = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), std::move(line));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  const std::size_t header = FindSection(section);
  if (header == npos) return;
  const std::size_t at = FindKey(header, key);
  if (at == npos) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(at));
  dirty_ = true;
}

void IniFile::EraseSection(std::string_view section) {
  const std::size_t header = FindSection(section);
  if (header == npos) return;
  std::size_t end = header + 1;
  std::string name;
  while (end < lines_.size() && !SectionHeader(lines_[end], name)) ++end;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
               lines_.begin() + static_cast<std::ptrdiff_t>(end));
  dirty_ = true;
}

bool IniFile::Flush() {
  if (!dirty_) return true;
  std::string text;
  for (const std::string& line : lines_) text.append(line).append("\r\n");
  if (!ReplaceFileContents(path_, text)) {
    last_error_ = "cannot write " + path_;
    return false;
  }
  dirty_ = false;
  last_error_.clear();
  return true;
}

std::unique_lock<std::recursive_mutex> IniFile::Transaction() {
  static std::recursive_mutex mu;
  return std::unique_lock<std::recursive_mutex>(mu);
}

}  // namespace voxhall::common
