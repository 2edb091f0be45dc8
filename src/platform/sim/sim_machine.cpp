// The simulated machine's test-facing side and its file system.
#include "platform/sim/sim_machine.h"

#include <algorithm>

#include "platform/sim/sim_areas.h"
#include "platform/sim/sim_ui_language.h"

namespace qv::sim {

// --- paths -------------------------------------------------------------------------------------

namespace {

// Upper case to lower case as Windows' case-insensitive file names treat the scripts the
// simulation meets: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and the fullwidth Latin
// letters.
char16_t FoldChar(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
      (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F) ||
      (c >= 0xFF21 && c <= 0xFF3A))
    return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  // Greek capitals with tonos.
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 0x25);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 0x3F);
  if (c == 0x178) return 0xFF;
  // Latin Extended-A pairs: even upper, odd lower, except the runs that are odd upper.
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return (c & 1) ? c : static_cast<char16_t>(c + 1);
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1) ? static_cast<char16_t>(c + 1) : c;
  return c;
}

bool HasDrive(const std::string& p) {
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

}  // namespace

std::string FoldCase(const std::string& path) {
  Text text = Utf8ToText(path);
  for (char16_t& c : text) c = FoldChar(c);
  return TextToUtf8(text);
}

std::string U8(const win::WCHAR* text) { return text ? TextToUtf8(Text(text)) : std::string(); }

std::string ShowW(const win::WCHAR* text) { return text ? U8(text) : "(null)"; }

win::DWORD CopyOutW(const std::string& text, win::WCHAR* buffer, win::DWORD size) {
  const Text wide = Utf8ToText(text);
  if (!buffer || wide.size() + 1 > size) return static_cast<win::DWORD>(wide.size() + 1);
  std::copy(wide.begin(), wide.end(), buffer);
  buffer[wide.size()] = u'\0';
  return static_cast<win::DWORD>(wide.size());
}

std::string NormalizePath(const std::string& input, const std::string& currentDirectory) {
  std::string p = input;
  std::replace(p.begin(), p.end(), '/', '\\');
  std::string drive;
  std::string rest;
  if (HasDrive(p)) {
    drive = p.substr(0, 2);
    rest = p.substr(2);
    if (rest.empty() || rest[0] != '\\') {
      // "C:name" is relative to the current directory of that drive; the simulation has one
      // current directory, used when it is on that drive.
      const std::string base = NormalizePath(currentDirectory, "C:\\");
      if (FoldCase(base.substr(0, 2)) == FoldCase(drive))
        rest = base.substr(2) + "\\" + rest;
      else
        rest = "\\" + rest;
    }
  } else if (!p.empty() && p[0] == '\\') {
    // Rooted on the current drive.
    drive = currentDirectory.size() >= 2 && HasDrive(currentDirectory) ? currentDirectory.substr(0, 2)
                                                                       : "C:";
    rest = p;
  } else {
    const std::string base = NormalizePath(currentDirectory, "C:\\");
    drive = base.substr(0, 2);
    rest = base.substr(2) + "\\" + p;
  }
  drive[0] = static_cast<char>(drive[0] >= 'a' && drive[0] <= 'z' ? drive[0] - 0x20 : drive[0]);
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i <= rest.size()) {
    std::size_t j = rest.find('\\', i);
    if (j == std::string::npos) j = rest.size();
    std::string part = rest.substr(i, j - i);
    // Windows drops trailing dots and blanks of every name.
    while (!part.empty() && (part.back() == '.' || part.back() == ' ') && part != "." &&
           part != "..")
      part.pop_back();
    if (part.empty() || part == ".") {
    } else if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out = drive + "\\";
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k) out += "\\";
    out += parts[k];
  }
  return out;
}

std::string ParentOf(const std::string& normalized) {
  const std::size_t pos = normalized.rfind('\\');
  if (pos == std::string::npos || normalized.size() <= 3) return "";
  if (pos == 2) return normalized.substr(0, 3);
  return normalized.substr(0, pos);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t pos = path.find_last_of("\\/:");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

// --- version data ------------------------------------------------------------------------------

namespace {

void PutWord(std::vector<std::uint8_t>& b, std::size_t at, win::WORD v) {
  b[at] = static_cast<std::uint8_t>(v & 0xFF);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void AppendWord(std::vector<std::uint8_t>& b, win::WORD v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void AppendDword(std::vector<std::uint8_t>& b, win::DWORD v) {
  AppendWord(b, static_cast<win::WORD>(v & 0xFFFF));
  AppendWord(b, static_cast<win::WORD>(v >> 16));
}

void AppendKey(std::vector<std::uint8_t>& b, const char* key) {
  for (const char* k = key; *k; ++k) AppendWord(b, static_cast<win::WORD>(*k));
  AppendWord(b, 0);
}

void Align4(std::vector<std::uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}

// Appends one block (wLength, wValueLength, wType, key, value, children) and gives its start.
struct BlockWriter {
  std::vector<std::uint8_t>& b;
  std::size_t start;
  BlockWriter(std::vector<std::uint8_t>& bytes, const char* key, win::WORD valueLength,
              win::WORD type)
      : b(bytes), start(bytes.size()) {
    AppendWord(b, 0);
    AppendWord(b, valueLength);
    AppendWord(b, type);
    AppendKey(b, key);
    Align4(b);
  }
  void Finish() {
    PutWord(b, start, static_cast<win::WORD>(b.size() - start));
    Align4(b);
  }
};

void AppendString(std::vector<std::uint8_t>& b, const char* key, const std::string& value) {
  Align4(b);
  BlockWriter w(b, key, static_cast<win::WORD>(value.size() + 1), 1);
  for (char c : value) AppendWord(b, static_cast<win::WORD>(static_cast<unsigned char>(c)));
  AppendWord(b, 0);
  PutWord(b, w.start, static_cast<win::WORD>(b.size() - w.start));
}

}  // namespace

std::vector<std::uint8_t> MakeVersionData(const FileVersion& v) {
  std::vector<std::uint8_t> b;
  BlockWriter root(b, "VS_VERSION_INFO", sizeof(win::VS_FIXEDFILEINFO), 0);
  const win::DWORD ms = (static_cast<win::DWORD>(v.a) << 16) | v.b;
  const win::DWORD ls = (static_cast<win::DWORD>(v.c) << 16) | v.d;
  AppendDword(b, win::VS_FFI_SIGNATURE);
  AppendDword(b, win::VS_FFI_STRUCVERSION);
  AppendDword(b, ms);
  AppendDword(b, ls);
  AppendDword(b, ms);
  AppendDword(b, ls);
  AppendDword(b, 0x3F);  // dwFileFlagsMask: VS_FFI_FILEFLAGSMASK
  AppendDword(b, 0);     // dwFileFlags
  AppendDword(b, 4);     // dwFileOS: VOS__WINDOWS32
  AppendDword(b, 1);     // dwFileType: VFT_APP
  AppendDword(b, 0);     // dwFileSubtype
  AppendDword(b, 0);     // dwFileDateMS
  AppendDword(b, 0);     // dwFileDateLS
  Align4(b);

  const std::string text = std::to_string(v.a) + "." + std::to_string(v.b) + "." +
                           std::to_string(v.c) + "." + std::to_string(v.d);
  {
    BlockWriter sfi(b, "StringFileInfo", 0, 1);
    BlockWriter table(b, "040904B0", 0, 1);
    AppendString(b, "FileVersion", text);
    Align4(b);
    AppendString(b, "ProductVersion", text);
    PutWord(b, table.start, static_cast<win::WORD>(b.size() - table.start));
    PutWord(b, sfi.start, static_cast<win::WORD>(b.size() - sfi.start));
    Align4(b);
  }
  {
    BlockWriter vfi(b, "VarFileInfo", 0, 1);
    BlockWriter tr(b, "Translation", 4, 0);
    AppendWord(b, 0x0409);
    AppendWord(b, 1200);
    tr.Finish();
    vfi.Finish();
  }
  root.Finish();
  return b;
}

// --- the machine -------------------------------------------------------------------------------

SimMachine::SimMachine(MachineConfig config) : config_(std::move(config)) {
  if (config_.systemDirectory.empty()) config_.systemDirectory = "C:\\Windows\\system32";
  if (config_.windowsDirectory.empty())
    config_.windowsDirectory = ParentOf(NormalizePath(config_.systemDirectory, "C:\\"));
  if (config_.currentDirectory.empty()) config_.currentDirectory = ParentOf(NormalizePath(config_.exePath, "C:\\"));
  registry_ = std::make_unique<SimRegistry>(kernel_, config_.windowsBits, config_.processBits);
  areas_ = std::make_unique<SimAreas>(*this);
  areas_->MakeFolders("C:\\");
  // The standard user writes in the updater's (download) folder and may create files and
  // folders in the Windows folder's Temp.
  SetUserMayWrite(ParentOf(NormalizePath(config_.exePath, "C:\\")), true);
  SetUserMayWrite(config_.windowsDirectory + "\\Temp", true);
  if (config_.standardFiles) {
    AddFolder(config_.windowsDirectory);
    AddFolder(config_.windowsDirectory + "\\Temp");
    AddFolder(config_.systemDirectory);
    AddExecutable(config_.systemDirectory + "\\msiexec.exe", FileVersion{5, 0, 7601, 17514});
    // 64-bit Windows keeps its 32-bit system files in SysWOW64, the installer among them.
    if (config_.windowsBits == 64) {
      AddFolder(SysWow64Folder(config_.systemDirectory));
      AddExecutable(SysWow64Folder(config_.systemDirectory) + "\\msiexec.exe",
                    FileVersion{5, 0, 7601, 17514});
    }
    AddExecutable(config_.exePath, FileVersion{3, 10, 0, 68});
    AddFolder(config_.currentDirectory);
    AddFolder(areas_->specialFolders[win::CSIDL_COMMON_PROGRAMS]);
  }
}

SimMachine::~SimMachine() = default;

win::Platform SimMachine::platform() {
  SimAreas& a = *areas_;
  return win::Platform{a.codePage, *registry_, a, a, a, a, a, a, a, a};
}

void SimMachine::AddFile(const std::string& path, SimFile file) {
  const std::string p = areas_->Normalize(path);
  areas_->MakeFolders(ParentOf(p));
  SimAreas::Node& n = areas_->fs[FoldCase(p)];
  n.path = p;
  n.folder = false;
  n.file = std::move(file);
}

void SimMachine::AddFolder(const std::string& path) { areas_->MakeFolders(areas_->Normalize(path)); }

void SimMachine::AddExecutable(const std::string& path, std::optional<FileVersion> version) {
  SimFile f;
  if (version) f.versionData = MakeVersionData(*version);
  AddFile(path, std::move(f));
}

void SimMachine::SetFileVersion(const std::string& path, std::optional<FileVersion> version) {
  SimAreas::Node* n = areas_->Lookup(areas_->Normalize(path));
  if (!n || n->folder) {
    AddExecutable(path, version);
    return;
  }
  n->file.versionData = version ? MakeVersionData(*version) : std::vector<std::uint8_t>{};
}

const SimFile* SimMachine::FindFile(const std::string& path) const {
  const SimAreas::Node* n = areas_->Lookup(areas_->Normalize(path));
  return n && !n->folder ? &n->file : nullptr;
}

std::string SimMachine::ReachedPath(const std::string& path) const {
  return areas_->ProgramPath(path);
}

bool SimMachine::FolderExists(const std::string& path) const {
  return areas_->IsFolder(areas_->Normalize(path));
}

void SimMachine::RemoveFile(const std::string& path) {
  const std::string key = FoldCase(areas_->Normalize(path));
  auto it = areas_->fs.find(key);
  if (it != areas_->fs.end() && !it->second.folder) areas_->fs.erase(it);
}

std::vector<std::string> SimMachine::FilePaths() const {
  std::vector<std::string> out;
  for (const auto& [key, node] : areas_->fs)
    if (!node.folder) out.push_back(node.path);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> SimMachine::OpenFiles() const {
  std::vector<std::string> out;
  for (const auto& [handle, open] : areas_->openFiles) {
    auto it = areas_->fs.find(open.key);
    out.push_back(it == areas_->fs.end() ? open.key : it->second.path);
  }
  return out;
}

std::string SimMachine::FolderSecurity(const std::string& path) const {
  const SimAreas::Node* n = areas_->Lookup(areas_->Normalize(path));
  return n && n->folder ? n->sddl : std::string();
}

void SimMachine::SetUserMayWrite(const std::string& folder, bool allowed) {
  const std::string p = areas_->Normalize(folder);
  // Remembered for a folder that does not exist yet, too: it takes effect when it is made.
  areas_->userRights[FoldCase(p)] = allowed;
  if (SimAreas::Node* n = areas_->Lookup(p); n && n->folder)
    n->userAccess = allowed ? SimAreas::UserAccess::Write : SimAreas::UserAccess::Deny;
}

bool SimMachine::UserMayWrite(const std::string& path) const {
  return areas_->UserMayWrite(areas_->Normalize(path));
}

void SimMachine::AddUserWrite(UserWrite write) {
  if (write.moment == UserMoment::BeforeRun) {
    areas_->ApplyUserWrite(write);
    return;
  }
  userWrites_.push_back(std::move(write));
}

void SimMachine::SetSpecialFolder(int csidl, const std::string& path) {
  areas_->specialFolders[csidl] = areas_->Normalize(path);
  areas_->specialFolderResults.erase(csidl);
}

void SimMachine::SetSpecialFolderResult(int csidl, win::HRESULT hr) {
  areas_->specialFolderResults[csidl] = hr;
}

win::HWND SimMachine::AddWindow(SimWindow window) {
  SimAreas::WindowEntry e;
  e.hwnd = win::MakeHandle<win::HWND>(
      kernel_.OpenHandle(HandleKind::Window, window.className + " \"" + window.caption + "\"",
                         /*closable=*/false));
  e.window = std::move(window);
  areas_->windows.push_back(std::move(e));
  return areas_->windows.back().hwnd;
}

void SimMachine::SetForegroundWindowOf(win::HWND hwnd) { areas_->foreground = hwnd; }

win::HWND SimMachine::ForegroundWindow() const { return areas_->foreground; }

std::size_t SimMachine::AttachedInputCount() const { return areas_->attached.size(); }

const SimWindow* SimMachine::FindSimWindow(win::HWND hwnd) const {
  const SimAreas::WindowEntry* e = areas_->Window(hwnd);
  return e ? &e->window : nullptr;
}

std::size_t SimMachine::OwnWindowCount() const {
  std::size_t n = 0;
  for (const auto& w : areas_->windows)
    if (w.own && w.alive) ++n;
  return n;
}

void SimMachine::QueueAnswer(Answer answer) { areas_->answers.push_back(answer); }

int SimMachine::InitCommonControlsCount() const { return areas_->initCommonControls; }

void SimMachine::OnProcessStart(const std::string& imagePath, ProcessEffect effect) {
  areas_->effects.emplace_back(FoldCase(areas_->ProgramPath(imagePath)), std::move(effect));
}

void SimMachine::SetProcessExit(const std::string& imagePath, win::DWORD exitCode,
                                win::DWORD milliseconds) {
  areas_->exits[FoldCase(areas_->Normalize(imagePath))] = {exitCode, milliseconds};
}

void SimMachine::FailProcessStart(const std::string& imagePath) {
  areas_->failingImages.insert(FoldCase(areas_->ProgramPath(imagePath)));
}

void SimMachine::SetEnvironment(const std::string& name, const std::string& value) {
  registry_->SetEnvironment(name, value);
}

win::DWORD SimMachine::LastError() const { return areas_->lastError; }

win::HINSTANCE SimMachine::ModuleHandle() const { return areas_->module; }

// --- the areas' shared state -------------------------------------------------------------------

SimAreas::SimAreas(SimMachine& machine)
    : m(machine), codePage(machine.config_.codePage), randomState(machine.config_.randomSeed) {
  module = win::MakeHandle<win::HINSTANCE>(
      m.kernel_.OpenHandle(HandleKind::Module, m.config_.exePath, /*closable=*/false));
  cwd = NormalizePath(m.config_.currentDirectory, "C:\\");
  // Before Vista the profile folders carry the names of the installation's language.
  const bool vista = m.config_.major >= 6;
  const ProfileFolderNames& names = ProfileFolders(m.config_.uiLanguage);
  const std::string profiles = std::string("C:\\") + names.documentsAndSettings + "\\";
  const std::string startMenu = std::string(names.startMenu) + "\\" + names.programs;
  specialFolders[win::CSIDL_COMMON_PROGRAMS] =
      vista ? "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
            : profiles + "All Users\\" + startMenu;
  specialFolders[2] =  // CSIDL_PROGRAMS
      vista ? "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
            : profiles + "User\\" + startMenu;
  specialFolders[0x24] = "C:\\Windows";                                                 // CSIDL_WINDOWS
  specialFolders[0x25] = NormalizePath(m.config_.systemDirectory.empty() ? "C:\\Windows\\system32"
                                                                         : m.config_.systemDirectory,
                                       "C:\\");  // CSIDL_SYSTEM
  const std::string programFiles =
      vista ? std::string("C:\\Program Files") : std::string("C:\\") + names.programFiles;
  specialFolders[0x26] = m.config_.processBits == 32 && m.config_.windowsBits == 64
                             ? programFiles + " (x86)"
                             : programFiles;  // CSIDL_PROGRAM_FILES
  specialFolders[0x23] = vista ? "C:\\ProgramData"
                               : profiles + "All Users\\" + names.applicationData;  // CSIDL_COMMON_APPDATA
}

SimAreas::~SimAreas() { ReleaseShellLinks(); }

std::string SysWow64Folder(const std::string& systemDirectory) {
  return ParentOf(NormalizePath(systemDirectory, "C:\\")) + "\\SysWOW64";
}

std::string SimAreas::Redirect(const std::string& normalized) const {
  if (m.config_.windowsBits != 64 || m.config_.processBits != 32) return normalized;
  const std::string system = FoldCase(NormalizePath(m.config_.systemDirectory, "C:\\"));
  const std::string folded = FoldCase(normalized);
  if (folded.compare(0, system.size(), system) != 0 ||
      (folded.size() > system.size() && folded[system.size()] != '\\'))
    return normalized;
  const std::string rest = folded.substr(system.size());  // "" or "\\..."
  // Exempt: the catalogue, log, spool and hosts folders, and from Windows 7 on the driver store.
  std::vector<std::string> exempt = {"\\catroot", "\\catroot2", "\\drivers\\etc", "\\logfiles",
                                     "\\spool"};
  if (m.config_.major > 6 || (m.config_.major == 6 && m.config_.minor >= 1))
    exempt.push_back("\\driverstore");
  for (const std::string& e : exempt)
    if (rest.compare(0, e.size(), e) == 0 && (rest.size() == e.size() || rest[e.size()] == '\\'))
      return normalized;
  return SysWow64Folder(m.config_.systemDirectory) + normalized.substr(system.size());
}

SimAreas::Node* SimAreas::Lookup(const std::string& normalized) {
  auto it = fs.find(FoldCase(normalized));
  return it == fs.end() ? nullptr : &it->second;
}

const SimAreas::Node* SimAreas::Lookup(const std::string& normalized) const {
  auto it = fs.find(FoldCase(normalized));
  return it == fs.end() ? nullptr : &it->second;
}

bool SimAreas::IsFolder(const std::string& normalized) const {
  const Node* n = Lookup(normalized);
  return n && n->folder;
}

bool SimAreas::IsFile(const std::string& normalized) const {
  const Node* n = Lookup(normalized);
  return n && !n->folder;
}

void SimAreas::MakeFolders(const std::string& normalized) {
  if (normalized.empty()) return;
  const std::string parent = ParentOf(normalized);
  if (!parent.empty() && !IsFolder(parent)) MakeFolders(parent);
  Node& n = fs[FoldCase(normalized)];
  if (n.path.empty() || !n.folder) {
    n.path = normalized;
    n.folder = true;
    n.file = SimFile{};
    n.file.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
    if (auto it = userRights.find(FoldCase(normalized)); it != userRights.end())
      n.userAccess = it->second ? UserAccess::Write : UserAccess::Deny;
  }
}

bool SimAreas::UserMayWrite(const std::string& normalized) const {
  // The nearest folder above that says so decides; the machine's root says no.
  for (std::string folder = ParentOf(normalized); !folder.empty(); folder = ParentOf(folder)) {
    const Node* n = Lookup(folder);
    if (n && n->folder && n->userAccess != UserAccess::Inherit)
      return n->userAccess == UserAccess::Write;
  }
  return false;
}

void SimAreas::ApplyUserWrite(const UserWrite& write) {
  std::string path = write.path;
  const std::string token = kNewFolder;
  if (path.compare(0, token.size(), token) == 0) {
    if (lastCreatedFolder.empty()) {
      m.userLog_.push_back("could not write " + path + ": no folder was created");
      return;
    }
    path = lastCreatedFolder + path.substr(token.size());
  }
  const std::string p = Normalize(path);
  const std::string what = write.file ? "replace " : "delete ";
  const Node* existing = Lookup(p);
  if (!write.file && !existing) {
    m.userLog_.push_back("could not delete " + path + ": not found");
    return;
  }
  if (!IsFolder(ParentOf(p))) {
    m.userLog_.push_back("could not " + what + path + ": no such folder");
    return;
  }
  if (!UserMayWrite(p) || (existing && existing->folder)) {
    m.userLog_.push_back("could not " + what + path + ": access denied");
    return;
  }
  if (existing && HeldOpen(p, win::FILE_SHARE_DELETE)) {
    m.userLog_.push_back("could not " + what + path + ": in use");
    return;
  }
  if (write.file) {
    Node& n = fs[FoldCase(p)];
    if (n.path.empty()) n.path = p;
    n.folder = false;
    n.file = *write.file;
    m.userLog_.push_back((existing ? "replaced " : "created ") + path);
  } else {
    fs.erase(FoldCase(p));
    m.userLog_.push_back("deleted " + path);
  }
}

void SimAreas::RunUserWrites(UserMoment moment) {
  std::vector<UserWrite> now;
  auto& pending = m.userWrites_;
  for (auto it = pending.begin(); it != pending.end();) {
    if (it->moment == moment) {
      now.push_back(std::move(*it));
      it = pending.erase(it);
    } else {
      ++it;
    }
  }
  for (const UserWrite& w : now) ApplyUserWrite(w);
}

void SimAreas::Log(std::string entry) { m.fileLog_.push_back(std::move(entry)); }

win::DWORD SimAreas::MissingError(const std::string& normalized) const {
  const std::string parent = ParentOf(normalized);
  return parent.empty() || IsFolder(parent) ? win::ERROR_FILE_NOT_FOUND : win::ERROR_PATH_NOT_FOUND;
}

bool SimAreas::HeldOpen(const std::string& normalized, win::DWORD neededShare) const {
  const std::string key = FoldCase(normalized);
  for (const auto& [handle, open] : openFiles) {
    const bool below = open.key.size() > key.size() && open.key.compare(0, key.size(), key) == 0 &&
                       open.key[key.size()] == '\\';
    if ((open.key == key || below) && !(open.share & neededShare)) return true;
  }
  return false;
}

win::BOOL SimAreas::Fail(win::DWORD error) {
  lastError = error;
  return win::FALSE;
}

// --- IFiles ------------------------------------------------------------------------------------

namespace {
win::DWORD PlannedError(std::int64_t code, win::DWORD usual) {
  return code != 0 ? static_cast<win::DWORD>(code) : usual;
}
}  // namespace

win::DWORD SimAreas::GetFileAttributesW(const win::WCHAR* lpFileName) {
  if (auto f = m.kernel_.Enter("GetFileAttributesW", ShowW(lpFileName))) {
    Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
    return win::INVALID_FILE_ATTRIBUTES;
  }
  if (!lpFileName || !*lpFileName) {
    Fail(lpFileName ? win::ERROR_PATH_NOT_FOUND : win::ERROR_INVALID_PARAMETER);
    return win::INVALID_FILE_ATTRIBUTES;
  }
  const std::string p = ProgramPath(U8(lpFileName));
  const Node* n = Lookup(p);
  if (!n) {
    Fail(MissingError(p));
    return win::INVALID_FILE_ATTRIBUTES;
  }
  if (n->folder) return n->file.attributes | win::FILE_ATTRIBUTE_DIRECTORY;
  const win::DWORD a = n->file.attributes & ~win::FILE_ATTRIBUTE_DIRECTORY;
  return a == 0 ? win::FILE_ATTRIBUTE_NORMAL : a;
}

win::BOOL SimAreas::DeleteFileW(const win::WCHAR* lpFileName) {
  if (auto f = m.kernel_.Enter("DeleteFileW", ShowW(lpFileName)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lpFileName) return Fail(win::ERROR_INVALID_PARAMETER);
  const std::string p = ProgramPath(U8(lpFileName));
  const Node* n = Lookup(p);
  if (!n) {
    return Fail(MissingError(p));
  }
  if (n->folder) return Fail(win::ERROR_ACCESS_DENIED);
  if (n->file.attributes & win::FILE_ATTRIBUTE_READONLY) return Fail(win::ERROR_ACCESS_DENIED);
  if (HeldOpen(p, win::FILE_SHARE_DELETE)) return Fail(win::ERROR_SHARING_VIOLATION);
  fs.erase(FoldCase(p));
  Log("deleted " + U8(lpFileName));
  return win::TRUE;
}

win::BOOL SimAreas::MoveFileExW(const win::WCHAR* lpExistingFileName,
                                const win::WCHAR* lpNewFileName, win::DWORD dwFlags) {
  if (auto f = m.kernel_.Enter("MoveFileExW",
                               ShowW(lpExistingFileName) + " -> " + ShowW(lpNewFileName)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lpExistingFileName) return Fail(win::ERROR_INVALID_PARAMETER);
  if (dwFlags & win::MOVEFILE_DELAY_UNTIL_REBOOT) {
    // Recorded for the next restart, which the simulation never has; only a removal (no new
    // name) is modelled. The file need not exist until then.
    if (lpNewFileName) return Fail(win::ERROR_INVALID_PARAMETER);
    m.pendingRemovals_.push_back(ProgramPath(U8(lpExistingFileName)));
    Log("marked " + U8(lpExistingFileName) + " for removal at the next restart");
    return win::TRUE;
  }
  // A removal without a restart is DeleteFileW's work.
  if (!lpNewFileName) return Fail(win::ERROR_INVALID_PARAMETER);
  const std::string from = ProgramPath(U8(lpExistingFileName));
  const std::string to = ProgramPath(U8(lpNewFileName));
  const Node* src = Lookup(from);
  if (!src) {
    return Fail(MissingError(from));
  }
  const std::string toParent = ParentOf(to);
  if (toParent.empty() || !IsFolder(toParent)) return Fail(win::ERROR_PATH_NOT_FOUND);
  const bool sameName = FoldCase(from) == FoldCase(to);
  // An open file, or a folder with one in it, is renamed only where every handle shares deleting
  // (a folder is refused with ERROR_ACCESS_DENIED).
  if (HeldOpen(from, win::FILE_SHARE_DELETE))
    return Fail(src->folder ? win::ERROR_ACCESS_DENIED : win::ERROR_SHARING_VIOLATION);
  if (const Node* dst = Lookup(to); dst && !sameName) {
    if (HeldOpen(to, win::FILE_SHARE_DELETE)) return Fail(win::ERROR_SHARING_VIOLATION);
    if (!(dwFlags & win::MOVEFILE_REPLACE_EXISTING)) return Fail(win::ERROR_ALREADY_EXISTS);
    // Replacing works over hidden and system files; a read-only file or a folder is refused.
    if (dst->folder || src->folder) return Fail(win::ERROR_ACCESS_DENIED);
    if (dst->file.attributes & win::FILE_ATTRIBUTE_READONLY) return Fail(win::ERROR_ACCESS_DENIED);
  }
  if (src->folder) {
    // A folder into itself cannot be moved.
    const std::string f = FoldCase(from) + "\\";
    if (FoldCase(to).compare(0, f.size(), f) == 0) return Fail(win::ERROR_SHARING_VIOLATION);
    std::vector<std::pair<std::string, Node>> moved;
    for (auto it = fs.begin(); it != fs.end();) {
      const std::string& key = it->first;
      if (key == FoldCase(from) || key.compare(0, f.size(), f) == 0) {
        Node n = it->second;
        n.path = to + n.path.substr(from.size());
        moved.emplace_back(FoldCase(n.path), std::move(n));
        it = fs.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& [key, n] : moved) fs[key] = std::move(n);
  } else {
    Node n = *src;
    fs.erase(FoldCase(from));
    n.path = to;
    fs[FoldCase(to)] = std::move(n);
  }
  Log("moved " + U8(lpExistingFileName) + " -> " + U8(lpNewFileName));
  return win::TRUE;
}

win::DWORD SimAreas::GetFileVersionInfoSizeW(const win::WCHAR* lptstrFilename,
                                             win::DWORD* lpdwHandle) {
  if (lpdwHandle) *lpdwHandle = 0;
  if (auto f = m.kernel_.Enter("GetFileVersionInfoSizeW", ShowW(lptstrFilename))) {
    Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
    return 0;
  }
  if (!lptstrFilename) {
    Fail(win::ERROR_INVALID_PARAMETER);
    return 0;
  }
  const Node* n = Lookup(ProgramPath(U8(lptstrFilename)));
  if (!n) {
    Fail(win::ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (n->folder) {
    Fail(win::ERROR_ACCESS_DENIED);
    return 0;
  }
  if (n->file.versionData.empty()) {
    Fail(win::ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  return static_cast<win::DWORD>(n->file.versionData.size());
}

win::BOOL SimAreas::GetFileVersionInfoW(const win::WCHAR* lptstrFilename,
                                        win::DWORD /*dwHandle*/, win::DWORD dwLen, void* lpData) {
  if (auto f = m.kernel_.Enter("GetFileVersionInfoW", ShowW(lptstrFilename)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lptstrFilename || !lpData) return Fail(win::ERROR_INVALID_PARAMETER);
  const Node* n = Lookup(ProgramPath(U8(lptstrFilename)));
  if (!n) return Fail(win::ERROR_FILE_NOT_FOUND);
  if (n->folder) return Fail(win::ERROR_ACCESS_DENIED);
  if (n->file.versionData.empty()) return Fail(win::ERROR_RESOURCE_TYPE_NOT_FOUND);
  // Like Windows, a buffer smaller than the data receives the data cut to its size.
  const std::size_t len = std::min<std::size_t>(dwLen, n->file.versionData.size());
  std::copy_n(n->file.versionData.begin(), len, static_cast<std::uint8_t*>(lpData));
  versionBuffers[reinterpret_cast<std::uintptr_t>(lpData)] = len;
  return win::TRUE;
}

namespace {

struct Block {
  const std::uint8_t* start;
  std::size_t length;       // wLength, within the limit
  win::WORD valueLength;    // wValueLength
  win::WORD type;           // 0 binary, 1 text
  std::u16string key;
  std::size_t valueOffset;  // from start
  std::size_t valueBytes;   // the value's size in bytes
  std::size_t childrenOffset;
};

win::WORD ReadWord(const std::uint8_t* p) {
  return static_cast<win::WORD>(p[0] | (p[1] << 8));
}

// Reads the block at `p` with `limit` bytes available; false when it is cut off or malformed.
bool ReadBlock(const std::uint8_t* p, std::size_t limit, Block& out) {
  if (limit < 6) return false;
  out.start = p;
  out.length = ReadWord(p);
  out.valueLength = ReadWord(p + 2);
  out.type = ReadWord(p + 4);
  if (out.length < 6 || out.length > limit || out.type > 1) return false;
  std::size_t at = 6;
  out.key.clear();
  for (;;) {
    if (at + 2 > out.length) return false;
    const win::WORD c = ReadWord(p + at);
    at += 2;
    if (c == 0) break;
    out.key.push_back(static_cast<char16_t>(c));
  }
  at = (at + 3) & ~std::size_t{3};
  out.valueOffset = at;
  out.valueBytes = out.type == 1 ? std::size_t{out.valueLength} * 2 : out.valueLength;
  if (out.valueLength != 0 && out.valueOffset + out.valueBytes > out.length) return false;
  out.childrenOffset = (out.valueOffset + out.valueBytes + 3) & ~std::size_t{3};
  return true;
}

char16_t FoldWide(char16_t c) { return c >= u'A' && c <= u'Z' ? c + 0x20 : c; }

bool KeyEquals(const std::u16string& key, const std::u16string& part) {
  if (key.size() != part.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i)
    if (FoldWide(key[i]) != FoldWide(part[i])) return false;
  return true;
}

}  // namespace

win::BOOL SimAreas::VerQueryValueW(const void* pBlock, const win::WCHAR* lpSubBlock,
                                   void** lplpBuffer, win::UINT* puLen) {
  if (auto f = m.kernel_.Enter("VerQueryValueW", ShowW(lpSubBlock)))
    return Fail(PlannedError(*f, kErrorInvalidFunction));
  if (!pBlock || !lpSubBlock || !lplpBuffer) return Fail(win::ERROR_INVALID_PARAMETER);
  const auto* bytes = static_cast<const std::uint8_t*>(pBlock);
  // A buffer filled by GetFileVersionInfoW is checked against the bytes it received; any other
  // block is trusted up to the length it states, as Windows does.
  std::size_t limit = 0;
  if (auto it = versionBuffers.find(reinterpret_cast<std::uintptr_t>(pBlock)); it != versionBuffers.end())
    // A buffer too short for the length word holds no block at all.
    limit = it->second < 2 ? 0 : std::min<std::size_t>(ReadWord(bytes), it->second);
  else
    limit = ReadWord(bytes);
  Block block{};
  if (!ReadBlock(bytes, limit, block) || !KeyEquals(block.key, u"VS_VERSION_INFO"))
    return Fail(kErrorResourceNameNotFound);
  std::u16string path = lpSubBlock;
  std::replace(path.begin(), path.end(), u'/', u'\\');
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == u'\\') ++i;
    if (i >= path.size()) break;
    std::size_t j = path.find(u'\\', i);
    if (j == std::u16string::npos) j = path.size();
    const std::u16string part = path.substr(i, j - i);
    i = j;
    bool found = false;
    std::size_t at = block.childrenOffset;
    while (at + 6 <= block.length) {
      Block child{};
      if (!ReadBlock(block.start + at, block.length - at, child))
        return Fail(kErrorResourceNameNotFound);
      if (KeyEquals(child.key, part)) {
        block = child;
        found = true;
        break;
      }
      at = (at + child.length + 3) & ~std::size_t{3};
    }
    if (!found) return Fail(kErrorResourceNameNotFound);
  }
  // Texts come as they are stored, in UTF-16, with their length in characters.
  *lplpBuffer = const_cast<std::uint8_t*>(block.start + block.valueOffset);
  if (puLen) *puLen = block.valueLength;
  return win::TRUE;
}

// --- folders, copies, attributes ----------------------------------------------------------------

win::BOOL SimAreas::CreateDirectoryW(const win::WCHAR* lpPathName,
                                     const win::SECURITY_ATTRIBUTES* lpSecurityAttributes) {
  if (auto f = m.kernel_.Enter("CreateDirectoryW", ShowW(lpPathName)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lpPathName || !*lpPathName) return Fail(win::ERROR_PATH_NOT_FOUND);
  const std::string p = ProgramPath(U8(lpPathName));
  std::string sddl;
  if (lpSecurityAttributes && lpSecurityAttributes->lpSecurityDescriptor) {
    auto it = securityDescriptors.find(
        reinterpret_cast<std::uintptr_t>(lpSecurityAttributes->lpSecurityDescriptor));
    if (lpSecurityAttributes->nLength < sizeof(win::SECURITY_ATTRIBUTES) ||
        it == securityDescriptors.end())
      return Fail(win::ERROR_INVALID_SECURITY_DESCR);
    sddl = it->second;
  }
  if (Lookup(p)) return Fail(win::ERROR_ALREADY_EXISTS);
  const std::string parent = ParentOf(p);
  if (parent.empty() || !IsFolder(parent)) return Fail(win::ERROR_PATH_NOT_FOUND);
  Node& n = fs[FoldCase(p)];
  n.path = p;
  n.folder = true;
  n.file = SimFile{};
  n.file.attributes = win::FILE_ATTRIBUTE_DIRECTORY;
  n.sddl = sddl;
  // The new folder's DACL decides who may write in it; without one it is as its parent.
  ParsedDacl dacl;
  if (!sddl.empty() && ParseDacl(sddl, dacl) == 0)
    n.userAccess = dacl.userMayWrite ? UserAccess::Write
                   : dacl.protectedDacl ? UserAccess::Deny
                                        : UserAccess::Inherit;
  lastCreatedFolder = p;
  Log("created folder " + U8(lpPathName) + (sddl.empty() ? "" : " " + sddl));
  return win::TRUE;
}

win::BOOL SimAreas::CopyFileW(const win::WCHAR* lpExistingFileName, const win::WCHAR* lpNewFileName,
                              win::BOOL bFailIfExists) {
  if (auto f = m.kernel_.Enter("CopyFileW", ShowW(lpExistingFileName) + " -> " + ShowW(lpNewFileName)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lpExistingFileName || !lpNewFileName) return Fail(win::ERROR_INVALID_PARAMETER);
  const std::string from = ProgramPath(U8(lpExistingFileName));
  const std::string to = ProgramPath(U8(lpNewFileName));
  const Node* src = Lookup(from);
  if (!src) {
    return Fail(MissingError(from));
  }
  if (src->folder) return Fail(win::ERROR_ACCESS_DENIED);
  const std::string toParent = ParentOf(to);
  if (toParent.empty() || !IsFolder(toParent)) return Fail(win::ERROR_PATH_NOT_FOUND);
  if (FoldCase(from) == FoldCase(to)) return Fail(win::ERROR_SHARING_VIOLATION);
  if (const Node* dst = Lookup(to)) {
    if (bFailIfExists) return Fail(win::ERROR_FILE_EXISTS);
    if (HeldOpen(to, win::FILE_SHARE_WRITE)) return Fail(win::ERROR_SHARING_VIOLATION);
    // An existing target is replaced unless it is a folder, read-only or hidden.
    if (dst->folder ||
        (dst->file.attributes & (win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN)))
      return Fail(win::ERROR_ACCESS_DENIED);
  }
  // The content and the attributes go with the copy; the security descriptor does not.
  SimFile copy = src->file;
  Node& n = fs[FoldCase(to)];
  const bool replaced = !n.path.empty();
  if (n.path.empty()) n.path = to;
  n.folder = false;
  n.file = std::move(copy);
  Log((replaced ? "copied over " : "copied ") + U8(lpExistingFileName) + " -> " + U8(lpNewFileName));
  RunUserWrites(UserMoment::AfterCopy);
  return win::TRUE;
}

win::BOOL SimAreas::SetFileAttributesW(const win::WCHAR* lpFileName, win::DWORD dwFileAttributes) {
  if (auto f = m.kernel_.Enter("SetFileAttributesW", ShowW(lpFileName)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lpFileName) return Fail(win::ERROR_INVALID_PARAMETER);
  const std::string p = ProgramPath(U8(lpFileName));
  Node* n = Lookup(p);
  if (!n) {
    return Fail(MissingError(p));
  }
  // FILE_ATTRIBUTE_NORMAL alone clears the others; the folder bit cannot be set or cleared.
  const win::DWORD kept = win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN |
                          win::FILE_ATTRIBUTE_SYSTEM | win::FILE_ATTRIBUTE_ARCHIVE;
  const win::DWORD attributes = dwFileAttributes == win::FILE_ATTRIBUTE_NORMAL ? 0 : dwFileAttributes & kept;
  n->file.attributes = n->folder ? attributes | win::FILE_ATTRIBUTE_DIRECTORY : attributes;
  return win::TRUE;
}

win::BOOL SimAreas::RemoveDirectoryW(const win::WCHAR* lpPathName) {
  if (auto f = m.kernel_.Enter("RemoveDirectoryW", ShowW(lpPathName)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lpPathName) return Fail(win::ERROR_INVALID_PARAMETER);
  const std::string p = ProgramPath(U8(lpPathName));
  const Node* n = Lookup(p);
  if (!n) {
    return Fail(MissingError(p));
  }
  if (!n->folder) return Fail(win::ERROR_DIRECTORY);
  if (ParentOf(p).empty()) return Fail(win::ERROR_ACCESS_DENIED);  // a drive's root
  const std::string prefix = FoldCase(p) + "\\";
  for (const auto& [key, node] : fs)
    if (key.compare(0, prefix.size(), prefix) == 0) return Fail(win::ERROR_DIR_NOT_EMPTY);
  fs.erase(FoldCase(p));
  Log("removed folder " + U8(lpPathName));
  return win::TRUE;
}

// --- opening and reading a file -------------------------------------------------------------------

win::HANDLE SimAreas::CreateFileW(const win::WCHAR* lpFileName, win::DWORD dwDesiredAccess,
                                  win::DWORD dwShareMode,
                                  const win::SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                                  win::DWORD dwCreationDisposition,
                                  win::DWORD /*dwFlagsAndAttributes*/,
                                  win::HANDLE hTemplateFile) {
  auto failed = [&](win::DWORD error) {
    Fail(error);
    return win::INVALID_HANDLE_VALUE;
  };
  if (auto f = m.kernel_.Enter("CreateFileW", ShowW(lpFileName)))
    return failed(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  if (!lpFileName || !IsNull(hTemplateFile)) return failed(win::ERROR_INVALID_PARAMETER);
  if ((dwDesiredAccess & ~(win::GENERIC_READ | win::GENERIC_WRITE)) ||
      dwCreationDisposition < win::CREATE_NEW || dwCreationDisposition > win::OPEN_ALWAYS)
    return failed(win::ERROR_INVALID_PARAMETER);
  const std::string p = ProgramPath(U8(lpFileName));
  Node* n = Lookup(p);
  if (n && n->folder) return failed(win::ERROR_ACCESS_DENIED);
  if (!n && dwCreationDisposition == win::OPEN_EXISTING) return failed(MissingError(p));
  if (n && dwCreationDisposition == win::CREATE_NEW) return failed(win::ERROR_FILE_EXISTS);
  if (!n && !IsFolder(ParentOf(p))) return failed(win::ERROR_PATH_NOT_FOUND);
  // Writing into a read-only file, or replacing a hidden or read-only one, is refused.
  if (n && (dwDesiredAccess & win::GENERIC_WRITE) &&
      ((n->file.attributes & win::FILE_ATTRIBUTE_READONLY) ||
       (dwCreationDisposition == win::CREATE_ALWAYS && (n->file.attributes & win::FILE_ATTRIBUTE_HIDDEN))))
    return failed(win::ERROR_ACCESS_DENIED);
  // Windows' sharing rules: each open's access must be allowed by the other's share mode, both
  // ways.
  const std::string key = FoldCase(p);
  for (const auto& [handle, open] : openFiles) {
    if (open.key != key) continue;
    if (((dwDesiredAccess & win::GENERIC_READ) && !(open.share & win::FILE_SHARE_READ)) ||
        ((dwDesiredAccess & win::GENERIC_WRITE) && !(open.share & win::FILE_SHARE_WRITE)) ||
        ((open.access & win::GENERIC_READ) && !(dwShareMode & win::FILE_SHARE_READ)) ||
        ((open.access & win::GENERIC_WRITE) && !(dwShareMode & win::FILE_SHARE_WRITE)))
      return failed(win::ERROR_SHARING_VIOLATION);
  }
  const bool existed = n != nullptr;
  if (!n || dwCreationDisposition == win::CREATE_ALWAYS) {
    Node& made = fs[key];
    if (made.path.empty()) made.path = p;
    made.folder = false;
    made.file = SimFile{};
    n = &made;
    Log((existed ? "replaced " : "created ") + U8(lpFileName));
  }
  const std::uintptr_t h = m.kernel_.OpenHandle(HandleKind::File, "file " + n->path);
  openFiles[h] = OpenFile{key, dwDesiredAccess, dwShareMode, 0};
  return win::MakeHandle<win::HANDLE>(h);
}

win::BOOL SimAreas::ReadFile(win::HANDLE hFile, void* lpBuffer, win::DWORD nNumberOfBytesToRead,
                             win::DWORD* lpNumberOfBytesRead, void* lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  const std::uintptr_t h = win::HandleValue(hFile);
  if (auto f = m.kernel_.Enter("ReadFile", std::to_string(nNumberOfBytesToRead)))
    return Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
  auto it = openFiles.find(h);
  if (it == openFiles.end() || !m.kernel_.IsOpen(h, HandleKind::File))
    return Fail(win::ERROR_INVALID_HANDLE);
  // A synchronous handle needs the count; overlapped reads are not modelled.
  if (lpOverlapped || !lpNumberOfBytesRead || (!lpBuffer && nNumberOfBytesToRead))
    return Fail(win::ERROR_INVALID_PARAMETER);
  if (!(it->second.access & win::GENERIC_READ)) return Fail(win::ERROR_ACCESS_DENIED);
  const auto node = fs.find(it->second.key);
  if (node == fs.end()) return Fail(win::ERROR_INVALID_HANDLE);
  const std::string& content = node->second.file.content;
  const std::size_t at = std::min(it->second.position, content.size());
  const std::size_t n = std::min<std::size_t>(nNumberOfBytesToRead, content.size() - at);
  std::copy_n(content.data() + at, n, static_cast<char*>(lpBuffer));
  it->second.position = at + n;
  *lpNumberOfBytesRead = static_cast<win::DWORD>(n);
  if (n == 0 && nNumberOfBytesToRead) RunUserWrites(UserMoment::AfterCheck);
  return win::TRUE;
}

win::BOOL SimAreas::WriteFile(win::HANDLE hFile, const void* lpBuffer,
                              win::DWORD nNumberOfBytesToWrite, win::DWORD* lpNumberOfBytesWritten,
                              void* lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  const std::uintptr_t h = win::HandleValue(hFile);
  if (auto f = m.kernel_.Enter("WriteFile", std::to_string(nNumberOfBytesToWrite)))
    return Fail(PlannedError(*f, win::ERROR_DISK_FULL));
  auto it = openFiles.find(h);
  if (it == openFiles.end() || !m.kernel_.IsOpen(h, HandleKind::File))
    return Fail(win::ERROR_INVALID_HANDLE);
  if (lpOverlapped || !lpNumberOfBytesWritten || (!lpBuffer && nNumberOfBytesToWrite))
    return Fail(win::ERROR_INVALID_PARAMETER);
  if (!(it->second.access & win::GENERIC_WRITE)) return Fail(win::ERROR_ACCESS_DENIED);
  const auto node = fs.find(it->second.key);
  if (node == fs.end()) return Fail(win::ERROR_INVALID_HANDLE);
  std::string& content = node->second.file.content;
  const std::size_t at = it->second.position;
  if (content.size() < at) content.resize(at, '\0');
  content.replace(at, std::min<std::size_t>(nNumberOfBytesToWrite, content.size() - at),
                  static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
  it->second.position = at + nNumberOfBytesToWrite;
  *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  return win::TRUE;
}

// --- the Application event log ----------------------------------------------------------------------

win::HANDLE SimAreas::RegisterEventSourceW(const win::WCHAR* lpUNCServerName,
                                           const win::WCHAR* lpSourceName) {
  if (auto f = m.kernel_.Enter("RegisterEventSourceW", ShowW(lpSourceName))) {
    Fail(PlannedError(*f, win::ERROR_ACCESS_DENIED));
    return win::HANDLE{};
  }
  // Another computer's log, or no name: refused.
  if ((lpUNCServerName && *lpUNCServerName) || !lpSourceName || !*lpSourceName) {
    Fail(win::ERROR_INVALID_PARAMETER);
    return win::HANDLE{};
  }
  const std::uintptr_t h = m.kernel_.OpenHandle(HandleKind::EventSource, "event source " + U8(lpSourceName));
  eventSources[h] = U8(lpSourceName);
  return win::MakeHandle<win::HANDLE>(h);
}

win::BOOL SimAreas::ReportEventW(win::HANDLE hEventLog, win::WORD wType, win::WORD wCategory,
                                 win::DWORD dwEventID, void* /*lpUserSid*/, win::WORD wNumStrings,
                                 win::DWORD /*dwDataSize*/, const win::WCHAR** lpStrings,
                                 void* /*lpRawData*/) {
  const std::uintptr_t h = win::HandleValue(hEventLog);
  if (auto f = m.kernel_.Enter("ReportEventW", std::to_string(dwEventID)))
    return Fail(PlannedError(*f, win::ERROR_INVALID_HANDLE));
  auto it = eventSources.find(h);
  if (it == eventSources.end() || !m.kernel_.IsOpen(h, HandleKind::EventSource))
    return Fail(win::ERROR_INVALID_HANDLE);
  if (wNumStrings && !lpStrings) return Fail(win::ERROR_INVALID_PARAMETER);
  EventRecord event{it->second, wType, wCategory, dwEventID, {}};
  for (win::WORD i = 0; i < wNumStrings; ++i) event.strings.push_back(lpStrings[i] ? Text(lpStrings[i]) : Text());
  m.events_.push_back(std::move(event));
  return win::TRUE;
}

win::BOOL SimAreas::DeregisterEventSource(win::HANDLE hEventLog) {
  const std::uintptr_t h = win::HandleValue(hEventLog);
  if (auto f = m.kernel_.Enter("DeregisterEventSource", std::to_string(h)))
    return Fail(PlannedError(*f, win::ERROR_INVALID_HANDLE));
  if (!m.kernel_.Close(h, HandleKind::EventSource)) return Fail(win::ERROR_INVALID_HANDLE);
  eventSources.erase(h);
  return win::TRUE;
}

}  // namespace qv::sim
