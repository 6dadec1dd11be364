// The process log. Every subsystem writes through the process-wide ServerLog
// with a message type, a depth and a category; two option sets read from the
// configuration file decide which entries are written. The file log appends
// one flushed line per entry, with opening and closing banners.
//
// Thread safety: Log/LogFmt may be called from any thread; an internal lock
// keeps lines whole. ServerLog itself is set once at start-up and reset at the
// very end of the shut-down, when no other thread is left.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace voxhall::log {

enum LogMessageType : std::uint8_t { lmtDebug = 0, lmtWarning = 1, lmtError = 2, lmtAll = 3 };

enum LogMessageDepth : std::uint8_t {
  lmdImportant = 0,
  lmdAll = 1,
  lmdUsefull = 2,
  lmdProcedureInfo = 3,
  lmdCommands = 4,
  lmdInfo = 5,
};

// Texts that the file line shows.
const char* TypeText(LogMessageType type);
const char* DepthText(LogMessageDepth depth);

class LogObject {
 public:
  virtual ~LogObject() = default;
  LogObject(const LogObject&) = delete;
  LogObject& operator=(const LogObject&) = delete;

  // Puts out one entry without filtering.
  virtual void WriteLine(std::string_view message, std::string_view category,
                         LogMessageType type, LogMessageDepth depth) = 0;
  virtual void Close() {}
  virtual void Open() = 0;
  virtual void LogMemory(LogMessageType type, LogMessageDepth depth, std::string_view category,
                         std::string_view message, const void* data, std::size_t size) = 0;
  virtual void EnterProc(LogMessageType type, LogMessageDepth depth, std::string_view category,
                         std::string_view procedure) = 0;
  virtual void LeaveProc(LogMessageType type, LogMessageDepth depth, std::string_view category,
                         std::string_view procedure) = 0;

  void Log(LogMessageType type, LogMessageDepth depth, std::string_view category,
           std::string_view message);
  void LogFmt(LogMessageType type, LogMessageDepth depth, std::string_view category,
              std::string_view format, const std::vector<std::string>& arguments);

  // Reads "MessageTypes" and "MessageDepths" of `section`; writes the defaults
  // "LMTALL" / "LMDALL" when "MessageTypes" is empty or missing.
  void LoadOptions(const std::string& ini_path, std::string_view section);
  bool ShouldLog(LogMessageType type, LogMessageDepth depth) const;

  std::uint8_t type_set() const { return type_set_; }
  std::uint8_t depth_set() const { return depth_set_; }
  void set_options(std::uint8_t type_set, std::uint8_t depth_set) {
    type_set_ = type_set;
    depth_set_ = depth_set;
  }
  const std::string& target() const { return target_; }

 protected:
  explicit LogObject(std::string target) : target_(std::move(target)) {}

 private:
  std::uint8_t type_set_ = 0;
  std::uint8_t depth_set_ = 0;
  std::string target_;
};

// The file log: appends to the target path, creating it when missing.
class LogFile : public LogObject {
 public:
  explicit LogFile(std::string path);
  ~LogFile() override;

  void WriteLine(std::string_view message, std::string_view category, LogMessageType type,
                 LogMessageDepth depth) override;
  void Close() override;
  void Open() override;
  void LogMemory(LogMessageType type, LogMessageDepth depth, std::string_view category,
                 std::string_view message, const void* data, std::size_t size) override;
  void EnterProc(LogMessageType type, LogMessageDepth depth, std::string_view category,
                 std::string_view procedure) override;
  void LeaveProc(LogMessageType type, LogMessageDepth depth, std::string_view category,
                 std::string_view procedure) override;
  bool OpenFile();

 private:
  // Writes `text` (already CR LF terminated); opens the file lazily.
  void WriteRaw(std::string_view text, bool flush);
  bool OpenFileLocked();

  std::mutex mu_;            // guards file_; held for each whole line or banner
  std::FILE* file_ = nullptr;  // GUARDED_BY(mu_)
};

// The process-wide log; unset until CreateLog, reset at the end of shut-down.
extern std::unique_ptr<LogObject> ServerLog;

// Builds ServerLog from the configuration at `ini_path` (section `section`
// for "tcphost") and the log file path, loads the options and opens it.
void CreateLog(const std::string& ini_path, std::string_view section, const std::string& log_path);

// Logs through ServerLog; does nothing while it is unset.
void Log(LogMessageType type, LogMessageDepth depth, std::string_view category,
         std::string_view message);

template <typename... Args>
void LogFmt(LogMessageType type, LogMessageDepth depth, std::string_view category,
            std::string_view format, const Args&... args) {
  if (ServerLog && ServerLog->ShouldLog(type, depth)) {
    ServerLog->WriteLine(common::Format(format, args...), category, type, depth);
  }
}

// The line the thread-loop boundaries write for a caught exception:
// "<operation> Exception: <message>" as (lmtError, lmdAll).
void LogException(std::string_view category, std::string_view operation, std::string_view message);

}  // namespace voxhall::log
