// The host's advanced-option service.
#pragma once

#include <cstdint>
#include <string>

namespace HostCtl::Adv {

class AdvancedOption {
 public:
  explicit AdvancedOption(std::string path) : path_(std::move(path)) {}
  virtual ~AdvancedOption();
  const std::string& GetPath() const { return path_; }

 private:
  std::string path_;
};

class AdvancedIntegerOption : public AdvancedOption {
 public:
  AdvancedIntegerOption(std::string path, std::int32_t value)
      : AdvancedOption(std::move(path)), value_(value) {}
  ~AdvancedIntegerOption() override;
  std::int32_t GetCurrentValue() const { return value_; }

 private:
  std::int32_t value_;
};

class AdvancedStringOption : public AdvancedOption {
 public:
  AdvancedStringOption(std::string path, std::string value)
      : AdvancedOption(std::move(path)), value_(std::move(value)) {}
  ~AdvancedStringOption() override;
  const std::string& GetCurrentValue() const { return value_; }

 private:
  std::string value_;
};

}  // namespace HostCtl::Adv

namespace HyxCtl::Adv {

class AdvancedOptionImpl {
 public:
  AdvancedOptionImpl();
  ~AdvancedOptionImpl();
  // Returns an owning pointer to the option, or null when the host has no
  // option of that path. The caller deletes it. Throws HostCtlException.
  HostCtl::Adv::AdvancedOption* FindOption(const std::string& path);
};

}  // namespace HyxCtl::Adv
