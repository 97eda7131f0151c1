# The program as Authenticode signing leaves it: a signed copy with its
# signature removed is then this build byte for byte. Removing a signature
# leaves the file padded to a multiple of 8 bytes, with the PE checksum of
# that file. ld already writes a correct checksum; without the COFF symbol
# table that it appends (of no use to Windows) the file ends on a section
# boundary, a multiple of the 512-byte file alignment, and needs no padding.
if(MINGW)
  target_link_options(RepairQEXApps PRIVATE -s)
endif()
