// The description of a Windows machine for qv3sim: what Windows it is, where the updater lies and
// how it is started, the registry, files, running windows, special folders, how the user answers
// dialogs, what the installer does and which calls fail. Read from a JSON file, or the built-in
// default machine; applied to a SimMachine before the run.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_ui_language.h"
#include "regfile.h"

namespace qv3sim {

struct FileSpec {
  std::string path;  // UTF-8
  std::optional<qv::sim::FileVersion> version;
  bool hidden = false, system = false, readonly = false, folder = false;
  std::string content{};  // its bytes (the text as UTF-8)
  bool operator==(const FileSpec& o) const {
    return path == o.path && version == o.version && hidden == o.hidden && system == o.system &&
           readonly == o.readonly && folder == o.folder && content == o.content;
  }
};

// A file the machine's standard user replaces (with a file of this content) or deletes at a
// moment of the run.
struct UserWriteSpec {
  qv::sim::UserMoment moment = qv::sim::UserMoment::BeforeRun;
  std::string path;
  bool remove = false;
  std::string content{};
  bool operator==(const UserWriteSpec& o) const {
    return moment == o.moment && path == o.path && remove == o.remove && content == o.content;
  }
};

struct WindowSpec {
  std::string className;  // UTF-8
  std::string caption;
  bool visible = true;
  std::vector<WindowSpec> children;
  bool operator==(const WindowSpec& o) const {
    return className == o.className && caption == o.caption && visible == o.visible &&
           children == o.children;
  }
};

// What SHGetFolderPathA gives for a folder: its path, or one of the failures.
enum class FolderState { Path, Invalid, Missing, Fail };

struct SpecialFolderSpec {
  int csidl = 0;
  FolderState state = FolderState::Path;
  std::string path;  // UTF-8, for FolderState::Path
  bool operator==(const SpecialFolderSpec& o) const {
    return csidl == o.csidl && state == o.state && path == o.path;
  }
};

enum class InstallerEffect {
  Raise,     // sets the file version of QVApp.exe to `version`
  Leave,     // runs and changes nothing
  Fail,      // cannot be started although its file exists
  Missing,   // its file does not exist, so it cannot be found
};

struct InstallerSpec {
  InstallerEffect effect = InstallerEffect::Leave;
  qv::sim::FileVersion version{};
  std::string path;    // the installer's image; empty: msiexec.exe in the system folder
  std::string target;  // the file it raises; empty: QVApp.exe in the product's AppPath
  // The exit code it ends with: 0, 3010 (restart needed), 1618 (another installation is
  // running), 1603 (failed), ...
  std::uint32_t exitCode = 0;
  bool operator==(const InstallerSpec& o) const {
    // The version matters only to an installer that raises it.
    return effect == o.effect && (effect != InstallerEffect::Raise || version == o.version) &&
           path == o.path && target == o.target && exitCode == o.exitCode;
  }
};

struct FaultSpec {
  std::string function;
  std::uint64_t nth = 1;
  std::int64_t code = 0;
  bool operator==(const FaultSpec& o) const {
    return function == o.function && nth == o.nth && code == o.code;
  }
};

struct MachineDescription {
  std::string description;       // free text, shown in the report
  std::string windowsVersion = "6.1";  // "major.minor" or "fail"
  int windowsBits = 64;
  int updaterBits = 32;
  std::string updaterPath = "C:\\Users\\User\\Downloads\\QV3Update.exe";
  std::string arguments;
  std::string systemFolder = "C:\\Windows\\system32";
  // The system ANSI code page; registry names and texts below are bytes in it.
  unsigned codePage = 1252;
  // The Windows UI language (qv::sim::UiLanguages()): the buttons and names Windows itself
  // supplies; the updater's own texts follow "/en" in the arguments.
  qv::win::LANGID uiLanguage = qv::sim::kUiEnglish;
  RegFile registry;  // as read, sections in file order
  std::vector<FileSpec> files;
  std::vector<WindowSpec> windows;
  std::vector<SpecialFolderSpec> specialFolders;
  std::vector<qv::sim::Answer> answers;
  InstallerSpec installer;
  std::vector<FaultSpec> faults;
  std::vector<std::pair<std::string, std::string>> environment;
  // The Windows folder (GetWindowsDirectoryW); empty: the folder that holds system_folder.
  std::string windowsFolder;
  // The patch package the updater build was made for (a release): its SHA-256 in 64 hexadecimal
  // digits, or any other text as the package's content, whose SHA-256 the build carries; empty:
  // a development build, which applies any package.
  std::string updaterPackage;
  std::vector<UserWriteSpec> userWrites;
  // The files this description was read from, (what it is, path): the description and its
  // registry file. Not part of the machine: two equal machines may come from different files.
  std::vector<std::pair<std::string, std::string>> inputFiles;

  // Machines are equal when they describe the same machine (the registry compared by the
  // contents it gives, not by its sections).
  bool operator==(const MachineDescription& o) const;
  bool operator!=(const MachineDescription& o) const { return !(*this == o); }
};

// A problem in a description file: the file, a 1-based line and column, and what is wrong.
class DescriptionError : public std::runtime_error {
 public:
  DescriptionError(std::string file, int line, int column, std::string message);
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  int column() const { return column_; }
  const std::string& message() const { return message_; }

 private:
  std::string file_;
  int line_;
  int column_;
  std::string message_;
};

// The machine of a description file (UTF-8, with or without a byte-order mark). `fileName`
// names it in messages and anchors relative paths in it ("registry_file"): they are taken from
// the description's own folder. Throws DescriptionError.
MachineDescription ReadDescription(const std::string& jsonText, const std::string& fileName);
MachineDescription ReadDescriptionFile(const std::string& path);

// The built-in machine: Windows 7 64-bit, the 32-bit updater in the Downloads folder, Quorvia 3
// installed and running, the English shortcut present, "/en", the installer raising QVApp.exe
// from 3.10.0.68 to 3.10.0.69, the user confirming.
MachineDescription DefaultMachine();

// The JSON text of a description (the default machine's is examples/default.json's content).
std::string DescriptionToJson(const MachineDescription& machine);

// Names used in description files.
const char* MomentName(qv::sim::UserMoment moment);
std::optional<qv::sim::UserMoment> MomentFromName(const std::string& name);
// The Windows folder of a described machine.
std::string WindowsFolderOf(const MachineDescription& machine);
const char* AnswerName(qv::sim::Answer answer);
std::optional<qv::sim::Answer> AnswerFromName(const std::string& name);
std::string VersionText(const qv::sim::FileVersion& v);
std::optional<qv::sim::FileVersion> ParseVersion(const std::string& text);

// The physical path of the product key in the view a 32-bit process sees.
std::string ProductKeyPath(int windowsBits);

// A machine built from the description, ready for Main; owns its effect callbacks' state.
std::unique_ptr<qv::sim::SimMachine> BuildMachine(const MachineDescription& machine);

}  // namespace qv3sim
