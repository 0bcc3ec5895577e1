// A registry whose two roots live in different stores: the user's keys in one (the
// operator's settings, or a run's memory), the machine's in another (the system's).
#pragma once

#include "platform/registry/registry.h"

namespace platform::registry {

class SplitRegistry final : public Registry {
 public:
  // Both stores must outlive this one.
  SplitRegistry(Registry& user, Registry& machine) : user_(user), machine_(machine) {}

  bool KeyExists(Root root, const std::string& key) override;
  std::optional<uint32_t> ReadDword(Root root, const std::string& key,
                                    const std::string& name) override;
  std::optional<std::string> ReadString(Root root, const std::string& key, const std::string& name,
                                        size_t maxBytes) override;
  bool CreateKey(Root root, const std::string& key) override;
  bool WriteDword(Root root, const std::string& key, const std::string& name,
                  uint32_t value) override;
  bool WriteBinary(Root root, const std::string& key, const std::string& name,
                   const std::vector<uint8_t>& data) override;
  bool WriteStringBytes(Root root, const std::string& key, const std::string& name,
                        const std::vector<uint8_t>& data) override;
  // Batches are of the user's writes: they go to the user's store.
  void BeginWrites() override { user_.BeginWrites(); }
  bool EndWrites() override { return user_.EndWrites(); }

 private:
  Registry& Of(Root root) { return root == Root::kCurrentUser ? user_ : machine_; }

  Registry& user_;
  Registry& machine_;
};

}  // namespace platform::registry
