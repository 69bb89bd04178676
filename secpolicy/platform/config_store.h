// Client of the host's configuration store.
#pragma once

#include <memory>
#include <string>

namespace PalConfigStore {

// Address of one settings object: four path components.
class ConfigStoreObjectId {
 public:
  ConfigStoreObjectId(const std::string& component, const std::string& group,
                      const std::string& owner, const std::string& name);
  const std::string& Component() const { return component_; }
  const std::string& Group() const { return group_; }
  const std::string& Owner() const { return owner_; }
  const std::string& Name() const { return name_; }

 private:
  std::string component_, group_, owner_, name_;
};

enum FLAG : int { FLAG_NONE = 0 };

class StoreObject {
 public:
  virtual ~StoreObject();
  // Sets *value and returns true when the object holds the key; leaves
  // *value alone and returns false otherwise. Throws HostCtlException.
  virtual bool GetValue(const char* key, std::string* value) const = 0;
};

// The desired user configuration of an object; empty when the store holds
// nothing for it. Throws HostCtlException.
std::shared_ptr<StoreObject> GetDesiredUserConfig(const ConfigStoreObjectId& id,
                                                  FLAG flags);

// Marks the object as applied at boot. Throws HostCtlException.
bool SetBootStatus(const ConfigStoreObjectId& id, bool status);

}  // namespace PalConfigStore
