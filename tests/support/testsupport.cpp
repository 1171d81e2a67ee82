// Registry, file and process helpers for tests; see testsupport.h.
#include "testsupport.h"
#include <shlwapi.h>
#include <winternl.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>

namespace testsupport {

LONG SetRaw(HKEY root, const std::string &path, const std::string &value, DWORD type,
            const Bytes &data) {
  HKEY key;
  LONG rc = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc) return rc;
  Bytes padded(data);
  padded.push_back(0xbd);
  padded.push_back(0xbd);
  rc = RegSetValueExA(key, value.c_str(), 0, type, padded.data(), (DWORD)data.size());
  RegCloseKey(key);
  return rc;
}

LONG SetDword(HKEY root, const std::string &path, const std::string &value, DWORD v) {
  return SetRaw(root, path, value, REG_DWORD, Bytes((unsigned char *)&v, (unsigned char *)&v + 4));
}

LONG SetString(HKEY root, const std::string &path, const std::string &value, const std::string &s) {
  return SetRaw(root, path, value, REG_SZ, Bytes(s.c_str(), s.c_str() + s.size() + 1));
}

RawValue ReadRaw(HKEY root, const std::string &path, const std::string &value) {
  RawValue r;
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key)) return r;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, value.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    r.data.resize(size + 1);
    if (RegQueryValueExA(key, value.c_str(), nullptr, &type, r.data.data(), &size) == ERROR_SUCCESS) {
      r.exists = true;
      r.type = type;
      r.data.resize(size);
    } else {
      r.data.clear();
    }
  }
  RegCloseKey(key);
  return r;
}

LONG DeleteValue(HKEY root, const std::string &path, const std::string &value) {
  HKEY key;
  LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_SET_VALUE, &key);
  if (rc) return rc;
  rc = RegDeleteValueA(key, value.c_str());
  RegCloseKey(key);
  return rc;
}

std::vector<std::string> Subkeys(HKEY root, const std::string &path) {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key)) return names;
  char name[256];
  for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.push_back(name);
  RegCloseKey(key);
  return names;
}

DWORD ReadDword(HKEY root, const std::string &path, const std::string &name, DWORD fallback) {
  RawValue v = ReadRaw(root, path, name);
  if (!v.exists || v.type != REG_DWORD || v.data.size() != 4) return fallback;
  DWORD d;
  memcpy(&d, v.data.data(), 4);
  return d;
}

const char kCdioEmulation[] = "SOFTWARE\\Quintessa\\QuinCDIO\\Emulation";
const char kVcdEmulation[] = "SOFTWARE\\Quintessa\\QuinVCD\\Emulation";

DWORD CdioCalls(const char *function) {
  return ReadDword(HKEY_LOCAL_MACHINE, std::string(kCdioEmulation) + "\\Calls", function, 0);
}

DWORD VcdCalls(const char *function) {
  return ReadDword(HKEY_LOCAL_MACHINE, std::string(kVcdEmulation) + "\\Calls", function, 0);
}

bool KeyExists(HKEY root, const std::string &path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key)) return false;
  RegCloseKey(key);
  return true;
}

bool DeleteTree(HKEY root, const std::string &path) {
  SHDeleteKeyA(root, path.c_str());
  return !KeyExists(root, path);
}

std::vector<std::string> Entries(const Bytes &m) {
  std::vector<std::string> v;
  size_t i = 0;
  while (i < m.size() && m[i]) {
    std::string s;
    while (i < m.size() && m[i]) s += (char)m[i++];
    v.push_back(s);
    ++i;
  }
  return v;
}

Bytes MultiSz(const std::vector<std::string> &entries) {
  Bytes b;
  for (const std::string &e : entries) {
    b.insert(b.end(), e.begin(), e.end());
    b.push_back(0);
  }
  b.push_back(0);
  return b;
}

ScratchKey::ScratchKey() {
  static unsigned counter;
  char name[128];
  std::snprintf(name, sizeof name, "SOFTWARE\\QuinTests\\k%lu_%u_%lu", GetCurrentProcessId(), ++counter,
                GetTickCount());
  path_ = name;
  DeleteTree(HKEY_LOCAL_MACHINE, path_);
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

ScratchKey::~ScratchKey() { DeleteTree(HKEY_LOCAL_MACHINE, path_); }

namespace {

void WalkKey(HKEY root, const std::string &base, const std::string &rel, KeyTree &tree) {
  std::string full = rel.empty() ? base : base + "\\" + rel;
  HKEY key;
  if (RegOpenKeyExA(root, full.c_str(), 0, KEY_READ, &key)) return;
  tree.keys.push_back(rel);
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD nameLen = sizeof name, type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, nullptr, &size)) break;
    tree.values.push_back({rel + "|" + name, ReadRaw(root, full, name)});
  }
  std::vector<std::string> subs;
  for (DWORD i = 0;; ++i) {
    char name[256];
    if (RegEnumKeyA(key, i, name, sizeof name)) break;
    subs.push_back(name);
  }
  RegCloseKey(key);
  for (const std::string &s : subs) WalkKey(root, base, rel.empty() ? s : rel + "\\" + s, tree);
}

}  // namespace

KeyTree ReadKeyTree(HKEY root, const std::string &path) {
  KeyTree tree;
  WalkKey(root, path, "", tree);
  return tree;
}

SavedKey::SavedKey(HKEY root, const std::string &path) : root_(root), path_(path) {
  existed_ = KeyExists(root, path);
  if (existed_) saved_ = ReadKeyTree(root, path);
}

SavedKey::~SavedKey() {
  DeleteTree(root_, path_);
  if (!existed_) return;
  for (const std::string &k : saved_.keys) {
    HKEY key;
    std::string full = k.empty() ? path_ : path_ + "\\" + k;
    if (RegCreateKeyExA(root_, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == 0)
      RegCloseKey(key);
  }
  for (const auto &v : saved_.values) {
    size_t bar = v.first.find('|');
    std::string rel = v.first.substr(0, bar), name = v.first.substr(bar + 1);
    SetRaw(root_, rel.empty() ? path_ : path_ + "\\" + rel, name, v.second.type, v.second.data);
  }
}

WineVersion::WineVersion(const std::string &exe, const std::string &version)
    : saved_(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + exe),
      ok_(SetString(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + exe, "Version", version) ==
          ERROR_SUCCESS) {}

std::string VersionInfo::String(const std::string &name) const {
  for (const auto &s : strings)
    if (s.first == name) return s.second;
  return "<missing>";
}

Bytes ModuleResource(HMODULE module, LPCSTR type, LPCSTR name, WORD lang) {
  HRSRC r = lang == 0xFFFF ? FindResourceA(module, name, type) : FindResourceExA(module, type, name, lang);
  if (!r) return Bytes();
  HGLOBAL g = LoadResource(module, r);
  const unsigned char *p = g ? (const unsigned char *)LockResource(g) : nullptr;
  return p ? Bytes(p, p + SizeofResource(module, r)) : Bytes();
}

namespace {

// Reads a template front to back; every read past the end sets `bad` and gives zeros.
struct TemplateReader {
  const Bytes &t;
  size_t at = 0;
  bool bad = false;

  WORD Word() {
    if (at + 2 > t.size()) {
      bad = true;
      at = t.size();
      return 0;
    }
    WORD w = (WORD)(t[at] | t[at + 1] << 8);
    at += 2;
    return w;
  }
  DWORD Dword() {
    WORD lo = Word();
    return MAKELONG(lo, Word());
  }
  BYTE Byte() {
    if (at + 1 > t.size()) {
      bad = true;
      return 0;
    }
    return t[at++];
  }
  void AlignDword() { at = (at + 3) & ~(size_t)3; }
  // A sz_Or_Ord field: "" for 0, "#n" for an ordinal, else the UTF-16 text.
  std::string Field() {
    WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::wstring w;
    for (WORD c = first; c && !bad; c = Word()) w += (wchar_t)c;
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
  }
  std::string ControlClass() {
    std::string c = Field();
    const char *names[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    for (int i = 0; i < 6; ++i)
      if (c == "#" + std::to_string(0x80 + i)) return names[i];
    return c;
  }
};

}  // namespace

DialogTemplateInfo ReadDialogTemplate(const Bytes &t) {
  DialogTemplateInfo d;
  TemplateReader r{t};
  WORD count;
  WORD version = r.Word(), signature = r.Word();
  d.extended = version == 1 && signature == 0xFFFF;
  if (d.extended) {
    d.helpId = r.Dword();
    d.exStyle = r.Dword();
    d.style = r.Dword();
  } else {
    d.style = MAKELONG(version, signature);
    d.exStyle = r.Dword();
  }
  count = r.Word();
  d.x = (short)r.Word();
  d.y = (short)r.Word();
  d.cx = (short)r.Word();
  d.cy = (short)r.Word();
  d.menu = r.Field();
  d.cls = r.Field();
  d.caption = r.Field();
  d.hasFont = (d.style & (DS_SETFONT | DS_SHELLFONT)) != 0;
  if (d.hasFont) {
    d.pointSize = r.Word();
    if (d.extended) {
      d.weight = r.Word();
      d.italic = r.Byte();
      d.charset = r.Byte();
    }
    d.face = r.Field();
  }
  for (WORD i = 0; i < count && !r.bad; ++i) {
    DialogControl c;
    r.AlignDword();
    if (d.extended) {
      c.helpId = r.Dword();
      c.exStyle = r.Dword();
      c.style = r.Dword();
    } else {
      c.style = r.Dword();
      c.exStyle = r.Dword();
    }
    c.x = (short)r.Word();
    c.y = (short)r.Word();
    c.cx = (short)r.Word();
    c.cy = (short)r.Word();
    c.id = d.extended ? (int)r.Dword() : (short)r.Word();
    c.cls = r.ControlClass();
    c.text = r.Field();
    c.extraBytes = r.Word();
    r.at += c.extraBytes;
    if (r.at > t.size()) r.bad = true;
    if (!r.bad) d.controls.push_back(c);
  }
  d.ok = !r.bad && d.controls.size() == count;
  return d;
}

VersionInfo ReadVersionInfo(const std::string &file) {
  VersionInfo v;
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
  if (!size) return v;
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data())) return v;
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", (void **)&fixed, &length) || length < sizeof *fixed) return v;
  v.fixed = *fixed;
  WORD *pairs = nullptr;
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", (void **)&pairs, &length))
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) v.translations.push_back({pairs[i], pairs[i + 1]});
  if (!v.translations.empty()) {
    char base[64];
    std::snprintf(base, sizeof base, "\\StringFileInfo\\%04x%04x\\", v.translations[0].first,
                  v.translations[0].second);
    for (const char *name : {"Comments", "CompanyName", "FileDescription", "FileVersion", "InternalName",
                             "LegalCopyright", "OriginalFilename", "PrivateBuild", "ProductName",
                             "ProductVersion", "SpecialBuild"}) {
      char *value = nullptr;
      if (VerQueryValueA(data.data(), (std::string(base) + name).c_str(), (void **)&value, &length) && value)
        v.strings.push_back({name, value});
    }
  }
  v.ok = true;
  return v;
}

std::string SelfPath() {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  return std::string(self, n);
}

std::string SelfFolder() {
  std::string self = SelfPath();
  return self.substr(0, self.find_last_of('\\') + 1);
}

std::string BuildPath(const std::string &file) {
  std::string dir = SelfFolder();
  dir.pop_back();                                          // ...\build\tests[\sub]
  for (;;) {
    if (GetFileAttributesA((dir + "\\dist").c_str()) != INVALID_FILE_ATTRIBUTES) return dir + "\\" + file;
    size_t slash = dir.find_last_of('\\');
    if (slash == std::string::npos) return file;
    dir = dir.substr(0, slash);
  }
}

ScratchFolder::ScratchFolder(const std::string &name) {
  static unsigned counter;
  char leaf[96];
  std::snprintf(leaf, sizeof leaf, "%s_%lu_%u\\", name.c_str(), GetCurrentProcessId(), ++counter);
  path_ = SelfFolder() + leaf;
  RemoveTree(path_);
  CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

std::string ScratchFolder::Make(const std::string &relative) const {
  std::string full = path_;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('\\', start);
    if (end == std::string::npos) end = relative.size();
    full += relative.substr(start, end - start) + "\\";
    CreateDirectoryA(full.c_str(), nullptr);
    start = end + 1;
  }
  return full;
}

Bytes ReadBytes(const std::string &file) {
  Bytes data;
  HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return data;
  DWORD size = GetFileSize(h, nullptr), got = 0;
  data.resize(size);
  if (size && (!ReadFile(h, data.data(), size, &got, nullptr) || got != size)) data.clear();
  CloseHandle(h);
  return data;
}

bool WriteBytes(const std::string &file, const Bytes &data) {
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = data.empty() || (WriteFile(h, data.data(), (DWORD)data.size(), &put, nullptr) && put == data.size());
  CloseHandle(h);
  return ok;
}

std::string DistPath(const std::string &file) {
  std::string build = BuildPath("");
  return build.empty() ? file : build + "dist\\" + file;
}

bool FileExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Calls `each` with the name and attributes of every entry of `dir` but "." and "..".
template <typename F>
static void ForEachEntry(const std::string &dir, F each) {
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") each(name, found.dwFileAttributes);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}

void CopyTree(const std::string &from, const std::string &to) {
  CreateDirectoryA(to.c_str(), nullptr);
  ForEachEntry(from, [&](const std::string &name, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      CopyTree(from + "\\" + name, to + "\\" + name);
    else
      CopyFileA((from + "\\" + name).c_str(), (to + "\\" + name).c_str(), FALSE);
  });
}

bool RemoveTree(const std::string &path) {
  ForEachEntry(path, [&](const std::string &name, DWORD attributes) {
    std::string full = path + "\\" + name;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(full);
    } else {
      SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(full.c_str());
    }
  });
  RemoveDirectoryA(path.c_str());
  return !FileExists(path);
}

static void ListInto(const std::string &dir, const std::string &prefix, std::vector<std::string> &out) {
  ForEachEntry(dir, [&](const std::string &name, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      ListInto(dir + "\\" + name, prefix + name + "\\", out);
    else
      out.push_back(prefix + name);
  });
}

std::vector<std::string> ListFiles(const std::string &dir) {
  std::vector<std::string> files;
  ListInto(dir, "", files);
  std::sort(files.begin(), files.end(), [](const std::string &a, const std::string &b) {
    return lstrcmpiA(a.c_str(), b.c_str()) < 0;
  });
  return files;
}

std::vector<std::string> ProcessModules(DWORD pid) {
  std::vector<std::string> paths;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return paths;
  HMODULE modules[512];
  DWORD needed = 0;
  if (EnumProcessModules(process, modules, sizeof modules, &needed)) {
    DWORD count = needed / sizeof(HMODULE);
    if (count > 512) count = 512;
    for (DWORD i = 0; i < count; ++i) {
      char path[MAX_PATH];
      DWORD n = GetModuleFileNameExA(process, modules[i], path, sizeof path);
      if (n) paths.emplace_back(path, n);
    }
  }
  CloseHandle(process);
  return paths;
}

Program::Program(const std::string &exe, const std::string &args, const std::string &dir) {
  std::string cmd = "\"" + exe + "\"";
  if (!args.empty()) cmd += " " + args;
  Start(exe, cmd, dir);
}

Program::Program(const std::string &exe, const CommandLine &line, const std::string &dir) {
  Start(exe, line.text, dir);
}

void Program::Start(const std::string &exe, const std::string &cmd, const std::string &dir) {
  std::vector<char> line(cmd.begin(), cmd.end());
  line.push_back(0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      dir.empty() ? nullptr : dir.c_str(), &si, &pi_))
    pi_ = PROCESS_INFORMATION{};
}

Program::~Program() {
  if (!pi_.hProcess) return;
  if (Running()) {
    TerminateProcess(pi_.hProcess, 99);
    WaitForSingleObject(pi_.hProcess, 5000);
  }
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

DWORD Program::Wait(DWORD timeoutMs) {
  if (!pi_.hProcess) return STILL_ACTIVE;
  if (WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(pi_.hProcess, &code);
  return code;
}

bool Program::Running() const {
  return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

// Read from the process's PEB: its process parameters hold the command line as UTF-16, from
// which its GetCommandLineA copy is made in the ANSI code page.
std::string Program::CommandLineSeen() const {
  typedef NTSTATUS(NTAPI * QueryProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  QueryProcess query =
      (QueryProcess)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
  PROCESS_BASIC_INFORMATION basic{};
  if (!pi_.hProcess || !query ||
      query(pi_.hProcess, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
    return std::string();
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS params{};
  if (!basic.PebBaseAddress ||
      !ReadProcessMemory(pi_.hProcess, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
      !peb.ProcessParameters ||
      !ReadProcessMemory(pi_.hProcess, peb.ProcessParameters, &params, sizeof params, nullptr) ||
      !params.CommandLine.Buffer || params.CommandLine.Length == 0)
    return std::string();
  std::wstring wide(params.CommandLine.Length / sizeof(wchar_t), L'\0');
  if (!ReadProcessMemory(pi_.hProcess, params.CommandLine.Buffer, &wide[0], params.CommandLine.Length,
                         nullptr))
    return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
  std::string text(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), (int)wide.size(), &text[0], n, nullptr, nullptr);
  return text;
}

}  // namespace testsupport
