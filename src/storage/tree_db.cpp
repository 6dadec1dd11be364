#include "storage/tree_db.h"

#include <new>

#include "common/file_io.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#endif

namespace voxhall::storage {

using common::CreateEmptyFile;
using common::FileExists;
using common::ReadWholeFile;
using common::ReplaceFileContents;

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Keeps Windows from showing critical-error message boxes (a drive without a
// medium, say) while the file is opened; restores the previous mode after.
class ErrorModeGuard {
 public:
#ifdef _WIN32
  ErrorModeGuard() : previous_(SetErrorMode(SEM_FAILCRITICALERRORS)) {}
  ~ErrorModeGuard() { SetErrorMode(previous_); }

 private:
  UINT previous_;
#endif
};

std::int32_t FileSizeField(std::size_t size) {
  return size > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(size);
}

}  // namespace

bool FreeBase::Active() const {
  Guard lock(mu_);
  return active_;
}

void FreeBase::SetActive(bool active) {
  Guard lock(mu_);
  [[maybe_unused]] ErrorModeGuard error_mode;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
  ReportError();
}

void FreeBase::Activate() {
  last_error_ = kFBSuccess;
  if (active_) {
    last_error_ = kFBAlreadyInState;
    return;
  }
  if (file_name_.empty()) {
    last_error_ = kFBNoFileName;
    return;
  }
  const bool exists = FileExists(file_name_);
  if (!exists && open_flag_ == FBOpenFlag::kCreateNotExists && !CreateEmptyFile(file_name_)) {
    last_error_ = kFBCreateFailed;
    return;
  }
  try {
    std::optional<std::string> bytes;
    if (exists) {
      bytes = ReadWholeFile(file_name_);
      if (!bytes) {
        last_error_ = kFBNotADatabase;
        return;
      }
    }
    // An empty file is what a crash between its creation here and the first
    // flush leaves; it is taken as a missing one, not as a damaged database.
    if (!bytes || bytes->empty()) {
      MakeNew();
    } else {
      std::optional<DecodedDatabase> decoded = DecodeDatabase(*bytes);
      if (!decoded) {
        last_error_ = kFBNotADatabase;
        return;
      }
      header_ = decoded->header;
      root_ = std::move(decoded->root);
      current_file_size_ = FileSizeField(bytes->size());
    }
  } catch (const std::bad_alloc&) {
    root_.reset();
    last_error_ = kFBNotADatabase;
    return;
  }
  active_ = true;
}

void FreeBase::Deactivate() {
  last_error_ = kFBSuccess;
  if (!active_) {
    last_error_ = kFBAlreadyInState;
    return;
  }
  if (!Save()) last_error_ = kFBWriteFailed;
  root_.reset();
  current_file_size_ = 0;
  active_ = false;
}

void FreeBase::MakeNew() {
  const common::DateTime now = common::Now();
  header_ = HeaderRecord{now, now};
  root_ = std::make_unique<FBRoot>(kDefaultName);
  current_file_size_ = 0;
}

std::string FreeBase::EncodeImage(std::uint64_t& generation) {
  header_.last_write = common::Now();
  if (root_->Name().size() > kMaxDatabaseNameLength) {
    root_->SetName(root_->Name().substr(0, kMaxDatabaseNameLength));
  }
  std::string image = EncodeDatabase(header_, *root_);
  generation = ++image_generation_;
  return image;
}

bool FreeBase::WriteImage(const std::string& file_name, const std::string& image,
                          std::uint64_t generation) {
  std::lock_guard write_lock(write_mu_);
  // Encoded before an image that is on disk already: that one holds these
  // changes too, and it must not be replaced by older data.
  if (generation <= written_generation_) return true;
  if (!ReplaceFileContents(file_name, image)) return false;
  written_generation_ = generation;
  return true;
}

bool FreeBase::Save() {
  if (!active_ || open_flag_ == FBOpenFlag::kReadOnly) return false;
  try {
    std::uint64_t generation = 0;
    const std::string image = EncodeImage(generation);
    if (!WriteImage(file_name_, image, generation)) return false;
    current_file_size_ = FileSizeField(image.size());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void FreeBase::ReportError() {
  if (last_error_ != kFBSuccess && on_error_) {
    std::int32_t code = last_error_;
    on_error_(*this, code);
    last_error_ = code;
  }
}

std::string FreeBase::FileName() const {
  Guard lock(mu_);
  return file_name_;
}

void FreeBase::SetFileName(std::string file_name) {
  Guard lock(mu_);
  if (!active_) file_name_ = std::move(file_name);
}

FBOpenFlag FreeBase::OpenFlag() const {
  Guard lock(mu_);
  return open_flag_;
}

void FreeBase::SetOpenFlag(FBOpenFlag flag) {
  Guard lock(mu_);
  if (!active_) open_flag_ = flag;
}

std::int32_t FreeBase::CurrentFileSize() const {
  Guard lock(mu_);
  return current_file_size_;
}

std::int32_t FreeBase::LastError() const {
  Guard lock(mu_);
  return last_error_;
}

void FreeBase::SetOnError(FBErrorHandler handler) {
  Guard lock(mu_);
  on_error_ = std::move(handler);
}

std::string FreeBase::DatabaseName() const {
  Guard lock(mu_);
  return root_ ? root_->Name() : std::string();
}

void FreeBase::SetDatabaseName(std::string_view name) {
  Guard lock(mu_);
  if (active_) root_->SetName(std::string(name));
}

common::DateTime FreeBase::CreationTime() const {
  Guard lock(mu_);
  return active_ ? header_.created : 0;
}

bool FreeBase::Flush() {
  std::unique_lock lock(mu_);
  std::string image;
  std::string file_name;
  std::uint64_t generation = 0;
  if (!active_) {
    last_error_ = kFBNotActive;
  } else if (open_flag_ == FBOpenFlag::kReadOnly) {
    last_error_ = kFBWriteFailed;
  } else {
    try {
      image = EncodeImage(generation);
      file_name = file_name_;
    } catch (const std::bad_alloc&) {
      last_error_ = kFBWriteFailed;
      generation = 0;
    }
  }
  if (generation != 0) {
    // Only the data lock of this call is released here; a caller that holds
    // Lock() itself keeps the tree locked through the write.
    lock.unlock();
    const bool written = WriteImage(file_name, image, generation);
    lock.lock();
    last_error_ = written ? kFBSuccess : kFBWriteFailed;
    if (written && generation == image_generation_) {
      current_file_size_ = FileSizeField(image.size());
    }
  }
  ReportError();
  return last_error_ == kFBSuccess;
}

FBEntry* FreeBase::GetEntry(std::string_view path, EntryKind kind) {
  Guard lock(mu_);
  if (!active_) return nullptr;
  if (kind == EntryKind::kRoot) return root_.get();
  return FindEntry(path, kind, false);
}

FBEntry* FreeBase::FindEntry(std::string_view path, EntryKind kind, bool create) {
  Guard lock(mu_);
  if (!active_) return nullptr;
  const std::size_t start = path.find_first_not_of('\\');
  if (start == std::string_view::npos || path.back() == '\\') return nullptr;
  path.remove_prefix(start);

  FBContainer* container = root_.get();
  while (true) {
    const std::size_t part = path.find_first_not_of('\\');
    if (part == std::string_view::npos || container == nullptr) return nullptr;
    path.remove_prefix(part);
    const std::size_t separator = path.find('\\');
    if (separator == std::string_view::npos) {
      FBEntry* entry = container->FindChild(path, kind);
      if (entry == nullptr && create) entry = container->AddChild(kind, std::string(path));
      return entry;
    }
    const std::string_view name = path.substr(0, separator);
    FBEntry* node = container->FindChild(name, EntryKind::kNode);
    if (node == nullptr && create) node = container->AddChild(EntryKind::kNode, std::string(name));
    if (node == nullptr) return nullptr;
    container = node->AsContainer();
    path.remove_prefix(separator + 1);
  }
}

bool FreeBase::WriteInteger(std::string_view path, std::int32_t value) {
  Guard lock(mu_);
  auto* entry = EntryCast<FBInteger>(FindEntry(path, EntryKind::kInteger, true));
  if (entry == nullptr) return false;
  entry->SetValue(value);
  return true;
}

bool FreeBase::WriteString(std::string_view path, std::string_view value) {
  Guard lock(mu_);
  auto* entry = EntryCast<FBString>(FindEntry(path, EntryKind::kString, true));
  if (entry == nullptr) return false;
  entry->SetValue(std::string(value));
  return true;
}

bool FreeBase::WriteFloat(std::string_view path, double value) {
  Guard lock(mu_);
  auto* entry = EntryCast<FBFloat>(FindEntry(path, EntryKind::kFloat, true));
  if (entry == nullptr) return false;
  entry->SetValue(value);
  return true;
}

std::int32_t FreeBase::ReadInteger(std::string_view path, std::int32_t fallback) {
  Guard lock(mu_);
  const auto* entry = EntryCast<FBInteger>(FindEntry(path, EntryKind::kInteger, false));
  return entry != nullptr ? entry->Value() : fallback;
}

std::string FreeBase::ReadString(std::string_view path, std::string_view fallback) {
  Guard lock(mu_);
  const auto* entry = EntryCast<FBString>(FindEntry(path, EntryKind::kString, false));
  return entry != nullptr ? entry->Value() : std::string(fallback);
}

double FreeBase::ReadFloat(std::string_view path, double fallback) {
  Guard lock(mu_);
  const auto* entry = EntryCast<FBFloat>(FindEntry(path, EntryKind::kFloat, false));
  return entry != nullptr ? entry->Value() : fallback;
}

void FreeBase::CreateNode(std::string_view path) {
  Guard lock(mu_);
  FindEntry(path, EntryKind::kNode, true);
}

bool FreeBase::DeleteEntry(FBEntry* entry) {
  Guard lock(mu_);
  if (!active_ || entry == nullptr || entry->Parent() == nullptr) return false;
  return entry->Parent()->DestroyChild(entry);
}

}  // namespace voxhall::storage
