// Language text files made byte by byte for the tray's tests, and a reader of the format that
// tells what a file holds without the tray's code.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "testsupport.h"

namespace lng {

using testsupport::Bytes;

constexpr uint32_t kMagic = 0x4835C9B8;
constexpr int kHeaderBytes = 40;

inline void Put16(Bytes &b, unsigned v) {
  b.push_back((unsigned char)(v & 0xFF));
  b.push_back((unsigned char)((v >> 8) & 0xFF));
}
inline void Put32(Bytes &b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// The 40-byte header: magic, version, 20 bytes, flags, 3 bytes, code page field, 4 bytes.
inline Bytes Header(bool wide, uint32_t field, uint32_t version = 2, uint32_t magic = kMagic) {
  Bytes b;
  Put32(b, magic);
  Put32(b, version);
  b.insert(b.end(), 20, 0);
  b.push_back(wide ? 1 : 0);
  b.insert(b.end(), 3, 0);
  Put32(b, field);
  b.insert(b.end(), 4, 0);
  return b;
}

// A record whose length field is the text's size, or `declared` when given.
inline Bytes &Record(Bytes &file, unsigned number, const Bytes &text, long declared = -1) {
  Put16(file, number);
  Put16(file, declared < 0 ? (unsigned)text.size() : (unsigned)declared);
  file.insert(file.end(), text.begin(), text.end());
  return file;
}

inline Bytes Narrow(const std::string &s) { return Bytes(s.begin(), s.end()); }
inline Bytes Utf16(const std::wstring &s) {
  Bytes b;
  for (wchar_t c : s) Put16(b, (unsigned)c);
  return b;
}

// An 8-bit file of (number, text) records in this order.
inline Bytes NarrowFile(uint32_t field, const std::vector<std::pair<unsigned, std::string>> &texts) {
  Bytes b = Header(false, field);
  for (const auto &t : texts) Record(b, t.first, Narrow(t.second));
  return b;
}
inline Bytes WideFile(uint32_t field, const std::vector<std::pair<unsigned, std::wstring>> &texts) {
  Bytes b = Header(true, field);
  for (const auto &t : texts) Record(b, t.first, Utf16(t.second));
  return b;
}

// A file's header and records as they stand, without interpretation; `complete` is false when
// the file is shorter than its header or ends inside a text.
struct Parsed {
  bool headerOk = false;
  bool wide = false;
  uint32_t field = 0;
  bool complete = false;
  std::vector<std::pair<unsigned, Bytes>> records;
};

inline uint32_t Get32(const Bytes &b, size_t at) {
  return (uint32_t)b[at] | ((uint32_t)b[at + 1] << 8) | ((uint32_t)b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

inline Parsed Parse(const Bytes &b) {
  Parsed p;
  if (b.size() < (size_t)kHeaderBytes || Get32(b, 0) != kMagic || Get32(b, 4) != 2) return p;
  p.headerOk = true;
  p.wide = (b[28] & 1) != 0;
  p.field = Get32(b, 32);
  size_t at = kHeaderBytes;
  while (b.size() - at >= 4) {
    unsigned number = b[at] | (b[at + 1] << 8);
    size_t length = b[at + 2] | (b[at + 3] << 8);
    at += 4;
    if (b.size() - at < length) return p;
    p.records.push_back({number, Bytes(b.begin() + at, b.begin() + at + length)});
    at += length;
  }
  p.complete = true;
  return p;
}

// UTF-16LE bytes as a wide string; an odd last byte is dropped.
inline std::wstring FromUtf16(const Bytes &b) {
  std::wstring s;
  for (size_t i = 0; i + 1 < b.size(); i += 2) s += (wchar_t)(b[i] | (b[i + 1] << 8));
  return s;
}

}  // namespace lng
