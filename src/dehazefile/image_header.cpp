// The pixel size a PNG or JPEG file declares, read from its header without decoding, so
// that a picture too large for the memory at hand is refused before the decoder
// allocates it.
#include "dehazefile/image_header.h"

#include <functional>

#include <fcntl.h>
#include <unistd.h>

namespace vantorel {

namespace {

// Reads n bytes at an offset; false when fewer are there.
using ReadAt = std::function<bool(uint64_t offset, unsigned char* out, size_t n)>;

uint32_t BigEndian16(const unsigned char* p) { return (uint32_t{p[0]} << 8) | p[1]; }

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

bool ReadPngSize(const ReadAt& read_at, DeclaredSize& declared) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  unsigned char head[24];
  if (!read_at(0, head, sizeof head)) return false;
  for (int i = 0; i < 8; ++i)
    if (head[i] != kSignature[i]) return false;
  // The first chunk must be IHDR: length 13, then width and height.
  if (BigEndian32(head + 8) != 13 || head[12] != 'I' || head[13] != 'H' || head[14] != 'D' ||
      head[15] != 'R')
    return false;
  declared.cols = BigEndian32(head + 16);
  declared.rows = BigEndian32(head + 20);
  unsigned char bit_depth = 0;
  declared.deep = read_at(24, &bit_depth, 1) && bit_depth == 16;
  return declared.cols > 0 && declared.rows > 0;
}

bool IsStartOfFrame(unsigned char marker) {
  // C0..CF except DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool HasNoLength(unsigned char marker) {
  return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);  // TEM, RSTn, SOI
}

// Walks the marker segments up to the first start-of-frame. Segments are skipped by their
// length, so a large EXIF block costs no reading.
bool ReadJpegSize(const ReadAt& read_at, DeclaredSize& declared) {
  unsigned char soi[2];
  if (!read_at(0, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8) return false;
  uint64_t offset = 2;
  // Every segment moves at least two bytes on; the cap bounds the work on junk.
  for (int segments = 0; segments < 4096; ++segments) {
    unsigned char byte = 0;
    if (!read_at(offset, &byte, 1) || byte != 0xFF) return false;
    // Any number of 0xFF fill bytes may come before the marker code.
    do {
      ++offset;
      if (!read_at(offset, &byte, 1)) return false;
    } while (byte == 0xFF);
    const unsigned char marker = byte;
    ++offset;
    if (HasNoLength(marker)) continue;
    if (marker == 0xD9 || marker == 0xDA) return false;  // EOI or scan data before a frame
    unsigned char length_bytes[2];
    if (!read_at(offset, length_bytes, 2)) return false;
    const uint32_t length = BigEndian16(length_bytes);
    if (length < 2) return false;
    if (IsStartOfFrame(marker)) {
      unsigned char frame[5];  // precision, height, width
      if (length < 7 || !read_at(offset + 2, frame, 5)) return false;
      declared.rows = BigEndian16(frame + 1);
      declared.cols = BigEndian16(frame + 3);
      // A height of 0 is given later by a DNL marker: unknown here.
      return declared.cols > 0 && declared.rows > 0;
    }
    offset += length;
  }
  return false;
}

bool ReadDeclaredSizeWith(const ReadAt& read_at, DeclaredSize& declared) {
  declared = DeclaredSize();
  if (ReadPngSize(read_at, declared)) return true;
  declared = DeclaredSize();
  if (ReadJpegSize(read_at, declared)) return true;
  declared = DeclaredSize();
  return false;
}

}  // namespace

bool ReadDeclaredSize(const unsigned char* bytes, size_t size, DeclaredSize& declared) {
  const ReadAt read_at = [bytes, size](uint64_t offset, unsigned char* out, size_t n) {
    if (offset > size || n > size - offset) return false;
    for (size_t i = 0; i < n; ++i) out[i] = bytes[offset + i];
    return true;
  };
  return ReadDeclaredSizeWith(read_at, declared);
}

bool ReadDeclaredSizeOfFile(const std::string& path, DeclaredSize& declared) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    declared = DeclaredSize();
    return false;
  }
  const ReadAt read_at = [fd](uint64_t offset, unsigned char* out, size_t n) {
    size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd, out + done, n - done, static_cast<off_t>(offset + done));
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  };
  const bool known = ReadDeclaredSizeWith(read_at, declared);
  ::close(fd);
  return known;
}

}  // namespace vantorel
