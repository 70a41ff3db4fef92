#include "platform/Secret.h"

#include <string.h>  // explicit_bzero

namespace remcons {

void WipeString(std::string& text) {
  // The whole buffer: a text that shrank keeps its old characters beyond its size.
  text.resize(text.capacity());
  explicit_bzero(text.data(), text.size());
  text.clear();
}

}  // namespace remcons
