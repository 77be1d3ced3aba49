// Xvfb's screen as it keeps it in the folder given to -fbdir, for benchmarks that watch what
// reached the X server's frame buffer from another process.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace pyokoran {

// Xvfb's screen as it keeps it in -fbdir: an XWD file, mapped.
class FrameBuffer {
 public:
  // Maps folder/Xvfb_screen0 (an XWD file); false unless it holds 32-bit pixels.
  bool Open(const std::string& folder) {
    const std::string name = folder + "/Xvfb_screen0";
    const int fd = ::open(name.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat st{};
    if (fstat(fd, &st) != 0 || st.st_size < 100) {
      ::close(fd);
      return false;
    }
    size_ = size_t(st.st_size);
    void* map = mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return false;
    base_ = static_cast<const uint8_t*>(map);
    // The header's fields are 32-bit, most significant byte first.
    auto field = [&](int i) {
      const uint8_t* b = base_ + 4 * i;
      return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    };
    const uint32_t header = field(0), bits = field(11), ncolours = field(19);
    width_ = int(field(4));
    height_ = int(field(5));
    line_ = size_t(field(12));
    offset_ = size_t(header) + size_t(ncolours) * 12;
    return bits == 32 && offset_ + line_ * size_t(height_) <= size_;
  }
  ~FrameBuffer() {
    if (base_) munmap(const_cast<uint8_t*>(base_), size_);
  }
  const uint32_t* Row(int y) const { return reinterpret_cast<const uint32_t*>(base_ + offset_ + line_ * size_t(y)); }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  const uint8_t* base_ = nullptr;
  size_t size_ = 0, offset_ = 0, line_ = 0;
  int width_ = 0, height_ = 0;
};

}  // namespace pyokoran
