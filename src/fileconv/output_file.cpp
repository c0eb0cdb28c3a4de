#include "fileconv/output_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace orv::fileconv {

OutputFile::OutputFile(const std::string& path) : path_(path), out_(&std::cout) {
  if (path_.empty()) return;
  std::vector<char> name(path_.begin(), path_.end());
  const std::string suffix = ".orvloc-XXXXXX";
  name.insert(name.end(), suffix.begin(), suffix.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    throw std::runtime_error("cannot create output beside " + path_ + ": " + std::strerror(errno));
  }
  // mkstemp makes the file private; the finished output gets the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  temp_ = name.data();
  file_.open(temp_, std::ios::binary | std::ios::trunc);
  if (!file_) {
    std::remove(temp_.c_str());
    throw std::runtime_error("cannot write " + temp_);
  }
  out_ = &file_;
}

OutputFile::~OutputFile() {
  if (!temp_.empty() && !committed_) {
    file_.close();
    std::remove(temp_.c_str());
  }
}

void OutputFile::commit() {
  out_->flush();
  if (temp_.empty()) {
    if (!*out_) throw std::runtime_error("writing standard output failed");
    return;
  }
  file_.close();
  if (!file_) throw std::runtime_error("writing " + path_ + " failed");
  if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
    throw std::runtime_error("cannot rename output to " + path_ + ": " + std::strerror(errno));
  }
  committed_ = true;
}

}  // namespace orv::fileconv
