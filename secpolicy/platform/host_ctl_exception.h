// Exception and event types of the host's support library.
#pragma once

#include <exception>
#include <memory>
#include <string>

namespace HostCtl::Lib {

// Structured event message carried by an exception. A reference-counted shared
// handle: copies share one payload, and an empty handle costs one null pointer.
class EvtMessage {
 public:
  EvtMessage() = default;
  explicit EvtMessage(std::string text);

  bool empty() const { return !payload_; }
  const std::string& text() const;  // empty string for an empty handle
  long use_count() const { return payload_.use_count(); }

 private:
  std::shared_ptr<const std::string> payload_;
};

// The failure type of the whole host stack. what() is the message; the event
// stays empty unless a constructor that takes one was used.
class HostCtlException : public std::exception {
 public:
  explicit HostCtlException(const std::string& message);
  explicit HostCtlException(const char* message);
  HostCtlException(const std::string& message, const EvtMessage& event);
  HostCtlException(const HostCtlException&) = default;
  HostCtlException& operator=(const HostCtlException&) = default;
  ~HostCtlException() override;

  const char* what() const noexcept override;
  const EvtMessage& event() const { return event_; }

 private:
  std::string message_;
  EvtMessage event_;
};

}  // namespace HostCtl::Lib
