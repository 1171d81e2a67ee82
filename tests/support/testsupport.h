// Registry scratch keys, raw value access, files, processes and program starts for tests.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;
inline Bytes B(const char *s, size_t n) { return Bytes(s, s + n); }  // B("a\0b\0", 4)

struct RawValue {
  bool exists = false;
  DWORD type = 0;
  Bytes data;
};

// Stores exactly `data` as `type`: the byte after the buffer is never zero, so
// the registry does not add a NUL to string data that lacks one.
LONG SetRaw(HKEY root, const std::string &path, const std::string &value, DWORD type,
            const Bytes &data);
LONG SetDword(HKEY root, const std::string &path, const std::string &value, DWORD v);
LONG SetString(HKEY root, const std::string &path, const std::string &value, const std::string &s);
RawValue ReadRaw(HKEY root, const std::string &path, const std::string &value);
LONG DeleteValue(HKEY root, const std::string &path, const std::string &value);
bool KeyExists(HKEY root, const std::string &path);
// A REG_DWORD value of exactly four bytes, or `fallback`.
DWORD ReadDword(HKEY root, const std::string &path, const std::string &name, DWORD fallback);

// The device-layer stand-ins' emulation settings below HKLM, and their call counters (0 when
// a function has not been counted).
extern const char kCdioEmulation[];  // "SOFTWARE\Quintessa\QuinCDIO\Emulation"
extern const char kVcdEmulation[];   // "SOFTWARE\Quintessa\QuinVCD\Emulation"
DWORD CdioCalls(const char *function);
DWORD VcdCalls(const char *function);
// The names of a key's subkeys in the registry's order; none when it cannot be opened.
std::vector<std::string> Subkeys(HKEY root, const std::string &path);
// Deletes a key with all its subkeys; true when it is gone.
bool DeleteTree(HKEY root, const std::string &path);
// Entries of a multi-string up to its first empty string.
std::vector<std::string> Entries(const Bytes &multiSz);
// "a\0b\0\0" from {"a","b"}.
Bytes MultiSz(const std::vector<std::string> &entries);

// A fresh key below HKLM "SOFTWARE\QuinTests" that is deleted again at the end of its scope.
class ScratchKey {
 public:
  ScratchKey();
  ~ScratchKey();
  ScratchKey(const ScratchKey &) = delete;
  ScratchKey &operator=(const ScratchKey &) = delete;
  const std::string &path() const { return path_; }  // relative to HKLM
 private:
  std::string path_;
};

// A key with everything below it, walked depth first in the registry's order: the paths of
// the key ("") and its subkeys, and every value, named "sub\path|value".
struct KeyTree {
  std::vector<std::string> keys;
  std::vector<std::pair<std::string, RawValue>> values;
};
// Empty when the key cannot be opened.
KeyTree ReadKeyTree(HKEY root, const std::string &path);

// Saves a whole HKLM or HKCU key (values and subkeys) and puts it back as it
// was when the scope ends; the key is deleted then if it did not exist.
class SavedKey {
 public:
  SavedKey(HKEY root, const std::string &path);
  ~SavedKey();
  SavedKey(const SavedKey &) = delete;
  SavedKey &operator=(const SavedKey &) = delete;
 private:
  HKEY root_;
  std::string path_;
  bool existed_;
  KeyTree saved_;
};

// Makes Wine present Windows `version` ("win98", "win2k", ...) to every program of the file
// name `exe` started while this lives, through HKCU "Software\Wine\AppDefaults\<exe>" value
// "Version"; the key is put back as it was at the end of the scope.
class WineVersion {
 public:
  WineVersion(const std::string &exe, const std::string &version);
  WineVersion(const WineVersion &) = delete;
  WineVersion &operator=(const WineVersion &) = delete;
  bool ok() const { return ok_; }  // the value was written
 private:
  SavedKey saved_;
  bool ok_;
};

// A file's version resource: the fixed part, the translations it lists and
// the strings of its first translation.
struct VersionInfo {
  bool ok = false;
  VS_FIXEDFILEINFO fixed{};
  std::vector<std::pair<WORD, WORD>> translations;   // (language, code page)
  std::vector<std::pair<std::string, std::string>> strings;  // of the first translation
  // The string `name`, or "<missing>".
  std::string String(const std::string &name) const;
};
VersionInfo ReadVersionInfo(const std::string &file);

// A resource of a loaded module (the test executable: GetModuleHandleA(nullptr)) as bytes;
// empty when it is missing.  `lang` 0xFFFF: whichever language FindResourceA finds.
Bytes ModuleResource(HMODULE module, LPCSTR type, LPCSTR name, WORD lang = 0xFFFF);

// One control of a dialog template.
struct DialogControl {
  int id = 0;               // -1 for IDC_STATIC in both template forms
  std::string cls;          // "BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"
                            // for the predefined classes, else the name or "#n"
  std::string text;         // the text, or "#n" for an ordinal (an icon's resource id)
  DWORD style = 0, exStyle = 0, helpId = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD extraBytes = 0;      // creation data that follows the control
};

// A dialog template, DIALOG or DIALOGEX, read field by field.
struct DialogTemplateInfo {
  bool ok = false;          // false when the bytes end inside a field or a count is wrong
  bool extended = false;    // DIALOGEX
  DWORD style = 0, exStyle = 0, helpId = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string menu, cls, caption;  // "" when absent, "#n" for an ordinal
  bool hasFont = false;     // DS_SETFONT or DS_SHELLFONT
  WORD pointSize = 0, weight = 0;  // weight, italic and charset only in DIALOGEX
  BYTE italic = 0, charset = 0;
  std::string face;
  std::vector<DialogControl> controls;
};
DialogTemplateInfo ReadDialogTemplate(const Bytes &t);

// Path of a file in the deployable folder (build/dist) seen from a test executable.
std::string DistPath(const std::string &file);
// The running executable's full path, and its folder with the backslash at its end.
std::string SelfPath();
std::string SelfFolder();
// Path of a file below the build folder (the one holding dist): BuildPath("packages\\x.zip").
std::string BuildPath(const std::string &file);

// Files and folders.
bool FileExists(const std::string &path);  // a file or a folder
// Copies a folder with everything in it; `to` is made when missing.
void CopyTree(const std::string &from, const std::string &to);
// Deletes a folder with everything in it; true when it is gone.
bool RemoveTree(const std::string &path);
// The files below `dir` as paths relative to it ("Texts\\a.lng"), sorted case-blind; folders
// are not named, only the files in them.
std::vector<std::string> ListFiles(const std::string &dir);

// Full paths of the modules (program and DLLs) loaded in process `pid`; empty when unreadable.
std::vector<std::string> ProcessModules(DWORD pid);

// A whole command line, program name included, exactly as the starter writes it.
struct CommandLine {
  std::string text;
};
// A fresh folder beside the test executable (path ends in a backslash), deleted with all it
// holds at the end of its scope.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string &name = "scratch");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  const std::string &path() const { return path_; }
  // Makes a folder below this one (and those between); returns its path with a backslash.
  std::string Make(const std::string &relative) const;
 private:
  std::string path_;
};
// The whole file, or an empty vector when it cannot be read.
Bytes ReadBytes(const std::string &file);
bool WriteBytes(const std::string &file, const Bytes &data);

// A started program; the process is killed if it is still running at the end of the scope.
class Program {
 public:
  // Started with the quoted `exe` and then `args` as its command line.
  Program(const std::string &exe, const std::string &args, const std::string &dir = "");
  // Started from `exe` with `line` as its command line, unquoted names and all.
  Program(const std::string &exe, const CommandLine &line, const std::string &dir = "");
  ~Program();
  Program(const Program &) = delete;
  Program &operator=(const Program &) = delete;
  bool started() const { return pi_.hProcess != nullptr; }
  DWORD pid() const { return pi_.dwProcessId; }
  HANDLE handle() const { return pi_.hProcess; }
  // The exit code, or STILL_ACTIVE after `timeoutMs`.
  DWORD Wait(DWORD timeoutMs = 30000);
  bool Running() const;
  // The command line the process holds in its own parameters, in the ANSI code page as its
  // GetCommandLineA gives it; empty while its start-up has not set them, or when unreadable.
  std::string CommandLineSeen() const;
 private:
  void Start(const std::string &exe, const std::string &line, const std::string &dir);
  PROCESS_INFORMATION pi_{};
};

}  // namespace testsupport
