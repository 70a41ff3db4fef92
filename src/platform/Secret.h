// Secrets in memory: passwords, logins and keys are wiped once they have been used, so that they
// do not linger in freed memory or in a core file.
#pragma once

#include <string>

namespace remcons {

// Overwrites the text's characters with zeros (in a way the compiler keeps) and empties it.
void WipeString(std::string& text);

// A text that wipes itself when it goes or is replaced.
class SecretString {
 public:
  SecretString() = default;
  explicit SecretString(std::string text) : text_(std::move(text)) {}
  ~SecretString() { WipeString(text_); }
  SecretString(SecretString&& other) noexcept : text_(std::move(other.text_)) {
    WipeString(other.text_);
  }
  SecretString& operator=(SecretString&& other) noexcept {
    if (this != &other) {
      WipeString(text_);
      text_ = std::move(other.text_);
      WipeString(other.text_);
    }
    return *this;
  }
  SecretString(const SecretString&) = delete;
  SecretString& operator=(const SecretString&) = delete;

  const std::string& text() const { return text_; }
  bool empty() const { return text_.empty(); }

 private:
  std::string text_;
};

}  // namespace remcons
