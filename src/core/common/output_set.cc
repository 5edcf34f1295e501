// Temporary files renamed into place together, and removed on failure or on an interrupting signal.
#include "common/output_set.h"

#include <array>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <system_error>

#include "common/fatal.h"
#include "common/file_handle.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace trov {

namespace {

// The names of the temporary files that exist, for the handler of an
// interrupting signal to remove. A signal handler reaches nothing but globals
// and may not allocate or lock, hence a fixed table of atomic pointers; each
// name is owned by its OutputSet entry, which clears the slot before the name
// goes. 2 x 99 histograms and a summary fit. Windows needs none of this: its
// temporary files are deleted by the system unless kept (create_new_file).
constexpr std::size_t kSlots = 256;
std::array<std::atomic<const char*>, kSlots> g_removable_on_signal{};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

std::size_t claim_slot(const char* name) {
  for (std::size_t i = 0; i < kSlots; ++i) {
    const char* empty = nullptr;
    if (g_removable_on_signal[i].compare_exchange_strong(empty, name)) return i;
  }
  return kSlots;  // a full table: the file is still removed on failure, not on a signal
}

void release_slot(std::size_t& slot) {
  if (slot < kSlots) g_removable_on_signal[slot].store(nullptr);
  slot = kSlots;
}

#ifndef _WIN32
extern "C" void remove_temporaries_and_end(int signal_number) {
  for (std::atomic<const char*>& slot : g_removable_on_signal) {
    if (const char* name = slot.load(); name != nullptr) ::unlink(name);
  }
  // Ended by the same signal, as the caller expects (a shell's status 130 for ^C).
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void install_signal_handlers() {
  static const bool installed = [] {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      struct sigaction old {};
      sigaction(signal_number, nullptr, &old);
      if (old.sa_handler == SIG_IGN) continue;  // nohup and background jobs keep ignoring them
      struct sigaction action {};
      action.sa_handler = remove_temporaries_and_end;
      sigemptyset(&action.sa_mask);
      sigaction(signal_number, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);  // past a file size limit, write fails with EFBIG
    return true;
  }();
  (void)installed;
}
#endif

unsigned process_id() {
#ifdef _WIN32
  return static_cast<unsigned>(_getpid());
#else
  return static_cast<unsigned>(getpid());
#endif
}

bool is_read_only(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  return !error && std::filesystem::exists(status) &&
         (status.permissions() & std::filesystem::perms::owner_write) == std::filesystem::perms::none;
}

}  // namespace

OutputSet::OutputSet() {
#ifndef _WIN32
  install_signal_handlers();
#endif
}

OutputSet::~OutputSet() {
  if (committed_) return;
  for (Entry& entry : entries_) {
    if (entry.file) entry.file->discard();
    release_slot(entry.slot);  // before the name goes
    if (!entry.temporary.empty()) remove_file(entry.temporary.c_str());
  }
}

OutputFile& OutputSet::create(const std::string& path) {
  // A final name that cannot be replaced is refused before anything is
  // written: a folder, or a file its owner made read-only (which rename
  // would replace on POSIX, and which Windows refuses to replace).
  std::error_code error;
  if (std::filesystem::is_directory(path, error) || is_read_only(path)) throw Fatal("Error opening " + path);
  // The name is in the signal handler's list before the file exists, so that
  // no moment leaves a file it would not remove.
  Entry& entry = entries_.emplace_back();
  entry.path = path;
  FilePtr file;
  for (unsigned n = 0; !file && n < 100; ++n) {
    release_slot(entry.slot);  // before the name changes
    entry.temporary = path + "." + std::to_string(process_id()) + "-" + std::to_string(n) + ".tmp";
    entry.slot = claim_slot(entry.temporary.c_str());
    file = create_new_file(entry.temporary.c_str());
    if (!file && !std::filesystem::exists(std::filesystem::symlink_status(entry.temporary, error))) break;
  }
  if (!file) {
    release_slot(entry.slot);
    entries_.pop_back();
    throw Fatal("Error opening " + path);
  }
  entry.stream = file.get();
  entry.file.emplace(std::move(file), path);
  return *entry.file;
}

void OutputSet::commit() {
  for (Entry& entry : entries_) {
    if (!keep_new_file(entry.stream)) throw Fatal("Error writing " + entry.path);
    entry.file->close();
  }
  for (Entry& entry : entries_) {
    if (!replace_file(entry.temporary.c_str(), entry.path.c_str())) throw Fatal("Error replacing " + entry.path);
    release_slot(entry.slot);
    entry.temporary.clear();  // nothing left to remove
  }
  committed_ = true;
}

}  // namespace trov
