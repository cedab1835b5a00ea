#include "rompkg.h"

namespace rompkg {

const char* HelpText() {
    return R"(Usage:
  rompkg make --model advanced|basic --build DIGITS --language CODE --version TEXT [--out DIR]
  rompkg inspect FILE
  rompkg --help

make     Writes a ROM package for one hardware configuration into DIR (default: the
         current folder), named R47_NK_H<DIGITS>.img for the advanced configuration and
         R47_NK_L<DIGITS>.img for the basic one. An existing file of that name is replaced.
           --model     advanced or basic
           --build     the package build: exactly eight decimal digits, e.g. 03280401; the
                       handheld reports the same digits read as hexadecimal (0x03280401)
           --language  GE, EN, SP, FR or IT
           --version   the ROM version text the handheld shows, at most 16 characters
           --out       the folder to write into; it must exist
         Every segment is made to match the service library's checksum table for the
         configuration, and the kernel segment begins with the ROM identity record.

inspect  Descrambles and prints the package header (signature, build, language), the ROM
         identity record at the start of the kernel segment, and each segment's checksum
         beside the table's value for both configurations. The configuration is taken from
         the file name (R47_NK_H*.img or R47_NK_L*.img), else from the identity record.
         Exits with 1 when the header or any segment does not fit the format: a file too
         short, a wrong signature, a build that is not eight digits, an unknown language,
         a missing or mismatched identity record, or a checksum that differs from the
         table for the package's configuration.

Exit status: 0 success, 1 a package that does not fit or cannot be written, 2 bad arguments.
)";
}

}  // namespace rompkg
