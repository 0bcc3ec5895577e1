// The registry service: values under a key of one of two roots, the machine's (read
// for the WinUSB driver's instance list) and the user's (the station's settings).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform::registry {

enum class Root { kLocalMachine, kCurrentUser };

inline constexpr const char* WINUSB_ENUM_KEY = "SYSTEM\\ControlSet001\\Services\\WinUsb\\Enum";

class Registry {
 public:
  virtual ~Registry() = default;
  virtual bool KeyExists(Root root, const std::string& key) = 0;
  virtual std::optional<uint32_t> ReadDword(Root root, const std::string& key,
                                            const std::string& name) = 0;
  // A string value whose data (UTF-16 bytes with the terminator) fits in maxBytes;
  // nullopt when it is missing, not a string, or longer.
  virtual std::optional<std::string> ReadString(Root root, const std::string& key,
                                                const std::string& name, size_t maxBytes) = 0;
  // Opens or creates the key; false when it cannot be created.
  virtual bool CreateKey(Root root, const std::string& key) = 0;
  virtual bool WriteDword(Root root, const std::string& key, const std::string& name,
                          uint32_t value) = 0;
  virtual bool WriteBinary(Root root, const std::string& key, const std::string& name,
                           const std::vector<uint8_t>& data) = 0;
  // REG_SZ data given as raw bytes (UTF-16LE with its terminator and any tail).
  virtual bool WriteStringBytes(Root root, const std::string& key, const std::string& name,
                                const std::vector<uint8_t>& data) = 0;

  // The user's writes between the two may be held and stored together when the last
  // EndWrites comes (a store that flushes to disk is then paid once); a held write
  // returns true and is read back only once stored. EndWrites returns false when the
  // held writes could not be stored. Backends that store each write at once keep these.
  virtual void BeginWrites() {}
  virtual bool EndWrites() { return true; }
};

// Holds the user's writes of one scope and stores them when it ends; use EndWrites
// itself where the result matters.
class WriteBatch {
 public:
  explicit WriteBatch(Registry& registry) : registry_(registry) { registry_.BeginWrites(); }
  ~WriteBatch() { (void)registry_.EndWrites(); }  // a destructor has no one to tell
  WriteBatch(const WriteBatch&) = delete;
  WriteBatch& operator=(const WriteBatch&) = delete;

 private:
  Registry& registry_;
};

}  // namespace platform::registry
