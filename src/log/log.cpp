#include "log/log.h"

#include <cstdio>
#include <ctime>

#include "common/date_time.h"
#include "common/file_io.h"
#include "common/ini_file.h"

namespace voxhall::log {

std::unique_ptr<LogObject> ServerLog;

namespace {

constexpr std::size_t kCategoryCapacity = 99;

struct Token {
  const char* text;
  const char* token;
};
constexpr Token kTypes[] = {
    {"DEBUG", "LMTDEBUG"}, {"WARNING", "LMTWARNING"}, {"ERROR", "LMTERROR"}, {"ALL", "LMTALL"}};
constexpr Token kDepths[] = {{"Important", "LMDIMPORTANT"}, {"All", "LMDALL"},
                             {"Usefull", "LMDUSEFULL"},     {"ProcedureInfo", "LMDPROCEDUREINFO"},
                             {"Commands", "LMDCOMMANDS"},   {"Info", "LMDINFO"}};

template <std::size_t N>
std::uint8_t TokenSet(const std::string& value, const Token (&tokens)[N]) {
  const std::string upper = common::UpperCase(value);
  std::uint8_t set = 0;
  for (std::size_t i = 0; i < N; ++i) {
    if (upper.find(tokens[i].token) != std::string::npos) set |= static_cast<std::uint8_t>(1u << i);
  }
  return set;
}

// Local time as "dd-mm-yy hh:nn:ss" (with_seconds) or "dd-mm-yy hh:nn".
std::string Stamp(bool with_seconds) {
  const common::DateTimeParts p = common::DecodeDateTime(common::Now());
  char buf[32];
  if (with_seconds) {
    std::snprintf(buf, sizeof buf, "%02d-%02d-%02d %02d:%02d:%02d", p.day, p.month, p.year % 100,
                  p.hour, p.minute, p.second);
  } else {
    std::snprintf(buf, sizeof buf, "%02d-%02d-%02d %02d:%02d", p.day, p.month, p.year % 100,
                  p.hour, p.minute);
  }
  return buf;
}

const std::string kRule(63, '-');

}  // namespace

const char* TypeText(LogMessageType type) {
  return type < std::size(kTypes) ? kTypes[type].text : "";
}

const char* DepthText(LogMessageDepth depth) {
  return depth < std::size(kDepths) ? kDepths[depth].text : "";
}

void LogObject::Log(LogMessageType type, LogMessageDepth depth, std::string_view category,
                    std::string_view message) {
  if (ShouldLog(type, depth)) WriteLine(message, category, type, depth);
}

void LogObject::LogFmt(LogMessageType type, LogMessageDepth depth, std::string_view category,
                       std::string_view format, const std::vector<std::string>& arguments) {
  if (ShouldLog(type, depth)) WriteLine(common::FormatArgs(format, arguments), category, type, depth);
}

void LogObject::LoadOptions(const std::string& ini_path, std::string_view section) {
  auto lock = common::IniFile::Transaction();
  common::IniFile ini(ini_path);
  if (ini.ReadString(section, "MessageTypes", "").empty()) {
    ini.WriteString(section, "MessageTypes", "LMTALL");
    ini.WriteString(section, "MessageDepths", "LMDALL");
    if (!ini.Flush()) {
      WriteLine("unable to write log options to " + ini_path + ": " + ini.LastError(), "GENERAL",
                lmtError, lmdAll);
    }
  }
  type_set_ = TokenSet(ini.ReadString(section, "MessageTypes", ""), kTypes);
  depth_set_ = TokenSet(ini.ReadString(section, "MessageDepths", ""), kDepths);
}

bool LogObject::ShouldLog(LogMessageType type, LogMessageDepth depth) const {
  const bool type_ok = (type < 8 && (type_set_ & (1u << type))) || (type_set_ & (1u << lmtAll));
  if (!type_ok) return false;
  return (depth_set_ & (1u << lmdAll)) || (depth < 8 && (depth_set_ & (1u << depth)));
}

LogFile::LogFile(std::string path) : LogObject(std::move(path)) {}

LogFile::~LogFile() { Close(); }

bool LogFile::OpenFile() {
  std::lock_guard<std::mutex> lock(mu_);
  return OpenFileLocked();
}

bool LogFile::OpenFileLocked() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  // Appends; a missing file is created readable by its owner only, since the
  // first start writes the administrator password here.
  file_ = common::OpenForAppend(target());
  return file_ != nullptr;
}

void LogFile::WriteRaw(std::string_view text, bool flush) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!file_ && !OpenFileLocked()) return;  // dropped; the next call tries again
  std::fwrite(text.data(), 1, text.size(), file_);
  if (flush) std::fflush(file_);
}

void LogFile::WriteLine(std::string_view message, std::string_view category, LogMessageType type,
                        LogMessageDepth depth) {
  std::string line = Stamp(true);
  line += ',';
  line += TypeText(type);
  line += ',';
  line += DepthText(depth);
  line += ',';
  line += category.substr(0, kCategoryCapacity);
  line += ",\t";
  line += message;
  line += "\r\n";
  WriteRaw(line, true);
}

void LogFile::Open() {
  WriteRaw(kRule + "\r\n-------------- log started at " + Stamp(false) + " -------------\r\n" +
               kRule + "\r\n",
           false);
}

void LogFile::Close() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!file_) return;
  }
  WriteRaw(kRule + "\r\n--------------- log ended at " + Stamp(false) + " --------------\r\n" +
               kRule + "\r\n",
           true);
  std::lock_guard<std::mutex> lock(mu_);
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void LogFile::LogMemory(LogMessageType type, LogMessageDepth depth, std::string_view category,
                        std::string_view, const void*, std::size_t) {
  WriteLine(" !!! LogMemory not supported yet !!!", category, type, depth);
}

void LogFile::EnterProc(LogMessageType type, LogMessageDepth depth, std::string_view category,
                        std::string_view procedure) {
  if (ShouldLog(type, depth)) WriteLine(" Entered " + std::string(procedure), category, type, depth);
}

void LogFile::LeaveProc(LogMessageType type, LogMessageDepth depth, std::string_view category,
                        std::string_view procedure) {
  if (ShouldLog(type, depth)) WriteLine(" Left " + std::string(procedure), category, type, depth);
}

void CreateLog(const std::string& ini_path, std::string_view section,
               const std::string& log_path) {
  std::string host;
  {
    auto lock = common::IniFile::Transaction();
    host = common::Trim(common::IniFile(ini_path).ReadString(section, "tcphost", ""));
  }
  ServerLog = std::make_unique<LogFile>(log_path);
  ServerLog->LoadOptions(ini_path, "debug");
  ServerLog->Open();
  if (!host.empty()) {
    // The debug viewer the "tcphost" key names does not exist on this
    // platform; the file log stays in use so that nothing is lost.
    ServerLog->WriteLine("debug viewer host \"" + host +
                             "\" is set, but the debug viewer is not supported; logging to " +
                             log_path,
                         "GENERAL", lmtWarning, lmdImportant);
  }
}

void Log(LogMessageType type, LogMessageDepth depth, std::string_view category,
         std::string_view message) {
  if (ServerLog) ServerLog->Log(type, depth, category, message);
}

void LogException(std::string_view category, std::string_view operation,
                  std::string_view message) {
  Log(lmtError, lmdAll, category, std::string(operation) + " Exception: " + std::string(message));
}

}  // namespace voxhall::log
