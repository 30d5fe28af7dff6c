// Reads a firmware file the way the program will: the UF2 check, the declared program name and
// version, and the SHA-256, all with the system's own code. A product build runs it on the
// firmware it is given, so the constants it builds in are read from that file and not typed in.
//
//   firmware_info FILE
//
// Prints three lines (program name, version, SHA-256) and exits 0; exits 1 with the reason on
// standard error when the file can't be read or fails the UF2 check.
#include <cstdio>
#include <vector>

#include "firmware/sha256.h"
#include "firmware/uf2_check.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: firmware_info FILE\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  bool readError = std::ferror(in) != 0;
  std::fclose(in);
  if (readError) {
    std::fprintf(stderr, "%s: read failed\n", argv[1]);
    return 1;
  }

  tw::FirmwareImage image;
  char message[200] = "";
  if (tw::checkUf2(bytes.data(), bytes.size(), image, message, sizeof message) != 1) {
    std::fprintf(stderr, "%s: %s\n", argv[1], message);
    return 1;
  }
  char digest[65];
  tw::sha256Hex(bytes.data(), bytes.size(), digest);
  std::printf("%s\n%s\n%s\n", image.program, image.version, digest);
  return 0;
}
