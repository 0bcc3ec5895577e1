// The settings file: its text form, and the write through a new file, a flush and a
// rename over the old one.
#include "platform/registry/posix/file_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/bytes/little_endian.h"
#include "platform/file/state_path.h"
#include "platform/text/utf16.h"

namespace platform::registry {

namespace {

constexpr const char* kHeader =
    "; Ostrevane settings of the current user: one [key] section each, one value a line.\n"
    "; dword:XXXXXXXX         a 4-byte little-endian word, in hex\n"
    "; hex:aa,bb,...          binary data, byte by byte\n"
    "; sz:N:\"text\"            a string of N bytes: the UTF-16 text, its terminator, then zeros\n"
    "; sz:N:\"text\":hex:...    the same with the bytes after the terminator given\n"
    "; sz-hex:aa,bb,...       a string whose bytes hold no terminator\n";

const char kHexDigits[] = "0123456789abcdef";

void PutHexByte(std::string& out, uint8_t b) {
  out.push_back(kHexDigits[b >> 4]);
  out.push_back(kHexDigits[b & 0xF]);
}

std::string HexList(const uint8_t* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    if (i) out.push_back(',');
    PutHexByte(out, data[i]);
  }
  return out;
}

// Printable ASCII stays as it is; everything else is a \uXXXX unit, so the text reads
// plainly for ordinary paths and names and still keeps every unit exactly.
std::string Quote(const std::u16string& units) {
  std::string out = "\"";
  for (char16_t u : units) {
    if (u == u'"' || u == u'\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(u));
    } else if (u >= 0x20 && u < 0x7F) {
      out.push_back(static_cast<char>(u));
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHexDigits[(u >> shift) & 0xF]);
    }
  }
  out.push_back('"');
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A reader over one line; every Take* returns false and leaves the line unusable when
// the text does not have the expected form.
struct Cursor {
  const std::string& s;
  size_t at = 0;

  bool AtEnd() const { return at >= s.size(); }
  bool Take(const char* literal) {
    const std::string l = literal;
    if (s.compare(at, l.size(), l) != 0) return false;
    at += l.size();
    return true;
  }
  bool TakeQuoted(std::u16string* out) {
    if (!Take("\"")) return false;
    out->clear();
    while (at < s.size()) {
      const char c = s[at++];
      if (c == '"') return true;
      if (c != '\\') {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
          return false;
        out->push_back(static_cast<char16_t>(c));
        continue;
      }
      if (at >= s.size()) return false;
      const char e = s[at++];
      if (e == '"' || e == '\\') {
        out->push_back(static_cast<char16_t>(e));
      } else if (e == 'u' && at + 4 <= s.size()) {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
          const int d = HexValue(s[at++]);
          if (d < 0) return false;
          value = value * 16 + static_cast<unsigned>(d);
        }
        out->push_back(static_cast<char16_t>(value));
      } else {
        return false;
      }
    }
    return false;
  }
  bool TakeHexList(std::vector<uint8_t>* out) {
    out->clear();
    if (AtEnd()) return true;
    while (true) {
      if (at + 2 > s.size()) return false;
      const int hi = HexValue(s[at]);
      const int lo = HexValue(s[at + 1]);
      if (hi < 0 || lo < 0) return false;
      out->push_back(static_cast<uint8_t>(hi * 16 + lo));
      at += 2;
      if (AtEnd() || s[at] == ':') return true;
      if (!Take(",")) return false;
    }
  }
  bool TakeNumber(size_t* out) {
    const size_t start = at;
    size_t value = 0;
    while (at < s.size() && s[at] >= '0' && s[at] <= '9' && at - start < 9)
      value = value * 10 + static_cast<size_t>(s[at++] - '0');
    *out = value;
    return at > start;
  }
};

std::string FormatValue(const FileRegistry::Value& v) {
  using Type = FileRegistry::Type;
  if (v.type == Type::kDword && v.data.size() == 4) {
    char word[16];
    std::snprintf(word, sizeof word, "dword:%08x", Le32(v.data.data()));
    return word;
  }
  if (v.type != Type::kString) return "hex:" + HexList(v.data.data(), v.data.size());
  // The text runs to the first zero unit; what follows it is the tail.
  std::u16string text;
  size_t i = 0;
  bool terminated = false;
  for (; i + 1 < v.data.size(); i += 2) {
    const char16_t u = static_cast<char16_t>(Le16(v.data.data() + i));
    if (u == 0) {
      terminated = true;
      break;
    }
    text.push_back(u);
  }
  if (!terminated) return "sz-hex:" + HexList(v.data.data(), v.data.size());
  std::string out = "sz:" + std::to_string(v.data.size()) + ":" + Quote(text);
  const size_t tail = i + 2;
  size_t lastNonZero = tail;
  for (size_t k = tail; k < v.data.size(); ++k)
    if (v.data[k] != 0) lastNonZero = k + 1;
  if (lastNonZero > tail) out += ":hex:" + HexList(v.data.data() + tail, lastNonZero - tail);
  return out;
}

std::optional<FileRegistry::Value> ParseValue(Cursor& c) {
  using Type = FileRegistry::Type;
  FileRegistry::Value v;
  if (c.Take("dword:")) {
    if (c.s.size() - c.at != 8) return std::nullopt;
    uint32_t word = 0;
    for (int i = 0; i < 8; ++i) {
      const int d = HexValue(c.s[c.at++]);
      if (d < 0) return std::nullopt;
      word = word * 16 + static_cast<uint32_t>(d);
    }
    v.type = Type::kDword;
    v.data.resize(4);
    PutLe32(v.data.data(), word);
    return v;
  }
  if (c.Take("hex:")) {
    v.type = Type::kBinary;
    if (!c.TakeHexList(&v.data) || !c.AtEnd()) return std::nullopt;
    return v;
  }
  if (c.Take("sz-hex:")) {
    v.type = Type::kString;
    if (!c.TakeHexList(&v.data) || !c.AtEnd()) return std::nullopt;
    return v;
  }
  if (!c.Take("sz:")) return std::nullopt;
  v.type = Type::kString;
  size_t size = 0;
  std::u16string text;
  if (!c.TakeNumber(&size) || !c.Take(":") || !c.TakeQuoted(&text)) return std::nullopt;
  for (char16_t u : text) {
    if (u == 0) return std::nullopt;
    v.data.push_back(static_cast<uint8_t>(u & 0xFF));
    v.data.push_back(static_cast<uint8_t>(u >> 8));
  }
  v.data.push_back(0);
  v.data.push_back(0);
  std::vector<uint8_t> tail;
  if (c.Take(":hex:") && !c.TakeHexList(&tail)) return std::nullopt;
  if (!c.AtEnd()) return std::nullopt;
  v.data.insert(v.data.end(), tail.begin(), tail.end());
  if (v.data.size() > size) return std::nullopt;
  v.data.resize(size, 0);
  return v;
}

// Writes all of `text` to `fd`; false on any short or failed write.
bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p, private to the user.
bool MakeFolders(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = FolderOf(folder);
  if (parent != folder && !MakeFolders(parent)) return false;
  return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

FileRegistry::FileRegistry(std::string path, Registry* machine)
    : path_(std::move(path)), machine_(machine) {}

std::string FileRegistry::DefaultPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    base = home + "/.config";
  }
  return base + "/ostrevane/settings.txt";
}

std::string FileRegistry::Format(const Keys& keys) {
  std::string out = kHeader;
  for (const auto& [key, values] : keys) {
    out += "\n[" + key + "]\n";
    for (const auto& [name, value] : values)
      out += Quote(Utf8ToUtf16(name)) + "=" + FormatValue(value) + "\n";
  }
  return out;
}

std::optional<FileRegistry::Keys> FileRegistry::Parse(const std::string& text) {
  Keys keys;
  std::map<std::string, Value>* section = nullptr;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3) return std::nullopt;
      section = &keys[line.substr(1, line.size() - 2)];
      continue;
    }
    Cursor c{line};
    std::u16string name;
    if (!section || !c.TakeQuoted(&name) || !c.Take("=")) return std::nullopt;
    std::optional<Value> value = ParseValue(c);
    if (!value) return std::nullopt;
    (*section)[Utf16ToUtf8(name)] = std::move(*value);
  }
  return keys;
}

void FileRegistry::LoadLocked() {
  if (loaded_) return;
  loaded_ = true;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;  // no file yet: no keys
  std::ostringstream text;
  text << in.rdbuf();
  std::optional<Keys> keys = Parse(text.str());
  if (keys)
    keys_ = std::move(*keys);
  else
    unreadable_ = true;
}

bool FileRegistry::StoreLocked(Keys next) {
  if (path_.empty()) return false;
  const std::string folder = FolderOf(path_);
  if (!MakeFolders(folder)) return false;
  if (unreadable_) {
    // Kept for a person to look at; the new file starts from what could be kept.
    if (::rename(path_.c_str(), (path_ + ".unreadable").c_str()) != 0 && errno != ENOENT)
      return false;
    unreadable_ = false;
  }
  const std::string temp = path_ + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, Format(next)) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  keys_ = std::move(next);
  return true;
}

bool FileRegistry::KeyExists(Root root, const std::string& key) {
  if (root == Root::kLocalMachine) return machine_ && machine_->KeyExists(root, key);
  std::lock_guard lock(mutex_);
  LoadLocked();
  return keys_.count(key) != 0;
}

std::optional<FileRegistry::Value> FileRegistry::Get(const std::string& key,
                                                     const std::string& name) {
  std::lock_guard lock(mutex_);
  LoadLocked();
  auto k = keys_.find(key);
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.find(name);
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

std::optional<uint32_t> FileRegistry::ReadDword(Root root, const std::string& key,
                                                const std::string& name) {
  if (root == Root::kLocalMachine)
    return machine_ ? machine_->ReadDword(root, key, name) : std::nullopt;
  auto v = Get(key, name);
  if (!v || v->type != Type::kDword || v->data.size() != 4) return std::nullopt;
  return Le32(v->data.data());
}

std::optional<std::string> FileRegistry::ReadString(Root root, const std::string& key,
                                                    const std::string& name, size_t maxBytes) {
  if (root == Root::kLocalMachine)
    return machine_ ? machine_->ReadString(root, key, name, maxBytes) : std::nullopt;
  auto v = Get(key, name);
  if (!v || v->type != Type::kString || v->data.size() > maxBytes) return std::nullopt;
  std::u16string units;
  for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
    const char16_t u = static_cast<char16_t>(Le16(v->data.data() + i));
    if (u == 0) break;
    units.push_back(u);
  }
  return Utf16ToUtf8(units);
}

bool FileRegistry::ChangeLocked(Keys next) {
  if (batchDepth_ == 0) return StoreLocked(std::move(next));
  held_ = std::move(next);
  return true;
}

bool FileRegistry::CreateKey(Root root, const std::string& key) {
  if (root == Root::kLocalMachine) return machine_ && machine_->CreateKey(root, key);
  std::lock_guard lock(mutex_);
  LoadLocked();
  const Keys& current = held_ ? *held_ : keys_;
  // Opening a key the file already holds changes nothing: a save does not pay a flush for it.
  if (current.count(key) != 0 && !unreadable_) return true;
  Keys next = current;
  next[key];
  return ChangeLocked(std::move(next));
}

bool FileRegistry::Write(const std::string& key, const std::string& name, Value value) {
  std::lock_guard lock(mutex_);
  LoadLocked();
  Keys next = held_ ? *held_ : keys_;
  next[key][name] = std::move(value);
  return ChangeLocked(std::move(next));
}

void FileRegistry::BeginWrites() {
  std::lock_guard lock(mutex_);
  ++batchDepth_;
}

bool FileRegistry::EndWrites() {
  std::lock_guard lock(mutex_);
  if (batchDepth_ == 0 || --batchDepth_ > 0 || !held_) return true;
  Keys next = std::move(*held_);
  held_.reset();
  return StoreLocked(std::move(next));
}

bool FileRegistry::WriteDword(Root root, const std::string& key, const std::string& name,
                              uint32_t value) {
  if (root == Root::kLocalMachine) return machine_ && machine_->WriteDword(root, key, name, value);
  Value v{Type::kDword, std::vector<uint8_t>(4)};
  PutLe32(v.data.data(), value);
  return Write(key, name, std::move(v));
}

bool FileRegistry::WriteBinary(Root root, const std::string& key, const std::string& name,
                               const std::vector<uint8_t>& data) {
  if (root == Root::kLocalMachine) return machine_ && machine_->WriteBinary(root, key, name, data);
  return Write(key, name, Value{Type::kBinary, data});
}

bool FileRegistry::WriteStringBytes(Root root, const std::string& key, const std::string& name,
                                    const std::vector<uint8_t>& data) {
  if (root == Root::kLocalMachine)
    return machine_ && machine_->WriteStringBytes(root, key, name, data);
  return Write(key, name, Value{Type::kString, data});
}

}  // namespace platform::registry
