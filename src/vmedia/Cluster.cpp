#include "vmedia/Cluster.h"

#include "vmedia/VmText.h"

namespace remcons {

Cluster::Error::Error(int code, int detail, std::string path)
    : std::runtime_error("cluster error"), code_(code), detail_(detail), path_(std::move(path)) {}

std::string Cluster::Error::Message() const {
  switch (code_) {
    case 1:
    case 3:
      return vm::FormatText("Cluster error occurred on %s. [%d%03d]", path_.c_str(), code_,
                            detail_);
    case 2:
      return vm::FormatText("Cluster copy error occurred. [%d%03d]", code_, detail_);
    case 4:
      return vm::FormatText("Cluster faild to read file %s. [%d%03d]", path_.c_str(), code_,
                            detail_);
    default:
      return vm::FormatText("Unknown cluster error(%03d).", code_);
  }
}

}  // namespace remcons
