#include "platform/NamedMutex.h"

#include <map>

namespace remcons {

std::shared_ptr<NamedMutex> OpenNamedMutex(const std::string& name) {
  static std::mutex registryMutex;
  static std::map<std::string, std::weak_ptr<NamedMutex>> registry;
  std::lock_guard lock(registryMutex);
  auto& slot = registry[name];
  auto existing = slot.lock();
  if (existing) return existing;
  auto created = std::make_shared<NamedMutex>();
  slot = created;
  return created;
}

}  // namespace remcons
